#pragma once
// Helpers shared by the tests that run under Wine.
#include <windows.h>

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

}  // namespace vd::testing
