#pragma once
// A fresh folder under the temporary directory for one test, removed with
// everything in it. Portable: native and Windows tests use the same one.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace vd::testing {

class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "vd-test") {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            (std::string(prefix) + "-" + std::to_string(random()) + "-" + std::to_string(stamp) + "-" +
             std::to_string(counter.fetch_add(1)));
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace vd::testing
