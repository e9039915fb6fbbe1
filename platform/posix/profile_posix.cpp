// INI files read and written the way the Windows profile API does it:
// sections and keys compare without regard to case, values are trimmed, the
// first of duplicate entries wins, writes keep every other line as it was.
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

bool SameName(const std::string& a, std::u16string_view b) {
  return EqualsNoCase(Utf8ToUtf16(a), b);
}

// Lines as getline gives them (no empty line after a final break), each
// without its CR.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string line(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return lines;
}

std::string ReadText(std::u16string_view file) {
  std::ifstream in(Utf16ToUtf8(file), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> ReadLines(std::u16string_view file) { return SplitLines(ReadText(file)); }

// Index of the section header line, or -1.
long FindSection(const std::vector<std::string>& lines, std::u16string_view section) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string t = Trim(lines[i]);
    if (t.size() >= 2 && t.front() == '[') {
      size_t close = t.find(']');
      if (close != std::string::npos && SameName(Trim(t.substr(1, close - 1)), section)) {
        return static_cast<long>(i);
      }
    }
  }
  return -1;
}

bool IsSectionHeader(const std::string& line) {
  std::string t = Trim(line);
  return !t.empty() && t.front() == '[';
}

// Index of the key's line within the section starting at `header`, or -1.
long FindKey(const std::vector<std::string>& lines, long header, std::u16string_view key) {
  for (size_t i = header + 1; i < lines.size() && !IsSectionHeader(lines[i]); ++i) {
    size_t eq = lines[i].find('=');
    if (eq != std::string::npos && SameName(Trim(lines[i].substr(0, eq)), key)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

}  // namespace

std::optional<std::string> FindProfileValue(std::string_view text, std::u16string_view section,
                                            std::u16string_view key) {
  auto lines = SplitLines(text);
  long header = FindSection(lines, section);
  if (header < 0) return std::nullopt;
  long at = FindKey(lines, header, key);
  if (at < 0) return std::nullopt;
  std::string value = Trim(lines[at].substr(lines[at].find('=') + 1));
  // The profile API drops one pair of surrounding quotes.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

int ProfileIntValue(std::string_view v) {
  size_t i = 0;
  bool negative = false;
  if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
  long long n = 0;
  while (i < v.size() && v[i] >= '0' && v[i] <= '9') {
    n = n * 10 + (v[i++] - '0');
    if (n > 0xFFFFFFFFLL) n = 0xFFFFFFFFLL;
  }
  return static_cast<int>(negative ? -n : n);
}

namespace {

std::optional<std::string> Lookup(std::u16string_view file, std::u16string_view section,
                                  std::u16string_view key) {
  return FindProfileValue(ReadText(file), section, key);
}

class PosixProfile final : public IProfile {
 public:
  int GetInt(std::u16string_view file, std::u16string_view section, std::u16string_view key,
             int fallback) override {
    std::lock_guard lock(mutex_);
    auto value = Lookup(file, section, key);
    return value ? ProfileIntValue(*value) : fallback;
  }

  std::u16string GetString(std::u16string_view file, std::u16string_view section,
                           std::u16string_view key, std::u16string_view fallback,
                           std::size_t max_chars) override {
    std::u16string out;
    {
      std::lock_guard lock(mutex_);
      auto value = Lookup(file, section, key);
      out = value ? Utf8ToUtf16(*value) : std::u16string(fallback);
    }
    if (max_chars == 0) return {};
    if (out.size() > max_chars - 1) out.resize(max_chars - 1);
    return out;
  }

  Result WriteString(std::u16string_view file, std::u16string_view section,
                     std::u16string_view key, std::u16string_view value) override {
    std::lock_guard lock(mutex_);
    auto lines = ReadLines(file);
    std::string entry = Utf16ToUtf8(key) + "=" + Utf16ToUtf8(value);
    long header = FindSection(lines, section);
    if (header < 0) {
      lines.push_back("[" + Utf16ToUtf8(section) + "]");
      lines.push_back(entry);
    } else if (long at = FindKey(lines, header, key); at >= 0) {
      lines[at] = entry;
    } else {
      size_t end = header + 1;
      while (end < lines.size() && !IsSectionHeader(lines[end])) ++end;
      while (end > static_cast<size_t>(header + 1) && Trim(lines[end - 1]).empty()) --end;
      lines.insert(lines.begin() + end, entry);
    }
    std::ostringstream out;
    for (auto& l : lines) out << l << "\r\n";
    return SystemFileSystem().WriteFileAtomic(file, out.str());
  }

 private:
  std::mutex mutex_;
};

}  // namespace

IProfile& SystemProfile() {
  static PosixProfile profile;
  return profile;
}

}  // namespace platform
