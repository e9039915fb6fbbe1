#pragma once
// What the client is told to do: from its command line, then its settings
// file "Nimbra.ini" next to the program, then the SDK's "sdkconfig.ini".
//
//   Nimbra.exe [--host H] [--port N] [--account A] [--password P]
//              [--proxy host:port] [--proxy-user U] [--proxy-password P]
//              [--once]          fail (exit 6) instead of deferring to a running client
//   Nimbra.exe --sign-out        tell the running client to sign out
//   Nimbra.exe --quit            tell the running client to end
//
//   Nimbra.ini
//     [Service]  Host=127.0.0.1  Port=8080
//     [Account]  Account=alice   Password=alice-pass
//     [Proxy]    Host=  Port=  User=  Password=
#include <optional>
#include <string>
#include <vector>

#include "sign_in_values.h"

namespace nimbra {

enum class ClientAction { SignIn, SignOut, Quit };

struct ClientOptions {
  ClientAction action = ClientAction::SignIn;
  std::string host;  // UTF-8
  int port = 0;
  std::string account, password;
  ProxySettings proxy;
  bool once = false;
};

// Command-line arguments after the program name, UTF-8. Nothing (and a
// message in *error) for an unknown flag, a missing value or a bad port.
std::optional<ClientOptions> ParseCommandLine(const std::vector<std::string>& args, std::string* error);

// Fills what the command line left empty from the client's and the SDK's
// settings files in `folder`.
void ApplySettingsFiles(const std::u16string& folder, ClientOptions* options);

}  // namespace nimbra
