#include "util.h"

#include <openssl/evp.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

namespace cloudserver {

std::string TimeText(int64_t unixSeconds) {
  std::time_t t = static_cast<std::time_t>(unixSeconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return buf;
}

std::optional<int64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + (c - '0');
  }
  return v;
}

std::string RandomHex(size_t bytes) {
  static const char* digits = "0123456789abcdef";
  std::random_device rd;
  std::string out;
  out.reserve(bytes * 2);
  for (size_t i = 0; i < bytes; ++i) {
    unsigned v = rd() & 0xff;
    out.push_back(digits[v >> 4]);
    out.push_back(digits[v & 15]);
  }
  return out;
}

namespace {
bool IsValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n >= s.size()) return false;
    for (size_t k = 1; k <= n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    // Overlong forms, surrogates and out-of-range code points.
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}
}  // namespace

NameCheck CheckItemName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return NameCheck::kBad;
  if (name.size() > kMaxNameBytes) return NameCheck::kTooLong;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || u < 0x20 || u == 0x7f) return NameCheck::kBad;
  }
  return IsValidUtf8(name) ? NameCheck::kOk : NameCheck::kBad;
}

Md5::Md5() : ctx_(EVP_MD_CTX_new()) {
  if (!ctx_ || EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_md5(), nullptr) != 1)
    throw std::runtime_error("md5 init");
}
Md5::~Md5() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }
void Md5::Update(const void* data, size_t len) { EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, len); }
std::string Md5::FinishHex() {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned len = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out, &len);
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < len; ++i) {
    hex.push_back(digits[out[i] >> 4]);
    hex.push_back(digits[out[i] & 15]);
  }
  return hex;
}

std::string Md5Hex(std::string_view data) {
  Md5 m;
  m.Update(data.data(), data.size());
  return m.FinishHex();
}

std::string Md5File(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  Md5 m;
  std::vector<char> buf(1 << 16);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    m.Update(buf.data(), static_cast<size_t>(in.gcount()));
  }
  if (in.bad()) return {};
  return m.FinishHex();
}

bool IsMd5Hex(std::string_view text) {
  if (text.size() != 32) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

std::string HashPassword(std::string_view password, std::string_view saltHex) {
  unsigned char out[32];
  // Few iterations keep seeding and tests quick; the salt is what defeats
  // precomputed tables here. Fuzz builds take one, or sign-in would be most
  // of every run.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
  constexpr int kIterations = 1;
#else
  constexpr int kIterations = 4096;
#endif
  PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                    reinterpret_cast<const unsigned char*>(saltHex.data()), static_cast<int>(saltHex.size()),
                    kIterations, EVP_sha256(), sizeof out, out);
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : out) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

bool ConstantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace cloudserver
