#include "log_config.h"

#include <cstdio>

#include "platform/text.h"

namespace XLOGGER {
namespace {

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t')) s.remove_suffix(1);
  return s;
}

std::optional<int> PositiveNumber(std::u16string_view s) {
  if (s.empty() || s.size() > 6) return std::nullopt;
  int n = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c - u'0');
  }
  if (n <= 0) return std::nullopt;
  return n;
}

std::u16string Ascii(const char* s) {
  std::u16string out;
  while (*s) out.push_back(static_cast<char16_t>(*s++));
  return out;
}

}  // namespace

std::optional<LogConfig> ParseLogConfig(std::u16string_view text) {
  LogConfig config;
  while (!text.empty()) {
    size_t comma = text.find(u',');
    std::u16string_view pair = text.substr(0, comma);
    text = comma == std::u16string_view::npos ? std::u16string_view() : text.substr(comma + 1);
    pair = Trim(pair);
    if (pair.empty()) continue;
    size_t eq = pair.find(u'=');
    if (eq == std::u16string_view::npos) return std::nullopt;
    std::u16string_view key = Trim(pair.substr(0, eq));
    std::u16string_view value = Trim(pair.substr(eq + 1));
    if (key.empty()) return std::nullopt;
    if (platform::EqualsNoCase(key, u"FileName")) {
      if (!value.empty()) config.file_name = std::u16string(value);
    } else if (platform::EqualsNoCase(key, u"LogFormat")) {
      config.log_format = std::u16string(value);
    } else if (platform::EqualsNoCase(key, u"BackupDays")) {
      if (auto n = PositiveNumber(value)) config.backup_days = *n;
    } else if (platform::EqualsNoCase(key, u"FileSize")) {
      if (auto n = PositiveNumber(value)) config.file_size_mb = *n;
    }
  }
  return config;
}

std::string FormatPrefix(std::u16string_view pattern, const Stamp& stamp) {
  std::string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char16_t c = pattern[i];
    if (c != u'%' || i + 1 >= pattern.size()) {
      out += platform::Utf16ToUtf8(pattern.substr(i, 1));
      continue;
    }
    size_t j = i + 1;
    int width = 0;
    bool padded = false;
    if (pattern[j] == u'0') {
      padded = true;
      ++j;
      while (j < pattern.size() && pattern[j] >= u'0' && pattern[j] <= u'9' && width < 20) width = width * 10 + (pattern[j++] - u'0');
    }
    if (j >= pattern.size()) {
      out += platform::Utf16ToUtf8(pattern.substr(i));
      break;
    }
    long long value = 0;
    int natural = 2;
    switch (pattern[j]) {
      case u'Y': value = stamp.local.tm_year + 1900; natural = 4; break;
      case u'm': value = stamp.local.tm_mon + 1; break;
      case u'd': value = stamp.local.tm_mday; break;
      case u'H': value = stamp.local.tm_hour; break;
      case u'M': value = stamp.local.tm_min; break;
      case u'S': value = stamp.local.tm_sec; break;
      case u'N': value = stamp.millis; natural = 3; break;
      case u'P': value = stamp.pid; natural = 1; break;
      case u'T': value = stamp.tid; natural = 1; break;
      case u'%': out += '%'; i = j; continue;
      default:
        out += platform::Utf16ToUtf8(pattern.substr(i, j - i + 1));
        i = j;
        continue;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*lld", padded ? width : natural, value);
    out += buf;
    i = j;
  }
  return out;
}

std::u16string ExpandFileName(std::u16string_view pattern, const std::tm& local) {
  std::u16string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && (pattern[i + 1] == u'm' || pattern[i + 1] == u'd')) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%02d", pattern[i + 1] == u'm' ? local.tm_mon + 1 : local.tm_mday);
      out += Ascii(buf);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

std::u16string NamedLoggerConfig(std::u16string_view folder, std::u16string_view name, const std::tm& local) {
  char stamp[64];
  // "FileName=%s%s %d%d%d%d.txt": the numbers are not padded.
  std::snprintf(stamp, sizeof stamp, " %d%d%d%d.txt", local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
  std::u16string out = u"FileName=";
  out.append(folder).append(name).append(Ascii(stamp));
  out += u",LogFormat=%Y/%m/%d %H:%M:%S %03N %05P %05T,BackupDays=10,FileSize=40";
  return out;
}

std::u16string DefaultLoggerConfig() { return u"FileName=Log%m%d.txt,LogFormat=%Y/%m/%d %H:%M:%S %03N %05P %05T"; }

}  // namespace XLOGGER
