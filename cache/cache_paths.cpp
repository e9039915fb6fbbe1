#include "cache_paths.h"

#include "platform/files.h"
#include "platform/text.h"

namespace vdcache {

char AnsiPathSeparator() { return static_cast<char>(platform::PathSeparator()); }

std::string JoinAnsiPath(std::string_view folder, std::string_view name) {
  if (folder.empty()) return std::string(name);
  std::string path(folder);
  if (path.back() != '/' && path.back() != '\\') path += AnsiPathSeparator();
  path += name;
  return path;
}

bool AnsiFileExists(const std::string& path) {
  return platform::SystemFileSystem().Exists(platform::AnsiToWide(path));
}

bool AnsiCreateDirectories(const std::string& path) {
  return platform::SystemFileSystem().CreateDirectories(platform::AnsiToWide(path)) == platform::kOk;
}

bool AnsiRemoveFile(const std::string& path) {
  return platform::SystemFileSystem().RemoveFile(platform::AnsiToWide(path)) == platform::kOk;
}

bool AnsiRename(const std::string& from, const std::string& to) {
  return platform::SystemFileSystem().Rename(platform::AnsiToWide(from), platform::AnsiToWide(to)) == platform::kOk;
}

}  // namespace vdcache
