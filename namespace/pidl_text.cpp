// Size and time texts of the detail columns and the time and size fields of
// cloud records. The C library's local-time functions share hidden state, so
// every call goes through one lock.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

#include "pidl.h"
#include "pidl_records.h"
#include "platform/text.h"
#include "string_table.h"

namespace vd {

namespace {

std::mutex& TimeLock() {
    static std::mutex lock;
    return lock;
}

std::u16string Widen(const char* ascii) {
    std::u16string out;
    for (; *ascii != '\0'; ++ascii) {
        out += static_cast<char16_t>(static_cast<unsigned char>(*ascii));
    }
    return out;
}

}  // namespace

std::u16string FormatSizeText(std::uint64_t bytes) {
    const double s = static_cast<double>(bytes);
    char buf[64];
    if (s / 1073741824.0 > 1.0) {
        std::snprintf(buf, sizeof buf, "%.1f GB", s / 1073741824.0);
    } else if (s / 1048576.0 > 1.0) {
        std::snprintf(buf, sizeof buf, "%.1f MB", s / 1048576.0);
    } else if (s / 1024.0 > 1.0) {
        std::snprintf(buf, sizeof buf, "%.1f KB", s / 1024.0);
    } else {
        std::snprintf(buf, sizeof buf, "%.1f B", s);
    }
    return Widen(buf);
}

// String 197 ("%d年%d月%d日 %d:%02d") of the local time.
std::u16string FormatTimeText(std::int64_t time) {
    std::tm local{};
    {
        std::lock_guard<std::mutex> guard(TimeLock());
        const std::time_t t = static_cast<std::time_t>(time);
        const std::tm* p = std::localtime(&t);
        if (p == nullptr) {
            return {};
        }
        local = *p;
    }
    // The table's texts are literals: the format ends with its zero.
    const std::string_view format = resources::LoadText(resources::IDS_DATE_FORMAT);
    char buf[96];
    const int n = std::snprintf(buf, sizeof buf, format.data(), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                local.tm_hour, local.tm_min);
    if (n <= 0) {
        return {};
    }
    return platform::Utf8ToUtf16(std::string_view(buf, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1)));
}

std::int64_t ParseUpdateTime(std::string_view text) noexcept {
    char buf[33];
    const std::size_t n = text.copy(buf, 32);
    buf[n] = '\0';
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(buf, "%04d%02d%02d%02d%02d%02d", &year, &month, &day, &hour, &minute, &second) != 6) {
        return 0;
    }
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    std::lock_guard<std::mutex> guard(TimeLock());
    const std::time_t result = std::mktime(&t);
    return result == static_cast<std::time_t>(-1) ? 0 : static_cast<std::int64_t>(result);
}

std::uint64_t ParseSizeText(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX);
    std::uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return negative ? 0 : value;
}

}  // namespace vd
