#include "message_box.h"

#include <atomic>
#include <string>

#include "platform/fault.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"

namespace vd::ui {
namespace {

class SystemMessageBoxes final : public IMessageBoxes {
 public:
  int Show(HWND owner, std::u16string_view text, std::u16string_view caption, UINT flags) override {
    const std::u16string t(text), c(caption);
    return ::MessageBoxW(owner, reinterpret_cast<const wchar_t*>(t.c_str()), reinterpret_cast<const wchar_t*>(c.c_str()),
                         flags);
  }
};

SystemMessageBoxes g_system;
std::atomic<IMessageBoxes*> g_boxes{&g_system};

}  // namespace

void SetMessageBoxes(IMessageBoxes* boxes) noexcept { g_boxes.store(boxes != nullptr ? boxes : &g_system); }

HWND OwnerFor(HWND window) noexcept {
  if (window == nullptr || !::IsWindow(window)) return nullptr;
  DWORD process = 0;
  ::GetWindowThreadProcessId(window, &process);
  if (process != ::GetCurrentProcessId()) return nullptr;
  HWND top = ::GetAncestor(window, GA_ROOT);
  return top != nullptr ? top : window;
}

int ShowText(HWND window, std::u16string_view text, std::u16string_view caption, UINT flags) noexcept {
  int answer = 0;
  platform::NoThrow("ui::ShowText", [&] {
    HWND owner = OwnerFor(window);
    if (owner == nullptr) {
      VD_LOG_WARN("no window of ours to own the message, not shown: %s", platform::Utf16ToUtf8(text).c_str());
      return;
    }
    answer = g_boxes.load()->Show(owner, text, caption, flags);
  });
  return answer;
}

int ShowMessage(HWND window, int stringId, UINT flags) noexcept {
  int answer = 0;
  platform::NoThrow("ui::ShowMessage", [&] {
    answer = ShowText(window, platform::Utf8ToUtf16(resources::LoadText(stringId)),
                      platform::Utf8ToUtf16(resources::LoadText(resources::IDS_CAPTION)), flags);
  });
  return answer;
}

}  // namespace vd::ui
