#include <windows.h>

#include "platform/sync.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::unique_handle;
using win32::W;

class Win32Mutex final : public NamedMutex {
 public:
  explicit Win32Mutex(unique_handle h) : handle_(std::move(h)) {}

 private:
  unique_handle handle_;
};

class Win32Event final : public NamedEvent {
 public:
  explicit Win32Event(unique_handle h) : handle_(std::move(h)) {}
  Result Set() override { return ::SetEvent(handle_.get()) ? kOk : static_cast<Result>(::GetLastError()); }
  Result Reset() override { return ::ResetEvent(handle_.get()) ? kOk : static_cast<Result>(::GetLastError()); }
  WaitResult Wait(uint32_t timeout_ms) override {
    switch (::WaitForSingleObject(handle_.get(), timeout_ms)) {
      case WAIT_OBJECT_0: return WaitResult::Signaled;
      case WAIT_TIMEOUT: return WaitResult::Timeout;
      default: return WaitResult::Failed;
    }
  }

 private:
  unique_handle handle_;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(std::u16string_view name, Result* error) {
  std::u16string n(name);
  unique_handle h(::CreateMutexW(nullptr, FALSE, W(n)));
  Result r = static_cast<Result>(::GetLastError());
  if (!h) {
    if (error) *error = r;
    return nullptr;
  }
  if (error) *error = r == ERROR_ALREADY_EXISTS ? kAlreadyExists : kOk;
  return std::make_unique<Win32Mutex>(std::move(h));
}

bool NamedMutex::Exists(std::u16string_view name) {
  std::u16string n(name);
  unique_handle h(::OpenMutexW(SYNCHRONIZE, FALSE, W(n)));
  return static_cast<bool>(h);
}

std::unique_ptr<NamedEvent> NamedEvent::Create(std::u16string_view name, bool manual_reset,
                                               bool initially_set, Result* error) {
  std::u16string n(name);
  unique_handle h(::CreateEventW(nullptr, manual_reset, initially_set, n.empty() ? nullptr : W(n)));
  Result r = static_cast<Result>(::GetLastError());
  if (!h) {
    if (error) *error = r;
    return nullptr;
  }
  if (error) *error = r == ERROR_ALREADY_EXISTS ? kAlreadyExists : kOk;
  return std::make_unique<Win32Event>(std::move(h));
}

}  // namespace platform
