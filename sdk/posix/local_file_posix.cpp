#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "local_file.h"

namespace corbel {
namespace {

class PosixFile final : public LocalFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return n;
      if (errno != EINTR) return -1;
    }
  }
  bool Write(const void* data, std::uint32_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      size -= static_cast<std::uint32_t>(n);
    }
    return true;
  }

 private:
  int fd_;
};

std::unique_ptr<LocalFile> Open(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

}  // namespace

// On POSIX the ANSI code page is UTF-8, the file system's own encoding.
std::unique_ptr<LocalFile> LocalFile::OpenRead(const std::string& ansiPath) { return Open(ansiPath, O_RDONLY); }
std::unique_ptr<LocalFile> LocalFile::Create(const std::string& ansiPath) {
  return Open(ansiPath, O_WRONLY | O_CREAT | O_TRUNC);
}
bool RenameLocalFile(const std::string& fromAnsi, const std::string& toAnsi) {
  return std::rename(fromAnsi.c_str(), toAnsi.c_str()) == 0;
}
bool RemoveLocalFile(const std::string& ansiPath) { return ::unlink(ansiPath.c_str()) == 0; }

// Nothing to pin: a shared object here is not unloaded under running threads.
void OnFirstThreadStarting() {}

}  // namespace corbel
