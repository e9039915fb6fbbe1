// Copy-data windows: a hidden top-level window (FindWindow does not see
// message-only windows) whose class and title are its name, pumped by a
// thread of its own.
#include <windows.h>

#include <thread>

#include "platform/fault.h"
#include "platform/message_channel.h"
#include "platform/sync.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::W;

struct WindowContext {
  CopyDataHandler handler;
};

LRESULT CALLBACK CopyDataProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) noexcept {
  switch (msg) {
    case WM_COPYDATA: {
      auto* ctx = reinterpret_cast<WindowContext*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
      auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
      if (!ctx || !cds) return 0;
      std::string_view bytes;
      if (cds->cbData && cds->lpData) bytes = {static_cast<const char*>(cds->lpData), cds->cbData};
      LRESULT answer = 0;
      NoThrow("MessageWindow::handler",
              [&] { answer = static_cast<LRESULT>(ctx->handler(static_cast<uint64_t>(cds->dwData), bytes)); });
      return answer;
    }
    case WM_CLOSE:
      ::DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(0);
      return 0;
  }
  return ::DefWindowProcW(hwnd, msg, wp, lp);
}

class Win32MessageWindow final : public MessageWindow {
 public:
  Win32MessageWindow(std::u16string name, CopyDataHandler handler, Result* error)
      : name_(std::move(name)) {
    context_.handler = std::move(handler);
    auto ready = NamedEvent::Create(u"", true, false);
    Result created = kGenFailure;
    thread_ = std::thread([&] {
      created = CreateOnThisThread();
      HWND hwnd = hwnd_;
      ready->Set();
      if (!hwnd) return;
      MSG msg;
      while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
      ::UnregisterClassW(W(name_), ::GetModuleHandleW(nullptr));
    });
    ready->Wait(kInfinite);
    if (error) *error = created;
  }

  ~Win32MessageWindow() override {
    if (hwnd_) ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
    thread_.join();
  }

  bool ok() const { return hwnd_ != nullptr; }

 private:
  Result CreateOnThisThread() {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = CopyDataProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = W(name_);
    if (!::RegisterClassExW(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      return static_cast<Result>(::GetLastError());
    }
    if (::FindWindowW(W(name_), nullptr)) return kAlreadyExists;
    HWND hwnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, W(name_), W(name_), WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    if (!hwnd) return static_cast<Result>(::GetLastError());
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&context_));
    hwnd_ = hwnd;
    return kOk;
  }

  std::u16string name_;
  WindowContext context_;
  HWND hwnd_ = nullptr;
  std::thread thread_;
};

HWND FindByName(std::u16string_view window_name) {
  std::u16string n(window_name);
  HWND hwnd = ::FindWindowW(nullptr, W(n));
  return hwnd ? hwnd : ::FindWindowW(W(n), nullptr);
}

}  // namespace

std::unique_ptr<MessageWindow> MessageWindow::Create(std::u16string_view name, CopyDataHandler handler,
                                                     Result* error) {
  Result r = kGenFailure;
  auto window = std::make_unique<Win32MessageWindow>(std::u16string(name), std::move(handler), &r);
  if (error) *error = r;
  if (!window->ok()) return nullptr;
  return window;
}

Result SendCopyData(std::u16string_view window_name, uint64_t code, std::string_view bytes,
                    uint32_t timeout_ms, intptr_t* reply) {
  HWND hwnd = FindByName(window_name);
  if (!hwnd) return kNoWindow;
  COPYDATASTRUCT cds = {};
  cds.dwData = static_cast<ULONG_PTR>(code);
  cds.cbData = static_cast<DWORD>(bytes.size());
  cds.lpData = bytes.empty() ? nullptr : const_cast<char*>(bytes.data());
  DWORD_PTR result = 0;
  ::SetLastError(0);
  if (!::SendMessageTimeoutW(hwnd, WM_COPYDATA, reinterpret_cast<WPARAM>(::GetForegroundWindow()),
                             reinterpret_cast<LPARAM>(&cds), SMTO_ABORTIFHUNG | SMTO_NORMAL, timeout_ms, &result)) {
    DWORD e = ::GetLastError();
    return (e == ERROR_TIMEOUT || e == 0) ? kTimeout : kNoWindow;
  }
  if (reply) *reply = static_cast<intptr_t>(result);
  return kOk;
}

bool WindowExists(std::u16string_view window_name) { return FindByName(window_name) != nullptr; }

}  // namespace platform
