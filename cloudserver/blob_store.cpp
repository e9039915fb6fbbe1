#include "blob_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "util.h"

namespace cloudserver {
namespace fs = std::filesystem;

namespace {
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// Upload keys become file names: only "<task>_<content>" characters, so no
// key can name a path outside the partial folder.
bool IsUploadKey(std::string_view key) {
  if (key.empty() || key.size() > 128) return false;
  for (char c : key)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '_')) return false;
  return true;
}

bool WriteAll(int fd, const char* p, size_t n, off_t off) {
  while (n > 0) {
    ssize_t w = ::pwrite(fd, p, n, off);
    if (w < 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
    off += w;
  }
  return true;
}
}  // namespace

BlobStore::BlobStore(fs::path root) : root_(std::move(root)) {
  fs::create_directories(root_ / "blobs");
  fs::create_directories(root_ / "partial");
  fs::create_directories(root_ / "thumbs");
}

fs::path BlobStore::BlobPath(std::string_view md5) const {
  return root_ / "blobs" / std::string(md5.substr(0, 2)) / std::string(md5);
}

fs::path BlobStore::PartialPath(std::string_view key) const { return root_ / "partial" / std::string(key); }

fs::path BlobStore::ThumbPath(std::string_view md5, int edge) const {
  return root_ / "thumbs" / (std::string(md5) + "_" + std::to_string(edge));
}

bool BlobStore::Has(std::string_view md5, int64_t size) const {
  if (!IsMd5Hex(md5)) return false;
  std::error_code ec;
  auto s = fs::file_size(BlobPath(md5), ec);
  return !ec && static_cast<int64_t>(s) == size;
}

std::string BlobStore::Put(std::string_view bytes) {
  std::string md5 = Md5Hex(bytes);
  if (Has(md5, static_cast<int64_t>(bytes.size()))) return md5;
  fs::path final = BlobPath(md5);
  fs::create_directories(final.parent_path());
  fs::path tmp = final;
  tmp += ".tmp" + RandomHex(4);
  {
    Fd fd(::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0 || !WriteAll(fd.get(), bytes.data(), bytes.size(), 0) || ::fsync(fd.get()) != 0)
      throw std::runtime_error("blob write failed: " + tmp.string());
  }
  fs::rename(tmp, final);
  return md5;
}

int64_t BlobStore::PartialSize(std::string_view key) const {
  if (!IsUploadKey(key)) return 0;
  std::error_code ec;
  auto s = fs::file_size(PartialPath(key), ec);
  return ec ? 0 : static_cast<int64_t>(s);
}

std::optional<int64_t> BlobStore::WriteRange(std::string_view key, int64_t offset, std::string_view data) {
  if (offset < 0 || !IsUploadKey(key)) return std::nullopt;
  fs::path p = PartialPath(key);
  Fd fd(::open(p.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (fd.get() < 0) return std::nullopt;
  off_t size = ::lseek(fd.get(), 0, SEEK_END);
  if (size < 0 || offset > size) return std::nullopt;
  if (!WriteAll(fd.get(), data.data(), data.size(), static_cast<off_t>(offset))) return std::nullopt;
  int64_t end = offset + static_cast<int64_t>(data.size());
  if (::ftruncate(fd.get(), static_cast<off_t>(end)) != 0) return std::nullopt;
  // The stored-bytes answer is a promise that survives a crash.
  if (::fdatasync(fd.get()) != 0) return std::nullopt;
  return end;
}

bool BlobStore::Finalize(std::string_view key, std::string_view md5) {
  if (!IsUploadKey(key) || !IsMd5Hex(md5)) return false;
  fs::path p = PartialPath(key);
  if (Md5File(p.string()) != md5) return false;
  fs::path final = BlobPath(md5);
  std::error_code ec;
  fs::create_directories(final.parent_path(), ec);
  if (fs::exists(final)) {
    fs::remove(p, ec);
    return true;
  }
  fs::rename(p, final, ec);
  return !ec;
}

void BlobStore::RemovePartial(std::string_view key) {
  if (!IsUploadKey(key)) return;
  std::error_code ec;
  fs::remove(PartialPath(key), ec);
}

}  // namespace cloudserver
