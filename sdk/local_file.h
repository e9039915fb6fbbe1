#pragma once
// A local file named by an 8-bit path in the caller's ANSI code page, for
// the calls that take a path instead of a transfer record.
#include <cstdint>
#include <memory>
#include <string>

namespace corbel {

class LocalFile {
 public:
  virtual ~LocalFile() = default;
  static std::unique_ptr<LocalFile> OpenRead(const std::string& ansiPath);
  // Creates or empties the file.
  static std::unique_ptr<LocalFile> Create(const std::string& ansiPath);
  // Bytes read, 0 at the end, -1 on an error.
  virtual std::int64_t Read(void* buffer, std::uint32_t size) = 0;
  virtual bool Write(const void* data, std::uint32_t size) = 0;
};

// Replaces `to` with `from`.
bool RenameLocalFile(const std::string& fromAnsi, const std::string& toAnsi);
bool RemoveLocalFile(const std::string& ansiPath);

// Called once when the SDK starts its first thread: keeps the module loaded
// for as long as threads may run its code.
void OnFirstThreadStarting();

}  // namespace corbel
