#pragma once
// Temporary folders and whole-file reads for the service library's tests.
#include <filesystem>
#include <string>
#include <vector>

namespace vd::service::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path);
// Files in `dir` whose names begin with `prefix`.
std::vector<std::string> FilesStartingWith(const std::filesystem::path& dir, const std::string& prefix);

}  // namespace vd::service::test
