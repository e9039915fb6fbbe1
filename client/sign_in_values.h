#pragma once
// The sign-in values the client leaves in HKCU for the shell extension, and
// their text formats. Fields are UTF-8 here and UTF-16 in the registry.
//   SOFTWARE\Larkmere       RCSLoginInfo    account;token;opToken
//   SOFTWARE\Larkmere\ORLO  User_ID         user id
//                           PassID          pass id
//                           Nimbra_OPToken  account:token:opToken
//                           ProxySetInfo    type;host;port;user;password ("3;;;;": none)
#include <optional>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/result.h"

namespace nimbra {

inline constexpr char16_t kLarkmereKey[] = u"SOFTWARE\\Larkmere";
inline constexpr char16_t kOrloKey[] = u"SOFTWARE\\Larkmere\\ORLO";
inline constexpr char16_t kLoginInfoValue[] = u"RCSLoginInfo";
inline constexpr char16_t kUserIdValue[] = u"User_ID";
inline constexpr char16_t kPassIdValue[] = u"PassID";
inline constexpr char16_t kOpTokenValue[] = u"Nimbra_OPToken";
inline constexpr char16_t kProxyValue[] = u"ProxySetInfo";

// The reader takes at most this many bytes of a value, terminator included.
inline constexpr size_t kMaxValueBytes = 2048;

struct ProxySettings {
  std::string type = "3";  // "1": the proxy below; anything else: none
  std::string host, port, user, password;
  bool operator==(const ProxySettings&) const = default;
};

struct LoginInfo {
  std::string account, token, opToken;
  bool operator==(const LoginInfo&) const = default;
};

struct SignInValues {
  LoginInfo login;
  std::string userId;
  std::string passId;
  ProxySettings proxy;
  bool operator==(const SignInValues&) const = default;
};

std::string FormatLoginInfo(const LoginInfo& login);
// Exactly three non-empty fields.
std::optional<LoginInfo> ParseLoginInfo(std::string_view text);

std::string FormatOpToken(const LoginInfo& login);
// Split at the first and second ":"; the third part keeps any further ":".
std::optional<LoginInfo> ParseOpToken(std::string_view text);

std::string FormatProxy(const ProxySettings& proxy);
// Missing fields are empty; a type other than "1" becomes "3".
ProxySettings ParseProxy(std::string_view text);

// False when a field would break its value's format (separators, NUL, empty
// login fields) or the value would exceed what the reader accepts.
bool CanStore(const SignInValues& values);

// Writes every value; kInvalidParameter when !CanStore.
platform::Result WriteSignInValues(platform::IRegistry& registry, const SignInValues& values);
// Rewrites the token-bearing values after a token refresh.
platform::Result WriteTokens(platform::IRegistry& registry, const LoginInfo& login);
// Sign-out: the extension treats a missing RCSLoginInfo as signed out.
platform::Result ClearLoginInfo(platform::IRegistry& registry);
// Reads back what WriteSignInValues wrote, with the reader's rules.
std::optional<SignInValues> ReadSignInValues(platform::IRegistry& registry);

}  // namespace nimbra
