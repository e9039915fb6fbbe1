#include "contact_file.h"

#include "cache_paths.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace vdcache {
namespace {
struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};
}  // namespace

std::string FormatItemInfoLines(const std::vector<ItemInfo>& items) {
  std::string text;
  for (const ItemInfo& item : items) {
    text += item.itemID + ";";
    text += item.itemName + ";";
    text += std::to_string(item.itemType) + ";";
    for (const std::string& account : item.accountList) text += account + ",";
    text += ";\r\n";
  }
  return text;
}

bool WriteItemInfoToFile(const std::string& folder, const std::vector<ItemInfo>& items, int attempts) {
  AnsiCreateDirectories(folder);
  const std::string path = JoinAnsiPath(folder, "contact_cache.ini");
  const std::string text = FormatItemInfoLines(items);
  for (int i = 0; i < attempts; ++i) {
    if (i) std::this_thread::sleep_for(std::chrono::milliseconds(800));
    // Rewritten from the start and cut after the last line.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) continue;
    return std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  }
  return false;
}

}  // namespace vdcache
