#pragma once
// Files and folders. Paths are UTF-16 in the form of the host system
// ("C:\A\b.txt" on Windows, "/a/b.txt" on POSIX); the product joins them with
// JoinPath so that both forms work.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

struct DirEntry {
  std::u16string name;
  bool is_directory = false;
  uint64_t size = 0;
  int64_t modified_unix = 0;  // last write, seconds since 1970 (UTC)
  bool hidden_or_system = false;  // Windows' hidden or system attribute; never set elsewhere
};

enum class KnownFolder { Documents, Temp };

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  virtual bool Exists(std::u16string_view path) = 0;
  virtual bool IsDirectory(std::u16string_view path) = 0;
  virtual std::optional<uint64_t> FileSize(std::u16string_view path) = 0;
  // Creates the folder with all missing parents; an existing folder is success.
  virtual Result CreateDirectories(std::u16string_view path) = 0;
  virtual Result ReadFile(std::u16string_view path, std::string& bytes) = 0;
  // Writes to a sibling temporary file and renames it over `path`, so that a
  // reader sees the old or the new content, never a torn one.
  virtual Result WriteFileAtomic(std::u16string_view path, std::string_view bytes) = 0;
  // Appends to the file, creating it when missing.
  virtual Result AppendFile(std::u16string_view path, std::string_view bytes) = 0;
  virtual Result Rename(std::u16string_view from, std::u16string_view to) = 0;
  virtual Result RemoveFile(std::u16string_view path) = 0;
  virtual Result RemoveTree(std::u16string_view path) = 0;
  virtual Result List(std::u16string_view folder, std::vector<DirEntry>& entries) = 0;
  // One entry, named by the last part of `path`; nothing when it is not there.
  virtual std::optional<DirEntry> Stat(std::u16string_view path) = 0;
  virtual std::optional<std::u16string> GetKnownFolder(KnownFolder which) = 0;
};

IFileSystem& SystemFileSystem();

// One local file a transfer reads (an upload's source) or writes (a
// download's target) at absolute offsets. Read mode opens an existing file
// and lets others read it too; write mode opens or creates the file for this
// object alone. The path is in the ANSI code page, as transfer paths are.
class LocalFile {
 public:
  enum class Mode { Read, Write };
  virtual ~LocalFile() = default;
  // Null, with the reason in `error`, when the file does not open.
  // `attributes`: the Windows file attributes of a file this creates.
  static std::unique_ptr<LocalFile> Open(std::string_view ansiPath, Mode mode, uint32_t attributes,
                                         Result* error = nullptr);
  // Bytes read, 0 at the end of the file, -1 on an error.
  virtual int64_t ReadAt(uint64_t offset, void* buffer, uint32_t size) = 0;
  // True when all `size` bytes were written.
  virtual bool WriteAt(uint64_t offset, const void* data, uint32_t size) = 0;
  // Cuts or extends the file to `size` bytes.
  virtual bool Truncate(uint64_t size) = 0;
  virtual std::optional<uint64_t> Size() = 0;
};

// Clears the hidden and other special attributes a partial download was
// made with (Windows); nothing to do elsewhere.
bool SetNormalAttributes(std::string_view ansiPath);

char16_t PathSeparator();
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);
// Full path of the running executable.
std::u16string ExecutablePath();

}  // namespace platform
