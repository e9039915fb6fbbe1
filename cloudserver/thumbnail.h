#pragma once
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloudserver {

// Sources past these are refused before a byte of them is decoded: an image
// file is client bytes, and its header alone decides what the decoder
// allocates (4 bytes a pixel).
constexpr int64_t kMaxThumbnailSourceBytes = int64_t{64} << 20;
constexpr int64_t kMaxThumbnailSourcePixels = int64_t{16} << 20;

// Encoded thumbnail of image bytes (PNG, JPEG, GIF or BMP) whose longer edge
// is at most `edge` pixels: PNG when the source has transparency, else JPEG.
// nullopt for anything undecodable or past the limits.
std::optional<std::string> ThumbnailOf(std::string_view image, int edge,
                                       int64_t maxPixels = kMaxThumbnailSourcePixels);

// ThumbnailOf a file, written to target (aside, then renamed).
bool MakeThumbnail(const std::filesystem::path& source, const std::filesystem::path& target, int edge);

// Encodes 8-bit RGB pixels as PNG bytes (used to seed sample images).
std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb);

}  // namespace cloudserver
