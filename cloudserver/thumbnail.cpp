#include "thumbnail.h"

#include <stb_image.h>
#include <stb_image_resize.h>
#include <stb_image_write.h>

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

}  // namespace

bool MakeThumbnail(const std::filesystem::path& source, const std::filesystem::path& target, int edge) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty() || bytes.size() > (size_t{256} << 20)) return false;
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), &w,
                             &h, &channels))
    return false;
  // Refuse images whose decoded size would be absurd before decoding them.
  if (w <= 0 || h <= 0 || static_cast<int64_t>(w) * h > int64_t{64} << 20) return false;
  int outChannels = (channels == 2 || channels == 4) ? 4 : 3;
  std::unique_ptr<unsigned char, StbiFree> pixels(stbi_load_from_memory(
      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()), &w, &h, &channels,
      outChannels));
  if (!pixels) return false;
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
  std::vector<unsigned char> small(static_cast<size_t>(tw) * th * outChannels);
  if (!stbir_resize_uint8(pixels.get(), w, h, 0, small.data(), tw, th, 0, outChannels)) return false;
  std::string out;
  int ok = outChannels == 4 ? stbi_write_png_to_func(AppendBytes, &out, tw, th, 4, small.data(), tw * 4)
                            : stbi_write_jpg_to_func(AppendBytes, &out, tw, th, 3, small.data(), 85);
  if (!ok || out.empty()) return false;
  // Written aside and renamed, so a concurrent reader never sees half a file.
  std::filesystem::path tmp = target;
  tmp += ".tmp" + RandomHex(4);
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(out.data(), static_cast<std::streamsize>(out.size()));
    if (!f) return false;
  }
  std::error_code ec;
  std::filesystem::rename(tmp, target, ec);
  return !ec;
}

std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb) {
  std::string out;
  stbi_write_png_to_func(AppendBytes, &out, width, height, 3, rgb.data(), width * 3);
  return out;
}

}  // namespace cloudserver
