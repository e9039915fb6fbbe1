#include "thumbnail.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

// Sanitizer builds report every allocation through this hook; absent elsewhere.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                          void (*)(const volatile void*)) __attribute__((weak));

namespace cloudserver {
namespace {

std::atomic<size_t> largestAllocation{0};

void OnMalloc(const volatile void*, size_t size) {
  size_t seen = largestAllocation.load();
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
}
void OnFree(const volatile void*) {}

std::string Chunk(const char* type, const std::string& data, uint32_t declared) {
  std::string c;
  for (int shift : {24, 16, 8, 0}) c += static_cast<char>(declared >> shift);
  std::string typed = type + data;
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
  c += typed;
  for (int shift : {24, 16, 8, 0}) c += static_cast<char>(crc >> shift);
  return c;
}

// A 1 x 1 PNG whose data chunk declares `declared` bytes and carries 16.
std::string PngDeclaring(uint32_t declared) {
  std::string ihdr("\0\0\0\1\0\0\0\1\x08\x02\0\0\0", 13);
  return std::string("\x89PNG\r\n\x1a\n", 8) + Chunk("IHDR", ihdr, 13) + Chunk("IDAT", std::string(16, 'x'), declared);
}

std::string Png(int w, int h) {
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 7);
  return EncodePng(w, h, rgb);
}

// A JPEG whose one Huffman table declares 16 x 255 codes; a table holds 256.
std::string JpegWithOversizedTable() {
  const int codes = 16 * 255;
  const int length = 2 + 17 + codes;
  std::string j("\xFF\xD8\xFF\xC4", 4);
  j += static_cast<char>(length >> 8);
  j += static_cast<char>(length & 0xFF);
  j += '\0';  // class 0, table 0
  j += std::string(16, '\xFF');
  j += std::string(codes, '\x01');
  return j + "\xFF\xD9";
}

// A 4 x 4 uncompressed TGA: a real image, in a format thumbnails are not made of.
std::string Tga() {
  std::string t(18, '\0');
  t[2] = 2;   // true colour
  t[12] = 4;  // width
  t[14] = 4;  // height
  t[16] = 24;
  return t + std::string(4 * 4 * 3, '\x7F');
}

std::string FromHex(std::string_view hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  return out;
}

// Found by the thumbnail fuzzer: a JPEG whose entropy data ends at a marker
// inside a code, so the decoder took bits it never read.
const std::string kJpegOutOfBits = FromHex(
      "ffd8ffe000104a4649460001010000010001181616ffc00011080014003103012200021101031101ffc401a20000010501010101"
      "01010000000000000000010203040506ffff02f40b100002010303020403050504040000017d01020300040489504e470d0a1a0a"
      "0000000d49484452005d000600ff0100a51360694000000000000000000008000000000000000000000000008049010061300000"
      "05b20c6082595a630365666768696a737475767778797a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4"
      "b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa0100030101010101"
      "0101010100000000000080ffffff05fafb08090a0b11000201020404030407050404000102770001020311040521310612415107"
      "6171132232810814b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae2e3e4e5e6e7e8e9eaf2f3f4f5f6f7f8f9faffda000c"
      "03010002110311003f00010101010101000000000000010404040001fe88ff0200d9939495969798999aa2a3a4a5a6a7a8a9aab2"
      "b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae2e3e4e5e6e7e8e9eaf2f3f4f5f6f7f8f9faffda000c03010002"
      "110311003f00010101010101000000000000010404040001fe88ff02d9");

// Found by the thumbnail fuzzer: a JPEG whose scan decodes with a Huffman
// table the file never defines; the decoder read it from uninitialised
// memory and indexed its symbols far out of bounds.
const std::string kJpegStraySymbol = FromHex(
      "ffd8ffe000104a464946000101000001000100001318281a181616183123251d283a333d3c3933383740485c4e40445745373850"
      "6d51575f626768673e4d71257064786363636363636363636363636363636363636363636363636373636363636363636343f6ba"
      "0490620000636363636363ffc0001108000c001003012200021101031101ffc401a2000001050101010101010000000000000000"
      "0102030405060708090aa8000002010303020403050504040000017d01020300041105122130410613516107227114328191a108"
      "2342b1c11552d1f02433627282090a161718191a25262728292a2e35363738393a434445464748494a535455565758595a636465"
      "666768696a737475767778797a838485868788898a92939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5"
      "c6c7c8c9cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa010003010101010101010101000000000000"
      "0102030405060708090a0b1100020102040403040705040400010277000102031104052130061241510761711322328108144291"
      "a1b1c109233352f0156272d10a162434e125f11718191a262728292a35363738393a434445464748494a535455565758595a6364"
      "65666768696a737475767778797a82838485868788898192939495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3"
      "c4c5c6c7c8c9cad2d3d4d5d6d7d8d9dae2e3e47270d345000020600000f6f7f8f9faffda000c03010002110311003f00d06bab30"
      "b956c9f455e7f5e41b7200e51a0489504e470d0a1a0a0000000d7200e6197300494844520000000c0000000c0802000001ae10fb"
      "26000000f949444154789ce7636030cd9a7f");

// Width and height from the baseline frame header the encoder writes.
std::pair<int, int> JpegSize(const std::string& jpeg) {
  auto at = jpeg.find("\xFF\xC0");
  if (at == std::string::npos || at + 9 > jpeg.size()) return {0, 0};
  auto byte = [&](size_t i) { return static_cast<unsigned char>(jpeg[at + i]); };
  return {byte(7) << 8 | byte(8), byte(5) << 8 | byte(6)};
}

TEST(Thumbnail, OnlySaneImagesOfKnownFormatsGiveThumbnails) {
  struct Case {
    const char* what;
    std::string bytes;
    int width, height;  // of the thumbnail; 0: none is made
  } cases[] = {
      {"JPEG with a table of 4080 codes", JpegWithOversizedTable(), 0, 0},
      {"JPEG out of bits", kJpegOutOfBits, 0, 0},
      {"JPEG with a stray code", kJpegStraySymbol, 0, 0},
      {"TGA", Tga(), 0, 0},
      {"nothing", "", 0, 0},
      {"PNG header alone", Png(300, 200).substr(0, 33), 0, 0},
      {"PNG data chunk declaring 2 GiB", PngDeclaring(0x7FFFFFF0), 0, 0},
      {"PNG of 300 x 200", Png(300, 200), 160, 106},
      {"PNG of 90 x 300", Png(90, 300), 48, 160},
      {"PNG within the edge", Png(40, 30), 40, 30},
      // Legal, if odd: an empty data chunk before the real one.
      {"PNG with an empty data chunk", Png(40, 30).insert(33, Chunk("IDAT", "", 0)), 40, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto thumb = ThumbnailOf(c.bytes, 160);
    ASSERT_EQ(thumb.has_value(), c.width != 0);
    if (!thumb) continue;
    EXPECT_EQ(JpegSize(*thumb), std::make_pair(c.width, c.height));
  }
}

// What the decoder reserves follows the image's pixels, not the sizes its
// chunks declare.
TEST(Thumbnail, DeclaredChunkSizesAreNotReserved) {
  if (!__sanitizer_install_malloc_and_free_hooks) GTEST_SKIP() << "allocations are seen in sanitizer builds only";
  static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
  ASSERT_TRUE(installed);
  for (uint32_t declared : {0x7FFFFFF0u, 0x10000000u, 0x01000000u}) {
    SCOPED_TRACE(declared);
    largestAllocation = 0;
    EXPECT_FALSE(ThumbnailOf(PngDeclaring(declared), 160));
    EXPECT_LT(largestAllocation.load(), size_t{1} << 20);
  }
}

}  // namespace
}  // namespace cloudserver
