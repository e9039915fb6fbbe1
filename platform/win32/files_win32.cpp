#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/unique.h"

namespace platform {
namespace {

using win32::unique_hfile;
using win32::W;

Result LastError() { return static_cast<Result>(::GetLastError()); }

class Win32FileSystem final : public IFileSystem {
 public:
  bool Exists(std::u16string_view path) override {
    std::u16string p(path);
    return ::GetFileAttributesW(W(p)) != INVALID_FILE_ATTRIBUTES;
  }

  bool IsDirectory(std::u16string_view path) override {
    std::u16string p(path);
    DWORD a = ::GetFileAttributesW(W(p));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }

  std::optional<uint64_t> FileSize(std::u16string_view path) override {
    std::u16string p(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(W(p), GetFileExInfoStandard, &data)) return std::nullopt;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }

  Result CreateDirectories(std::u16string_view path) override {
    std::u16string p(path);
    while (!p.empty() && (p.back() == u'\\' || p.back() == u'/')) p.pop_back();
    if (p.empty()) return kInvalidParameter;
    if (IsDirectory(p)) return kOk;
    auto cut = p.find_last_of(u"\\/");
    if (cut != std::u16string::npos && cut > 0 && p[cut - 1] != u':') {
      if (Result r = CreateDirectories(std::u16string_view(p).substr(0, cut)); r != kOk) return r;
    }
    if (::CreateDirectoryW(W(p), nullptr)) return kOk;
    Result r = LastError();
    return (r == ERROR_ALREADY_EXISTS && IsDirectory(p)) ? kOk : r;
  }

  Result ReadFile(std::u16string_view path, std::string& bytes) override {
    std::u16string p(path);
    unique_hfile file(::CreateFileW(W(p), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    bytes.clear();
    char buf[65536];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) return LastError();
      if (got == 0) break;
      bytes.append(buf, got);
    }
    return kOk;
  }

