#include "md5.h"

#include <gtest/gtest.h>

#include <string>

namespace corbel {
namespace {

TEST(Md5, KnownVectorsWholeAndInPieces) {
  // RFC 1321 appendix A.5, plus lengths around the 56/64-byte padding edges.
  struct Case {
    std::string input;
    const char* hex;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65"},
      {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218"},
      {std::string(64, 'a'), "014842d480b571495a4a0363793f7367"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Md5::HexOf(c.input), c.hex) << c.input.size();
    // Fed in uneven pieces, crossing block boundaries at every offset.
    for (std::size_t piece : {1u, 3u, 63u, 65u, 4097u}) {
      Md5 md5;
      for (std::size_t at = 0; at < c.input.size(); at += piece) md5.Update(std::string_view(c.input).substr(at, piece));
      EXPECT_EQ(Md5::ToHex(md5.Final()), c.hex) << "size " << c.input.size() << " piece " << piece;
    }
  }
}

TEST(Md5, ResetStartsAFreshMessage) {
  Md5 md5;
  md5.Update("garbage that must not leak into the next digest");
  md5.Final();
  md5.Reset();
  md5.Update("abc");
  EXPECT_EQ(Md5::ToHex(md5.Final()), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, AllByteValues) {
  std::string bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<char>(i));
  EXPECT_EQ(Md5::HexOf(bytes), "e2c865db4162bed963bfaa9ef6ac18f0");
}

}  // namespace
}  // namespace corbel
