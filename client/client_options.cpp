#include "client_options.h"

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace nimbra {
namespace {

std::optional<int> ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  int port = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    port = port * 10 + (c - '0');
  }
  if (port <= 0 || port > 65535) return std::nullopt;
  return port;
}

std::string ReadIni(const std::u16string& file, std::u16string_view section, std::u16string_view key) {
  return platform::Utf16ToUtf8(platform::SystemProfile().GetString(file, section, key, u"", 1024));
}

}  // namespace

std::optional<ClientOptions> ParseCommandLine(const std::vector<std::string>& args, std::string* error) {
  ClientOptions options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    auto value = [&]() -> const std::string* {
      if (i + 1 >= args.size()) return nullptr;
      return &args[++i];
    };
    std::string* target = nullptr;
    if (arg == "--once") {
      options.once = true;
      continue;
    } else if (arg == "--sign-out") {
      options.action = ClientAction::SignOut;
      continue;
    } else if (arg == "--quit") {
      options.action = ClientAction::Quit;
      continue;
    } else if (arg == "--port") {
      const std::string* v = value();
      auto port = v ? ParsePort(*v) : std::nullopt;
      if (!port) {
        *error = "--port needs a number from 1 to 65535";
        return std::nullopt;
      }
      options.port = *port;
      continue;
    } else if (arg == "--proxy") {
      const std::string* v = value();
      size_t colon = v ? v->rfind(':') : std::string::npos;
      if (!v || colon == std::string::npos || colon == 0 || !ParsePort(v->substr(colon + 1))) {
        *error = "--proxy needs host:port";
        return std::nullopt;
      }
      options.proxy.type = "1";
      options.proxy.host = v->substr(0, colon);
      options.proxy.port = v->substr(colon + 1);
      continue;
    } else if (arg == "--host") {
      target = &options.host;
    } else if (arg == "--account") {
      target = &options.account;
    } else if (arg == "--password") {
      target = &options.password;
    } else if (arg == "--proxy-user") {
      target = &options.proxy.user;
    } else if (arg == "--proxy-password") {
      target = &options.proxy.password;
    } else {
      *error = "unknown argument: " + arg;
      return std::nullopt;
    }
    const std::string* v = value();
    if (!v) {
      *error = arg + " needs a value";
      return std::nullopt;
    }
    *target = *v;
  }
  return options;
}

void ApplySettingsFiles(const std::u16string& folder, ClientOptions* o) {
  const std::u16string own = platform::JoinPath(folder, u"Nimbra.ini");
  const std::u16string sdk = platform::JoinPath(folder, u"sdkconfig.ini");
  if (o->host.empty()) o->host = ReadIni(own, u"Service", u"Host");
  if (o->host.empty()) o->host = ReadIni(sdk, u"Service", u"Host");
  if (o->port == 0) {
    auto port = ParsePort(ReadIni(own, u"Service", u"Port"));
    if (!port) port = ParsePort(ReadIni(sdk, u"Service", u"Port"));
    if (port) o->port = *port;
  }
  if (o->account.empty()) o->account = ReadIni(own, u"Account", u"Account");
  if (o->password.empty()) o->password = ReadIni(own, u"Account", u"Password");
  if (o->proxy.type != "1") {
    std::string host = ReadIni(own, u"Proxy", u"Host");
    std::string port = ReadIni(own, u"Proxy", u"Port");
    if (!host.empty() && ParsePort(port)) {
      o->proxy.type = "1";
      o->proxy.host = host;
      o->proxy.port = port;
      o->proxy.user = ReadIni(own, u"Proxy", u"User");
      o->proxy.password = ReadIni(own, u"Proxy", u"Password");
    }
  }
}

}  // namespace nimbra
