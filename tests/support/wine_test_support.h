#pragma once
// Helpers shared by the tests that run under Wine.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace vd::testing {

// The port of the native reference service started by the cloudserver
// fixture, or 0 when the fixture did not run.
inline int CloudserverFixturePort() {
  const char* file = std::getenv("VD_CLOUDSERVER_PORT_FILE");
  if (!file) return 0;
  std::string path = file;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;  // the Unix root as Wine maps it
  std::ifstream in(path);
  int port = 0;
  in >> port;
  return port;
}

// Runs the system's regsvr32 silently on `dll` with `args` before it; its exit code.
inline int Regsvr32(std::vector<std::u16string> args, const std::u16string& dll) {
  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  std::u16string exe = reinterpret_cast<const char16_t*>(system);
  args.insert(args.begin(), u"/s");
  args.push_back(dll);
  auto process = platform::Process::Launch(exe + u"\\regsvr32.exe", args);
  return process ? process->Wait(60000).value_or(-2) : -1;
}

// Waits up to `ms` for every process running `image` (a full path) to end,
// then ends the ones left. Answers how many had to be ended: a process that
// outlives its test holds the test's output open, and the run would wait
// for it instead of reporting.
inline int EndProcessesOf(const std::wstring& image, DWORD ms) {
  std::vector<HANDLE> running;
  HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    HANDLE process = ::OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                   entry.th32ProcessID);
    if (!process) continue;
    wchar_t path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (::QueryFullProcessImageNameW(process, 0, path, &length) && ::lstrcmpiW(path, image.c_str()) == 0) {
      running.push_back(process);
    } else {
      ::CloseHandle(process);
    }
  }
  ::CloseHandle(snapshot);
  const ULONGLONG end = ::GetTickCount64() + ms;
  int ended = 0;
  for (HANDLE process : running) {
    const ULONGLONG now = ::GetTickCount64();
    if (::WaitForSingleObject(process, now < end ? static_cast<DWORD>(end - now) : 0) != WAIT_OBJECT_0) {
      ::TerminateProcess(process, 1);
      ::WaitForSingleObject(process, 5000);
      ++ended;
    }
    ::CloseHandle(process);
  }
  return ended;
}

}  // namespace vd::testing
