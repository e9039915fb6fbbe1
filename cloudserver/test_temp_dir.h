#pragma once
// A fresh folder under the temporary directory, removed with everything in it.
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace cloudserver {

class TempDir {
 public:
  explicit TempDir(const char* prefix) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace cloudserver
