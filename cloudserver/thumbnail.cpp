#include "thumbnail.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

#include <algorithm>
#include <fstream>
#include <memory>

#include "util.h"

namespace cloudserver {
namespace {

void AppendBytes(void* context, void* data, int size) {
  static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<size_t>(size));
}

struct StbiFree {
  void operator()(unsigned char* p) const { stbi_image_free(p); }
};

// The PNG reader reserves a data chunk's declared length before reading it,
// so a few bytes declaring 2 GiB would take 2 GiB. Every chunk up to the end
// of the image must lie within the bytes at hand.
bool PngChunksFit(std::string_view image) {
  if (image.substr(0, 8) != std::string_view("\x89PNG\r\n\x1a\n", 8)) return true;  // not a PNG
  size_t at = 8;
  while (image.size() - at >= 8) {
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(image[at + i])); };
    const uint32_t length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    if (length > image.size() - at - 8) return false;
    if (image.substr(at + 4, 4) == "IEND") return true;
    at += 8 + size_t{length};
    if (image.size() - at < 4) return true;  // the CRC cut off: the decoder judges that
    at += 4;
  }
  return true;
}

}  // namespace

std::optional<std::string> ThumbnailOf(std::string_view image, int edge, int64_t maxPixels) {
  if (image.empty() || static_cast<int64_t>(image.size()) > kMaxThumbnailSourceBytes || edge < 1) return std::nullopt;
  if (!PngChunksFit(image)) return std::nullopt;
  const auto* data = reinterpret_cast<const unsigned char*>(image.data());
  const int length = static_cast<int>(image.size());
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(data, length, &w, &h, &channels)) return std::nullopt;
  if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > maxPixels) return std::nullopt;
  int outChannels = (channels == 2 || channels == 4) ? 4 : 3;
  int dw = 0, dh = 0;
  std::unique_ptr<unsigned char, StbiFree> pixels(
      stbi_load_from_memory(data, length, &dw, &dh, &channels, outChannels));
  // The size decoded is the size checked, or the buffers below do not match.
  if (!pixels || dw != w || dh != h) return std::nullopt;
  int tw = w, th = h;
  if (w > edge || h > edge) {
    if (w >= h) {
      tw = edge;
      th = std::max(1, static_cast<int>(static_cast<int64_t>(h) * edge / w));
    } else {
      th = edge;
      tw = std::max(1, static_cast<int>(static_cast<int64_t>(w) * edge / h));
    }
  }
  std::vector<unsigned char> small;
  const unsigned char* thumb = pixels.get();
  if (tw != w || th != h) {  // an image within the edge is encoded as it is
    small.resize(static_cast<size_t>(tw) * th * outChannels);
    if (!stbir_resize_uint8(pixels.get(), w, h, 0, small.data(), tw, th, 0, outChannels)) return std::nullopt;
    thumb = small.data();
  }
  std::string out;
  int ok = outChannels == 4 ? stbi_write_png_to_func(AppendBytes, &out, tw, th, 4, thumb, tw * 4)
                            : stbi_write_jpg_to_func(AppendBytes, &out, tw, th, 3, thumb, 85);
  if (!ok || out.empty()) return std::nullopt;
  return out;
}

bool MakeThumbnail(const std::filesystem::path& source, const std::filesystem::path& target, int edge) {
  // The size first: a huge "image" is refused without reading it.
  std::error_code ec;
  auto size = std::filesystem::file_size(source, ec);
  if (ec || size == 0 || size > static_cast<uintmax_t>(kMaxThumbnailSourceBytes)) return false;
  std::ifstream in(source, std::ios::binary);
  if (!in) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return false;
  auto out = ThumbnailOf(bytes, edge);
  if (!out) return false;
  // Written aside and renamed, so a concurrent reader never sees half a file.
  std::filesystem::path tmp = target;
  tmp += ".tmp" + RandomHex(4);
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(out->data(), static_cast<std::streamsize>(out->size()));
    if (!f) return false;
  }
  std::filesystem::rename(tmp, target, ec);
  return !ec;
}

std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb) {
  std::string out;
  stbi_write_png_to_func(AppendBytes, &out, width, height, 3, rgb.data(), width * 3);
  return out;
}

}  // namespace cloudserver
