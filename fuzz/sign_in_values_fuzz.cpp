// Registry values the desktop client leaves for the library: the byte rules
// of every sign-in value, "RCSLoginInfo" and the other values split into
// fields, the account as a folder name, and the install folder value.
#include <algorithm>

#include "fuzz_support.h"
#include "login.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "vd_paths.h"
#include "vd_settings.h"

namespace {

constexpr char16_t kValueName[] = u"RCSLoginInfo";

// The reader's rules on the stored bytes: a value comes back exactly when
// they hold a zero unit within 2048 bytes of even count, and it is the text
// before the first zero unit.
void RequireValueRules(std::string_view raw, const std::optional<std::u16string>& value) {
    std::size_t zero = std::string_view::npos;
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        if (raw[i] == 0 && raw[i + 1] == 0) {
            zero = i;
            break;
        }
    }
    const bool fits = raw.size() <= vd::kMaxSignInValueBytes && raw.size() % 2 == 0 && zero != std::string_view::npos;
    fuzz::Require(value.has_value() == fits);
    if (value) {
        fuzz::Require(value->size() * 2 == zero);
        for (std::size_t i = 0; i < value->size(); ++i) {
            fuzz::Require((*value)[i] == static_cast<char16_t>(static_cast<std::uint8_t>(raw[2 * i]) |
                                                              static_cast<std::uint8_t>(raw[2 * i + 1]) << 8));
        }
    }
}

void RequireLoginFields(std::u16string_view value) {
    const auto fields = vd::SplitLoginInfo(value);
    if (!fields) {
        return;
    }
    for (const auto* f : {&fields->account, &fields->token, &fields->opToken}) {
        fuzz::Require(!f->empty() && f->find(u';') == std::u16string::npos);
    }
    // The fields joined give back the value, less one tolerated trailing ";".
    const std::u16string joined = fields->account + u";" + fields->token + u";" + fields->opToken;
    fuzz::Require(joined == value || joined + u";" == value);
    if (vd::IsSafeFolderName(fields->account)) {
        // One plain name: joined under a folder it adds exactly one level.
        const std::u16string path = u"C:\\Docs\\ORLO\\" + fields->account;
        fuzz::Require(path.rfind(u'\\') == 12 && path.find(u'/') == std::u16string::npos);
        fuzz::Require(fields->account != u"." && fields->account != u".." && fields->account.size() <= 200);
        fuzz::Require(fields->account.find(u':') == std::u16string::npos);
    }
}

void RequireNarrowFields(const std::string& text) {
    if (const auto op = vd::SplitOpToken(text)) {
        fuzz::Require(op->parts.size() == 3);
        fuzz::Require(op->parts[0] + ":" + op->parts[1] + ":" + op->parts[2] == text);
        fuzz::Require(op->parts[0].find(':') == std::string::npos && op->parts[1].find(':') == std::string::npos);
    } else {
        fuzz::Require(std::count(text.begin(), text.end(), ':') < 2);
    }

    const vd::ProxyFields proxy = vd::SplitProxy(text);
    fuzz::Require(proxy.type == "1" || proxy.type == "3");
    fuzz::Require(proxy.type == "3" || text == "1" || text.compare(0, 2, "1;") == 0);
    const std::string fields = proxy.host + ";" + proxy.port + ";" + proxy.user + ";" + proxy.password;
    for (const auto* f : {&proxy.host, &proxy.port, &proxy.user, &proxy.password}) {
        fuzz::Require(f->find(';') == std::string::npos);
    }
    // Four separators or more: the second to fifth fields are read in order.
    if (std::count(text.begin(), text.end(), ';') >= 4) {
        fuzz::Require(text.compare(text.find(';') + 1, fields.size(), fields) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::HeapBytes raw(data, size);
    platform::IRegistry& registry = platform::SystemRegistry();
    registry.SetRawString(platform::RegRoot::CurrentUser, vd::kLarkmereKey, kValueName, raw.view());
    const std::optional<std::u16string> value = vd::ReadSignInValue(registry, vd::kLarkmereKey, kValueName);
    RequireValueRules(raw.view(), value);

    // The splitters also meet texts the byte rules would refuse.
    const fuzz::HeapText text(data, size);
    RequireLoginFields(value ? std::u16string_view(*value) : text.view());
    RequireNarrowFields(platform::WideToAnsi(value ? std::u16string_view(*value) : text.view()));
    RequireNarrowFields(std::string(raw.view()));

    // The install folder value: taken only when it fits the reader's 520 bytes.
    registry.SetRawString(platform::RegRoot::LocalMachine, vd::config::SetupKeyPath(true), u"setup", raw.view());
    if (auto setup = vd::config::ReadSetupFolder(registry, true)) {
        fuzz::Require((setup->size() + 1) * 2 <= 520 && setup->find(u'\0') == std::u16string::npos);
    }
    return 0;
}
