#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloudserver {

// "YYYYMMDDhhmmss" in UTC for a Unix time in seconds.
std::string TimeText(int64_t unixSeconds);

// Strict non-negative decimal (no sign, no blanks, fits in int64).
std::optional<int64_t> ParseDecimal(std::string_view text);

// Random lower-case hex text of 2*bytes characters from the OS generator.
std::string RandomHex(size_t bytes);

// Name shape check shared by folders and files: non-empty valid UTF-8, no
// path separators or control characters, not "." or "..".
enum class NameCheck { kOk, kTooLong, kBad };
NameCheck CheckItemName(std::string_view name);
constexpr size_t kMaxNameBytes = 255;

// Incremental MD5 with lower-case hex output.
class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;
  void Update(const void* data, size_t len);
  std::string FinishHex();

 private:
  void* ctx_;
};
std::string Md5Hex(std::string_view data);
// MD5 of a whole file; empty on read failure.
std::string Md5File(const std::string& path);
bool IsMd5Hex(std::string_view text);

// Salted password hash (PBKDF2-HMAC-SHA256), hex.
std::string HashPassword(std::string_view password, std::string_view saltHex);
bool ConstantTimeEquals(std::string_view a, std::string_view b);

}  // namespace cloudserver
