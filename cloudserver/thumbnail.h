#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace cloudserver {

// Decodes an image file and writes a thumbnail whose longer edge is at most
// `edge` pixels: PNG when the source has transparency, else JPEG.
bool MakeThumbnail(const std::filesystem::path& source, const std::filesystem::path& target, int edge);

// Encodes 8-bit RGB pixels as PNG bytes (used to seed sample images).
std::string EncodePng(int width, int height, const std::vector<unsigned char>& rgb);

}  // namespace cloudserver
