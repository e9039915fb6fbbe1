#include <windows.h>

#include "platform/process.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::unique_handle;

// Quoting by the rules CommandLineToArgvW undoes.
void AppendQuoted(std::u16string& cmd, std::u16string_view arg) {
  if (!arg.empty() && arg.find_first_of(u" \t\n\v\"") == std::u16string_view::npos) {
    cmd.append(arg);
    return;
  }
  cmd.push_back(u'"');
  size_t backslashes = 0;
  for (char16_t c : arg) {
    if (c == u'\\') {
      ++backslashes;
      continue;
    }
    if (c == u'"') cmd.append(backslashes * 2 + 1, u'\\');
    else cmd.append(backslashes, u'\\');
    backslashes = 0;
    cmd.push_back(c);
  }
  cmd.append(backslashes * 2, u'\\');
  cmd.push_back(u'"');
}

class Win32Process final : public Process {
 public:
  Win32Process(unique_handle process, DWORD id) : process_(std::move(process)), id_(id) {}

  std::optional<int> Wait(uint32_t timeout_ms) override {
    if (::WaitForSingleObject(process_.get(), timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_.get(), &code)) return std::nullopt;
    return static_cast<int>(code);
  }

  Result Terminate(int exit_code) override {
    return ::TerminateProcess(process_.get(), static_cast<UINT>(exit_code)) ? kOk : static_cast<Result>(::GetLastError());
  }

  uint32_t Id() const override { return id_; }

 private:
  unique_handle process_;
  DWORD id_;
};

}  // namespace

std::unique_ptr<Process> Process::Launch(std::u16string_view program,
                                         const std::vector<std::u16string>& args,
                                         std::u16string_view folder, Result* error) {
  std::u16string exe(program), dir(folder), cmd;
  AppendQuoted(cmd, program);
  for (auto& a : args) {
    cmd.push_back(u' ');
    AppendQuoted(cmd, a);
  }
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(win32::W(exe), reinterpret_cast<wchar_t*>(cmd.data()), nullptr, nullptr, FALSE, 0, nullptr,
                        dir.empty() ? nullptr : win32::W(dir), &si, &pi)) {
    if (error) *error = static_cast<Result>(::GetLastError());
    return nullptr;
  }
  ::CloseHandle(pi.hThread);
  if (error) *error = kOk;
  return std::make_unique<Win32Process>(unique_handle(pi.hProcess), pi.dwProcessId);
}

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace platform
