#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/files.h"
#include "platform/text.h"

namespace fs = std::filesystem;

namespace platform {
namespace {

fs::path ToPath(std::u16string_view p) { return fs::path(Utf16ToUtf8(p)); }

Result FromErrno(int e) {
  switch (e) {
    case 0: return kOk;
    case ENOENT: return kNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    case ENOSPC:
    case EDQUOT: return kDiskFull;
    case EEXIST: return kAlreadyExists;
    case ENOTEMPTY: return kDirNotEmpty;
    case ENOMEM: return kOutOfMemory;
    default: return kGenFailure;
  }
}

Result FromError(const std::error_code& ec) { return ec ? FromErrno(ec.value()) : kOk; }

// 0, or the errno of the write that failed.
int WriteAll(int fd, std::string_view bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

class PosixFileSystem final : public IFileSystem {
 public:
  bool Exists(std::u16string_view path) override {
    std::error_code ec;
    return fs::exists(ToPath(path), ec);
  }

  bool IsDirectory(std::u16string_view path) override {
    std::error_code ec;
    return fs::is_directory(ToPath(path), ec);
  }

  std::optional<uint64_t> FileSize(std::u16string_view path) override {
    std::error_code ec;
    auto size = fs::file_size(ToPath(path), ec);
    if (ec) return std::nullopt;
    return size;
  }

  Result CreateDirectories(std::u16string_view path) override {
    std::error_code ec;
    fs::create_directories(ToPath(path), ec);
    if (ec) return FromError(ec);
    return fs::is_directory(ToPath(path), ec) ? kOk : kAlreadyExists;
  }

  Result ReadFile(std::u16string_view path, std::string& bytes) override {
    int fd = ::open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FromErrno(errno);
    bytes.clear();
    char buf[65536];
    for (;;) {
      ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        int e = errno;
        ::close(fd);
        return FromErrno(e);
      }
      if (n == 0) break;
      bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return kOk;
  }

  Result WriteFileAtomic(std::u16string_view path, std::string_view bytes) override {
    std::string target = Utf16ToUtf8(path);
    std::string temp = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(Counter());
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return FromErrno(errno);
    if (int e = WriteAll(fd, bytes); e != 0) {
      ::close(fd);
      ::unlink(temp.c_str());
      return FromErrno(e);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
      int e = errno;
      ::unlink(temp.c_str());
      return FromErrno(e);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      int e = errno;
      ::unlink(temp.c_str());
      return FromErrno(e);
    }
    return kOk;
  }

  Result AppendFile(std::u16string_view path, std::string_view bytes) override {
    int fd = ::open(Utf16ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return FromErrno(errno);
    if (int e = WriteAll(fd, bytes); e != 0) {
      ::close(fd);
      return FromErrno(e);
    }
    return ::close(fd) == 0 ? kOk : FromErrno(errno);
  }

  Result Rename(std::u16string_view from, std::u16string_view to) override {
    if (::rename(Utf16ToUtf8(from).c_str(), Utf16ToUtf8(to).c_str()) != 0) return FromErrno(errno);
    return kOk;
  }

  Result RemoveFile(std::u16string_view path) override {
    if (::unlink(Utf16ToUtf8(path).c_str()) != 0) return FromErrno(errno);
    return kOk;
  }

  Result RemoveTree(std::u16string_view path) override {
    std::error_code ec;
    auto removed = fs::remove_all(ToPath(path), ec);
    if (ec) return FromError(ec);
    return removed ? kOk : kNotFound;
  }

  Result List(std::u16string_view folder, std::vector<DirEntry>& entries) override {
    entries.clear();
    std::error_code ec;
    fs::directory_iterator it(ToPath(folder), ec), end;
    if (ec) return FromError(ec);
    for (; it != end; it.increment(ec)) {
      if (ec) return FromError(ec);
      DirEntry e;
      e.name = Utf8ToUtf16(it->path().filename().string());
      std::error_code ec2;
      e.is_directory = it->is_directory(ec2);
      if (!e.is_directory) e.size = it->file_size(ec2);
      struct stat st {};
      if (::stat(it->path().c_str(), &st) == 0) e.modified_unix = st.st_mtime;
      entries.push_back(std::move(e));
    }
    return kOk;
  }

  std::optional<DirEntry> Stat(std::u16string_view path) override {
    struct stat st {};
    const fs::path p = ToPath(path);
    if (::stat(p.c_str(), &st) != 0) return std::nullopt;
    DirEntry e;
    e.name = Utf8ToUtf16(p.filename().string());
    e.is_directory = S_ISDIR(st.st_mode);
    if (!e.is_directory) e.size = static_cast<uint64_t>(st.st_size);
    e.modified_unix = st.st_mtime;
    return e;
  }

  std::optional<std::u16string> GetKnownFolder(KnownFolder which) override {
    const char* value = nullptr;
    switch (which) {
      case KnownFolder::Documents:
        // Tests point this at a scratch folder; a user's would be ~/Documents.
        value = std::getenv("VD_DOCUMENTS");
        if (!value) {
          const char* home = std::getenv("HOME");
          if (!home) return std::nullopt;
          return Utf8ToUtf16(std::string(home) + "/Documents");
        }
        break;
      case KnownFolder::Temp:
        value = std::getenv("TMPDIR");
        if (!value) value = "/tmp";
        break;
    }
    return Utf8ToUtf16(value);
  }

 private:
  static unsigned Counter() {
    static std::atomic<unsigned> n{0};
    return n++;
  }
};

class PosixLocalFile final : public LocalFile {
 public:
  explicit PosixLocalFile(int fd) : fd_(fd) {}
  ~PosixLocalFile() override { ::close(fd_); }
  PosixLocalFile(const PosixLocalFile&) = delete;
  PosixLocalFile& operator=(const PosixLocalFile&) = delete;

  int64_t ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    while (true) {
      ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
      if (n >= 0) return n;
      if (errno != EINTR) return -1;
    }
  }
  bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
    const char* p = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(fd_, p + done, size - done, static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<uint32_t>(n);
    }
    return true;
  }
  bool Truncate(uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }
  std::optional<uint64_t> Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return std::nullopt;
    return static_cast<uint64_t>(st.st_size);
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<LocalFile> LocalFile::Open(std::string_view ansiPath, Mode mode, uint32_t, Result* error) {
  // POSIX paths are UTF-8, which is what the ANSI forms are here.
  const std::string path(ansiPath);
  auto fail = [&](Result r) -> std::unique_ptr<LocalFile> {
    if (error) *error = r;
    return nullptr;
  };
  if (path.find('\0') != std::string::npos) return fail(kInvalidParameter);
  const int fd = ::open(path.c_str(), (mode == Mode::Read ? O_RDONLY : O_RDWR | O_CREAT) | O_CLOEXEC, 0644);
  if (fd < 0) return fail(FromErrno(errno));
  auto file = std::make_unique<PosixLocalFile>(fd);
  // A folder is no file to transfer, as Windows has it.
  struct stat st;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) return fail(kAccessDenied);
  if (error) *error = kOk;
  return file;
}

IFileSystem& SystemFileSystem() {
  static PosixFileSystem files;
  return files;
}

char16_t PathSeparator() { return u'/'; }

bool SetNormalAttributes(std::string_view ansiPath) {
  struct stat st;
  return ::stat(std::string(ansiPath).c_str(), &st) == 0;
}

std::u16string ExecutablePath() {
  std::error_code ec;
  return Utf8ToUtf16(fs::read_symlink("/proc/self/exe", ec).string());
}

}  // namespace platform
