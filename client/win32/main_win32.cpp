// Nimbra.exe, the stand-in desktop client. Usage and settings files: see
// client_options.h. Exit codes: see nimbra_client.h. Log lines go to stderr
// and to "Nimbra.log" next to the program.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "client_options.h"
#include "cloud_sdk.h"
#include "nimbra_client.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/text.h"
#include "view_windows_win32.h"

namespace {

std::u16string ProgramFolder() {
  std::u16string path = platform::ExecutablePath();
  size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string(u".") : path.substr(0, slash);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::u16string folder = ProgramFolder();
  const std::u16string log_file = platform::JoinPath(folder, u"Nimbra.log");
  auto log = [&](const std::string& line) {
    std::string text = "[Nimbra " + std::to_string(::GetCurrentProcessId()) + "] " + line + "\n";
    std::fputs(text.c_str(), stderr);
    platform::SystemFileSystem().AppendFile(log_file, text);
  };

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.push_back(platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(argv[i])));
  }
  std::string error;
  auto options = nimbra::ParseCommandLine(args, &error);
  if (!options) {
    log(error);
    return nimbra::kExitUsage;
  }
  switch (options->action) {
    case nimbra::ClientAction::SignOut:
      return nimbra::SendToRunningClient(nimbra::kSignOutRequest, log);
    case nimbra::ClientAction::Quit:
      return nimbra::SendToRunningClient(nimbra::kQuitRequest, log);
    case nimbra::ClientAction::SignIn:
      break;
  }
  if (!options->once && platform::WindowExists(nimbra::kClientWindowName)) {
    // Started again (by the extension, by the user): the running client serves.
    log("a client is already running");
    return nimbra::kExitOk;
  }
  nimbra::ApplySettingsFiles(folder, &*options);
  nimbra::NimbraClient client(*options, folder, platform::SystemRegistry(), GetCloudSdk(),
                              nimbra::SendToViewWindows, log);
  if (int r = client.SignIn(); r != nimbra::kExitOk) return r;
  return client.Run();
}
