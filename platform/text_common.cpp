// Encoding helpers shared by both implementations.
#include <cstdint>

#include "platform/registry.h"
#include "platform/text.h"

namespace platform {

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  const auto* s = reinterpret_cast<const unsigned char*>(in.data());
  const size_t n = in.size();
  size_t i = 0;
  while (i < n) {
    uint32_t c = s[i];
    size_t len = 0;
    uint32_t min = 0;
    if (c < 0x80) { len = 1; }
    else if ((c & 0xE0) == 0xC0) { len = 2; c &= 0x1F; min = 0x80; }
    else if ((c & 0xF0) == 0xE0) { len = 3; c &= 0x0F; min = 0x800; }
    else if ((c & 0xF8) == 0xF0) { len = 4; c &= 0x07; min = 0x10000; }
    else { out.push_back(0xFFFD); ++i; continue; }
    if (i + len > n) { out.push_back(0xFFFD); ++i; continue; }
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) { ok = false; break; }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size() * 3);
  for (size_t i = 0; i < in.size(); ++i) {
    uint32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

static char16_t FoldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? c - 32 : c; }

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

std::u16string ToUpperAscii(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldAscii(c);
  return out;
}

std::optional<std::u16string> IRegistry::GetString(RegRoot root, std::u16string_view path,
                                                   std::u16string_view name) {
  auto v = GetValue(root, path, name);
  if (!v || v->type != RegValue::Type::String) return std::nullopt;
  return v->text;
}

std::optional<uint32_t> IRegistry::GetDword(RegRoot root, std::u16string_view path,
                                            std::u16string_view name) {
  auto v = GetValue(root, path, name);
  if (!v || v->type != RegValue::Type::Dword) return std::nullopt;
  return v->number;
}

}  // namespace platform
