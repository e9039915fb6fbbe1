// The owner rule of the product's message boxes, with real windows under
// Wine: a window of this process gets a box owned by its top-level window;
// no window, a dead one or another process's window get none.
#include "message_box.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/process.h"
#include "string_table.h"

namespace vd::ui {
namespace {

struct Shown {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT flags;
};

class Recorder final : public IMessageBoxes {
 public:
  Recorder() { SetMessageBoxes(this); }
  ~Recorder() { SetMessageBoxes(nullptr); }
  int Show(HWND owner, std::u16string_view text, std::u16string_view caption, UINT flags) override {
    shown.push_back({owner, std::u16string(text), std::u16string(caption), flags});
    return IDOK;
  }
  std::vector<Shown> shown;
};

// A window of another process: the platform test child's copy-data window.
class OtherProcessWindow {
 public:
  OtherProcessWindow() {
    const std::u16string exe = platform::ExecutablePath();
    const std::u16string folder = exe.substr(0, exe.find_last_of(u"\\/") + 1);
    m_child = platform::Process::Launch(folder + u"platform_child.exe", {u"window", kName});
    const uint64_t deadline = platform::TickCountMs() + 30000;
    while (m_child && m_window == nullptr && platform::TickCountMs() < deadline) {
      m_window = ::FindWindowW(reinterpret_cast<const wchar_t*>(kName), nullptr);
      if (m_window == nullptr) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~OtherProcessWindow() {
    if (m_child) {
      platform::SendCopyData(kName, 0xDEAD, {}, 5000);
      if (!m_child->Wait(10000)) m_child->Terminate(1);
    }
  }
  HWND get() const { return m_window; }

 private:
  static constexpr const char16_t* kName = u"VDMessageBoxOtherProcess";
  std::unique_ptr<platform::Process> m_child;
  HWND m_window = nullptr;
};

TEST(MessageBoxes, ShownOnlyForAWindowOfThisProcessOwnedByItsTopWindow) {
  Recorder recorder;
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  HWND top = ::CreateWindowW(L"STATIC", L"top", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, instance, nullptr);
  ASSERT_NE(top, nullptr);
  HWND child = ::CreateWindowW(L"STATIC", L"", WS_CHILD, 0, 0, 10, 10, top, nullptr, instance, nullptr);
  ASSERT_NE(child, nullptr);
  HWND dead = ::CreateWindowW(L"STATIC", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
  ::DestroyWindow(dead);
  OtherProcessWindow other;
  ASSERT_NE(other.get(), nullptr);

  struct Case {
    const char* name;
    HWND window;
    HWND owner;  // null: nothing shown
  };
  const Case cases[] = {
      {"child of a top-level window", child, top},
      {"top-level window", top, top},
      {"no window", nullptr, nullptr},
      {"destroyed window", dead, nullptr},
      {"window of another process", other.get(), nullptr},
      {"the desktop", ::GetDesktopWindow(), nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder.shown.clear();
    const int answer = ShowMessage(c.window, resources::IDS_NETWORK_UNAVAILABLE);
    if (c.owner == nullptr) {
      EXPECT_EQ(answer, 0);
      EXPECT_TRUE(recorder.shown.empty());
      continue;
    }
    EXPECT_EQ(answer, IDOK);
    ASSERT_EQ(recorder.shown.size(), 1u);
    EXPECT_EQ(recorder.shown[0].owner, c.owner);
    EXPECT_EQ(recorder.shown[0].text, u"网络不可用，请稍后再试！");
    EXPECT_EQ(recorder.shown[0].caption, u"提示");
    EXPECT_EQ(recorder.shown[0].flags, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
  }
  ::DestroyWindow(top);
}

}  // namespace
}  // namespace vd::ui
