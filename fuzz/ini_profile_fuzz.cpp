// INI profiles as the portable profile reader sees them, and the library's
// configuration readers on top of it ("Config.ini", "NimbraSet.ini",
// "sdkconfig.ini"): any file text, any section and key names.
#include <vector>

#include "fuzz_support.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "vd_paths.h"
#include "vd_settings.h"

namespace {

using platform::FindProfileValue;

// Serves the fuzzed text as every file, through the same value reader the
// POSIX profile uses on files.
class TextProfile final : public platform::IProfile {
public:
    explicit TextProfile(std::string_view text) : m_text(text) {}
    int GetInt(std::u16string_view, std::u16string_view section, std::u16string_view key, int fallback) override {
        auto value = FindProfileValue(m_text, section, key);
        return value ? platform::ProfileIntValue(*value) : fallback;
    }
    std::u16string GetString(std::u16string_view, std::u16string_view section, std::u16string_view key,
                             std::u16string_view fallback, std::size_t max_chars) override {
        auto value = FindProfileValue(m_text, section, key);
        std::u16string out = value ? platform::Utf8ToUtf16(*value) : std::u16string(fallback);
        if (out.size() >= max_chars) {
            out.resize(max_chars == 0 ? 0 : max_chars - 1);
        }
        return out;
    }
    platform::Result WriteString(std::u16string_view, std::u16string_view, std::u16string_view,
                                 std::u16string_view) override {
        return platform::kOk;
    }

private:
    std::string_view m_text;
};

struct Probe {
    const char16_t* section;
    const char16_t* key;
};

// The names the product reads, plus one the seeds do not hold.
constexpr Probe kProbes[] = {
    {u"All", u"LogLevel"},           {u"Pandrel", u"IsPreCache"},         {u"ORLO", u"STRONG_HTTP"},
    {u"Pandrel", u"NewFunctionMsg"}, {u"SDK", u"UploadFilterSuffix"},     {u"Service", u"Host"},
    {u"x", u"y"},
};

std::u16string Flip(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - 32);
        } else if (c >= u'A' && c <= u'Z') {
            c = static_cast<char16_t>(c + 32);
        }
    }
    return out;
}

void RequireProbe(std::string_view text, const Probe& p) {
    const auto value = FindProfileValue(text, p.section, p.key);
    // Names compare without regard to ASCII case.
    fuzz::Require(FindProfileValue(text, Flip(p.section), Flip(p.key)) == value);
    const std::string section = platform::Utf16ToUtf8(p.section), key = platform::Utf16ToUtf8(p.key);
    if (value) {
        fuzz::Require(value->find('\n') == std::string::npos && fuzz::Contains(text, *value));
        // The first of duplicate entries wins: a later copy changes nothing.
        const std::string later = std::string(text) + "\n[" + section + "]\n" + key + "=later\n";
        fuzz::Require(FindProfileValue(later, p.section, p.key) == value);
    }
    // An entry ahead of everything is the one read, whatever follows.
    const std::string ahead = "[" + section + "]\r\n" + key + " = \"ahead\" \r\n" + std::string(text);
    fuzz::Require(FindProfileValue(ahead, p.section, p.key) == std::optional<std::string>("ahead"));
}

void RequireConfigReaders(std::string_view text) {
    TextProfile profile(text);
    const std::u16string folder = u"C:\\Program Files\\Veyra";
    const auto suffix = vd::config::ReadUploadFilterSuffix(profile, folder);
    fuzz::Require(suffix.size() <= 259);
    const auto sidebar = vd::config::ReadSideBarAddresses(profile, folder);
    fuzz::Require(sidebar.strong.size() <= 1023 && sidebar.portal.size() <= 1023);
    const auto pre = FindProfileValue(text, u"Pandrel", u"IsPreCache");
    fuzz::Require(vd::config::ReadIsPreCache(profile, folder) == (pre && *pre == "1"));
    const auto level = FindProfileValue(text, u"All", u"LogLevel");
    fuzz::Require(vd::config::ReadLogLevel(profile, folder) == (level ? platform::ProfileIntValue(*level) : 2));

    // The filter list against a file name taken from the text's last line.
    const std::u16string name = platform::Utf8ToUtf16(text.substr(text.rfind('\n') + 1));
    if (vd::config::IsUploadFiltered(name, suffix)) {
        const std::size_t dot = name.rfind(u'.');
        fuzz::Require(dot != std::u16string::npos && fuzz::Contains(suffix, std::u16string_view(name).substr(dot)));
    }
}

void RequireIntReading(std::string_view value) {
    const int n = platform::ProfileIntValue(value);
    // Up to nine plain digits read as themselves.
    std::size_t digits = 0;
    while (digits < value.size() && digits < 9 && value[digits] >= '0' && value[digits] <= '9') {
        ++digits;
    }
    if (digits > 0 && (digits == value.size() || value[digits] < '0' || value[digits] > '9')) {
        fuzz::Require(n == std::stoi(std::string(value.substr(0, digits))));
    }
    if (value.empty() || (value[0] != '-' && value[0] != '+' && (value[0] < '0' || value[0] > '9'))) {
        fuzz::Require(n == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::HeapBytes bytes(data, size);
    const std::string_view text = bytes.view();
    // Every check reparses the whole text: one probe or the readers per
    // input keeps the run fast, and the corpus covers them all.
    const std::size_t pick = size == 0 ? 0 : data[0] % (std::size(kProbes) + 1);
    if (pick < std::size(kProbes)) {
        RequireProbe(text, kProbes[pick]);
    } else {
        RequireConfigReaders(text);
    }
    RequireIntReading(text.substr(0, std::min<std::size_t>(text.size(), 16)));

    // The module's own path, as the loader reports it, through the same text.
    const std::u16string path = platform::Utf8ToUtf16(text.substr(0, text.find('\n')));
    if (auto where = vd::config::SplitModulePath(path)) {
        fuzz::Require(where->parent_folder.size() < path.size() && where->library_in_parent.size() < 260);
        fuzz::Require(path.compare(0, where->parent_folder.size(), where->parent_folder) == 0);
        fuzz::Require(where->library_in_parent.size() < path.size());
    }
    return 0;
}
