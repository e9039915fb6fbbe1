#include "sign_in_values.h"

#include <vector>

#include "platform/text.h"

namespace nimbra {
namespace {

using platform::RegRoot;

std::vector<std::string_view> Split(std::string_view text, char separator, size_t max_parts) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < max_parts) {
    size_t at = text.find(separator);
    if (at == std::string_view::npos) break;
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + 1);
  }
  parts.push_back(text);
  return parts;
}

bool Clean(std::string_view field, std::string_view forbidden) {
  if (field.find('\0') != std::string_view::npos) return false;
  return field.find_first_of(forbidden) == std::string_view::npos;
}

bool Fits(const std::string& text) {
  return (platform::Utf8ToUtf16(text).size() + 1) * 2 <= kMaxValueBytes;
}

std::optional<std::string> ReadText(platform::IRegistry& registry, std::u16string_view key,
                                    std::u16string_view name) {
  auto value = registry.GetString(RegRoot::CurrentUser, key, name);
  if (!value || (value->size() + 1) * 2 > kMaxValueBytes) return std::nullopt;
  return platform::Utf16ToUtf8(*value);
}

platform::Result SetText(platform::IRegistry& registry, std::u16string_view key, std::u16string_view name,
                         const std::string& text) {
  return registry.SetString(RegRoot::CurrentUser, key, name, platform::Utf8ToUtf16(text));
}

}  // namespace

std::string FormatLoginInfo(const LoginInfo& login) {
  return login.account + ";" + login.token + ";" + login.opToken;
}

std::optional<LoginInfo> ParseLoginInfo(std::string_view text) {
  auto parts = Split(text, ';', 4);
  if (parts.size() != 3) return std::nullopt;
  for (auto part : parts) {
    if (part.empty() || !Clean(part, {})) return std::nullopt;
  }
  return LoginInfo{std::string(parts[0]), std::string(parts[1]), std::string(parts[2])};
}

std::string FormatOpToken(const LoginInfo& login) {
  return login.account + ":" + login.token + ":" + login.opToken;
}

std::optional<LoginInfo> ParseOpToken(std::string_view text) {
  auto parts = Split(text, ':', 3);
  if (parts.size() != 3) return std::nullopt;
  return LoginInfo{std::string(parts[0]), std::string(parts[1]), std::string(parts[2])};
}

std::string FormatProxy(const ProxySettings& proxy) {
  return (proxy.type == "1" ? "1" : "3") + (";" + proxy.host) + ";" + proxy.port + ";" + proxy.user + ";" +
         proxy.password;
}

ProxySettings ParseProxy(std::string_view text) {
  auto parts = Split(text, ';', 5);
  ProxySettings proxy;
  proxy.type = parts[0] == "1" ? "1" : "3";
  std::string* fields[] = {&proxy.host, &proxy.port, &proxy.user, &proxy.password};
  for (size_t i = 1; i < parts.size(); ++i) fields[i - 1]->assign(parts[i]);
  return proxy;
}

bool CanStore(const SignInValues& v) {
  const LoginInfo& l = v.login;
  if (l.account.empty() || l.token.empty() || l.opToken.empty()) return false;
  // The op-token value splits at the first two ":", so only its last part may hold one.
  if (!Clean(l.account, ";:") || !Clean(l.token, ";:") || !Clean(l.opToken, ";")) return false;
  if (!Clean(v.userId, {}) || !Clean(v.passId, {})) return false;
  const ProxySettings& p = v.proxy;
  if (!Clean(p.host, ";") || !Clean(p.port, ";") || !Clean(p.user, ";") || !Clean(p.password, {})) return false;
  return Fits(FormatLoginInfo(l)) && Fits(FormatOpToken(l)) && Fits(FormatProxy(p)) && Fits(v.userId) &&
         Fits(v.passId);
}

platform::Result WriteSignInValues(platform::IRegistry& registry, const SignInValues& values) {
  if (!CanStore(values)) return platform::kInvalidParameter;
  for (auto key : {kLarkmereKey, kOrloKey}) {
    if (auto r = registry.CreateKey(RegRoot::CurrentUser, key); r != platform::kOk) return r;
  }
  // RCSLoginInfo last: the extension takes its presence as "signed in", so
  // everything it reads next must already be there.
  const std::pair<std::u16string_view, std::string> orlo[] = {
      {kUserIdValue, values.userId},
      {kPassIdValue, values.passId},
      {kOpTokenValue, FormatOpToken(values.login)},
      {kProxyValue, FormatProxy(values.proxy)},
  };
  for (const auto& [name, text] : orlo) {
    if (auto r = SetText(registry, kOrloKey, name, text); r != platform::kOk) return r;
  }
  return SetText(registry, kLarkmereKey, kLoginInfoValue, FormatLoginInfo(values.login));
}

platform::Result WriteTokens(platform::IRegistry& registry, const LoginInfo& login) {
  SignInValues check;
  check.login = login;
  if (!CanStore(check)) return platform::kInvalidParameter;
  if (auto r = SetText(registry, kOrloKey, kOpTokenValue, FormatOpToken(login)); r != platform::kOk) return r;
  return SetText(registry, kLarkmereKey, kLoginInfoValue, FormatLoginInfo(login));
}

platform::Result ClearLoginInfo(platform::IRegistry& registry) {
  if (!registry.GetValue(RegRoot::CurrentUser, kLarkmereKey, kLoginInfoValue)) return platform::kOk;
  return registry.DeleteValue(RegRoot::CurrentUser, kLarkmereKey, kLoginInfoValue);
}

std::optional<SignInValues> ReadSignInValues(platform::IRegistry& registry) {
  auto login_text = ReadText(registry, kLarkmereKey, kLoginInfoValue);
  if (!login_text) return std::nullopt;
  auto login = ParseLoginInfo(*login_text);
  if (!login) return std::nullopt;
  SignInValues values;
  values.login = *login;
  auto user = ReadText(registry, kOrloKey, kUserIdValue);
  auto pass = ReadText(registry, kOrloKey, kPassIdValue);
  auto op = ReadText(registry, kOrloKey, kOpTokenValue);
  if (!user || !pass || !op) return std::nullopt;
  auto op_login = ParseOpToken(*op);
  if (!op_login || !(*op_login == *login)) return std::nullopt;
  values.userId = *user;
  values.passId = *pass;
  auto proxy = ReadText(registry, kOrloKey, kProxyValue);
  if (!proxy) return std::nullopt;
  values.proxy = ParseProxy(*proxy);
  return values;
}

}  // namespace nimbra
