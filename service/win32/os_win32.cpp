#include <windows.h>
#include <tlhelp32.h>

#include <memory>
#include <string>

#include "os.h"

namespace vd::service {

uint32_t ProcessId() { return GetCurrentProcessId(); }

uint32_t ThreadId() { return GetCurrentThreadId(); }

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  localtime_s(&out, &t);
  return out;
}

std::string PathForSqlite(const std::string& ansiPath) {
  if (ansiPath.empty()) return ansiPath;
  const int wideLen = MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), static_cast<int>(ansiPath.size()), nullptr, 0);
  if (wideLen <= 0) return ansiPath;
  std::wstring wide(static_cast<size_t>(wideLen), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansiPath.data(), static_cast<int>(ansiPath.size()), wide.data(), wideLen);
  const int utf8Len = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
  if (utf8Len <= 0) return ansiPath;
  std::string utf8(static_cast<size_t>(utf8Len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, utf8.data(), utf8Len, nullptr, nullptr);
  return utf8;
}

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const noexcept { CloseHandle(h); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

std::wstring AnsiToWide(const std::string& ansi) {
  const int len = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  if (len <= 0) return {};
  std::wstring wide(static_cast<size_t>(len), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), len);
  return wide;
}

}  // namespace

int KillProcessesNamed(const std::string& exeName) {
  const std::wstring name = AnsiToWide(exeName);
  if (name.empty()) return 0;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    snapshot.release();
    return 0;
  }
  const DWORD self = GetCurrentProcessId();
  int killed = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || lstrcmpiW(entry.szExeFile, name.c_str()) != 0) continue;
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
    if (process && TerminateProcess(process.get(), 1)) ++killed;
  }
  return killed;
}

}  // namespace vd::service
