#pragma once
// MD5 (RFC 1321) with a streaming interface: the service identifies bytes by
// it for instant uploads, so files are hashed in buffers, never whole.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corbel {

class Md5 {
 public:
  using Digest = std::array<std::uint8_t, 16>;

  Md5() { Reset(); }
  void Reset();
  void Update(const void* data, std::size_t size);
  void Update(std::string_view bytes) { Update(bytes.data(), bytes.size()); }
  // Ends the message; the object must be Reset before it is fed again.
  Digest Final();

  static std::string ToHex(const Digest& digest);  // 32 lower-case hex characters
  static std::string HexOf(std::string_view bytes);

 private:
  void Blocks(const std::uint8_t* data, std::size_t count);

  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes fed so far
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
};

}  // namespace corbel
