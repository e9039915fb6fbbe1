// Thumbnails of arbitrary bytes. The first byte picks the edge, the rest is
// the "image". A thumbnail that comes out must decode again, within the edge.
#include <stb_image.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "thumbnail.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// The decoder's work grows with the declared pixels, not with the input; a
// lower bound than the service's keeps each run short. The refusal path is
// the same one.
constexpr int64_t kFuzzMaxPixels = int64_t{1} << 10;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int edge = 16 + data[0] * 4;
  // An exactly-sized heap copy: a read past the image lands outside it.
  std::unique_ptr<char[]> image(new char[size - 1]);
  if (size > 1) std::memcpy(image.get(), data + 1, size - 1);
  auto thumb = cloudserver::ThumbnailOf(std::string_view(image.get(), size - 1), edge, kFuzzMaxPixels);
  if (!thumb) return 0;

  const auto* bytes = reinterpret_cast<const unsigned char*>(thumb->data());
  const bool png = thumb->compare(0, 8, "\x89PNG\r\n\x1a\n", 8) == 0;
  Require(png || thumb->compare(0, 3, "\xFF\xD8\xFF", 3) == 0);
  int w = 0, h = 0, channels = 0;
  Require(stbi_info_from_memory(bytes, static_cast<int>(thumb->size()), &w, &h, &channels) == 1);
  Require(w >= 1 && h >= 1 && w <= edge && h <= edge);
  // Transparency is what makes a PNG thumbnail.
  Require(png == (channels == 4));
  return 0;
}