  Result WriteFileAtomic(std::u16string_view path, std::string_view bytes) override {
    static std::atomic<unsigned> counter{0};
    std::u16string target(path);
    std::u16string temp = target + u".tmp";
    for (char c : std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(counter++)) temp.push_back(c);
    {
      unique_hfile file(::CreateFileW(W(temp), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return LastError();
      size_t done = 0;
      while (done < bytes.size()) {
        DWORD put = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &put, nullptr)) {
          Result r = LastError();
          file.reset();
          ::DeleteFileW(W(temp));
          return r;
        }
        done += put;
      }
      ::FlushFileBuffers(file.get());
    }
    if (!::MoveFileExW(W(temp), W(target), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Result r = LastError();
      ::DeleteFileW(W(temp));
      return r;
    }
    return kOk;
  }

  Result AppendFile(std::u16string_view path, std::string_view bytes) override {
    std::u16string p(path);
    unique_hfile file(::CreateFileW(W(p), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    size_t done = 0;
    while (done < bytes.size()) {
      DWORD put = 0;
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
      if (!::WriteFile(file.get(), bytes.data() + done, chunk, &put, nullptr)) return LastError();
      done += put;
    }
    return kOk;
  }

  Result Rename(std::u16string_view from, std::u16string_view to) override {
    std::u16string f(from), t(to);
    return ::MoveFileExW(W(f), W(t), MOVEFILE_REPLACE_EXISTING) ? kOk : LastError();
  }

  Result RemoveFile(std::u16string_view path) override {
    std::u16string p(path);
    return ::DeleteFileW(W(p)) ? kOk : LastError();
  }

  Result RemoveTree(std::u16string_view path) override {
    std::u16string p(path);
    DWORD a = ::GetFileAttributesW(W(p));
    if (a == INVALID_FILE_ATTRIBUTES) return kNotFound;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return RemoveFile(p);
    std::vector<DirEntry> entries;
    if (Result r = List(p, entries); r != kOk) return r;
    for (auto& e : entries) {
      if (Result r = RemoveTree(JoinPath(p, e.name)); r != kOk) return r;
    }
    return ::RemoveDirectoryW(W(p)) ? kOk : LastError();
  }

  Result List(std::u16string_view folder, std::vector<DirEntry>& entries) override {
    entries.clear();
    std::u16string pattern = JoinPath(folder, u"*");
    WIN32_FIND_DATAW data;
    HANDLE h = ::FindFirstFileW(W(pattern), &data);
    if (h == INVALID_HANDLE_VALUE) {
      Result r = LastError();
      return r == ERROR_FILE_NOT_FOUND ? kOk : r;
    }
    do {
      std::u16string name = win32::U16(data.cFileName);
      if (name == u"." || name == u"..") continue;
      DirEntry e;
      e.name = std::move(name);
      e.is_directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
      e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      uint64_t ft = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
      e.modified_unix = static_cast<int64_t>(ft / 10000000ull) - 11644473600ll;  // FILETIME epoch is 1601
      e.hidden_or_system = data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
      entries.push_back(std::move(e));
    } while (::FindNextFileW(h, &data));
    ::FindClose(h);
    return kOk;
  }

  std::optional<DirEntry> Stat(std::u16string_view path) override {
    std::u16string p(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(W(p), GetFileExInfoStandard, &data)) return std::nullopt;
    DirEntry e;
    const auto cut = p.find_last_of(u"\\/");
    e.name = cut == std::u16string::npos ? p : p.substr(cut + 1);
    e.is_directory = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    if (!e.is_directory) e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    uint64_t ft = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    e.modified_unix = static_cast<int64_t>(ft / 10000000ull) - 11644473600ll;
    e.hidden_or_system = data.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return e;
  }

  std::optional<std::u16string> GetKnownFolder(KnownFolder which) override {
    wchar_t buf[MAX_PATH + 1] = {};
    if (which == KnownFolder::Documents) {
      if (!::SHGetSpecialFolderPathW(nullptr, buf, CSIDL_PERSONAL, TRUE)) return std::nullopt;
    } else {
      DWORD n = ::GetTempPathW(MAX_PATH + 1, buf);
      if (n == 0 || n > MAX_PATH) return std::nullopt;
      if (n > 1 && buf[n - 1] == L'\\') buf[n - 1] = 0;
    }
    return win32::U16(buf);
  }
};

class Win32LocalFile final : public LocalFile {
 public:
  explicit Win32LocalFile(win32::unique_hfile file) : file_(std::move(file)) {}

  int64_t ReadAt(uint64_t offset, void* buffer, uint32_t size) override {
    OVERLAPPED at = At(offset);
    DWORD read = 0;
    if (::ReadFile(file_.get(), buffer, size, &read, &at)) return read;
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  bool WriteAt(uint64_t offset, const void* data, uint32_t size) override {
    const char* p = static_cast<const char*>(data);
    uint32_t done = 0;
    while (done < size) {
      OVERLAPPED at = At(offset + done);
      DWORD written = 0;
      if (!::WriteFile(file_.get(), p + done, size - done, &written, &at) || written == 0) return false;
      done += written;
    }
    return true;
  }
  bool Truncate(uint64_t size) override {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file_.get(), to, nullptr, FILE_BEGIN) && ::SetEndOfFile(file_.get());
  }
  std::optional<uint64_t> Size() override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(file_.get(), &size)) return std::nullopt;
    return static_cast<uint64_t>(size.QuadPart);
  }

 private:
  // A synchronous handle takes its position from the OVERLAPPED offset.
  static OVERLAPPED At(uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
  }

  win32::unique_hfile file_;
};

}  // namespace

std::unique_ptr<LocalFile> LocalFile::Open(std::string_view ansiPath, Mode mode, uint32_t attributes, Result* error) {
  const std::string path(ansiPath);
  win32::unique_hfile file;
  if (path.find('\0') == std::string::npos) {
    const bool read = mode == Mode::Read;
    file.reset(::CreateFileA(path.c_str(), read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                             read ? FILE_SHARE_READ : 0, nullptr, read ? OPEN_EXISTING : OPEN_ALWAYS, attributes,
                             nullptr));
  } else {
    ::SetLastError(ERROR_INVALID_PARAMETER);
  }
  if (error) *error = file ? kOk : static_cast<Result>(::GetLastError());
  if (!file) return nullptr;
  return std::make_unique<Win32LocalFile>(std::move(file));
}

IFileSystem& SystemFileSystem() {
  static Win32FileSystem files;
  return files;
}

char16_t PathSeparator() { return u'\\'; }

bool SetNormalAttributes(std::string_view ansiPath) {
  const std::u16string wide = AnsiToWide(ansiPath);
  return ::SetFileAttributesW(W(wide), FILE_ATTRIBUTE_NORMAL) != FALSE;
}

std::u16string ExecutablePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) return win32::U16(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

}  // namespace platform
