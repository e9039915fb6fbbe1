#include <windows.h>

#include "local_file.h"
#include "platform/text.h"

namespace corbel {
namespace {

std::wstring WidePath(const std::string& ansi) {
  std::u16string w = platform::AnsiToWide(ansi);
  return std::wstring(w.begin(), w.end());
}

class Win32File final : public LocalFile {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { CloseHandle(h_); }
  std::int64_t Read(void* buffer, std::uint32_t size) override {
    DWORD got = 0;
    if (!ReadFile(h_, buffer, size, &got, nullptr)) return -1;
    return got;
  }
  bool Write(const void* data, std::uint32_t size) override {
    DWORD put = 0;
    return WriteFile(h_, data, size, &put, nullptr) && put == size;
  }

 private:
  HANDLE h_;
};

std::unique_ptr<LocalFile> Open(const std::string& path, DWORD access, DWORD disposition) {
  HANDLE h = CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(h);
}

}  // namespace

std::unique_ptr<LocalFile> LocalFile::OpenRead(const std::string& ansiPath) {
  return Open(ansiPath, GENERIC_READ, OPEN_EXISTING);
}
std::unique_ptr<LocalFile> LocalFile::Create(const std::string& ansiPath) {
  return Open(ansiPath, GENERIC_WRITE, CREATE_ALWAYS);
}
bool RenameLocalFile(const std::string& fromAnsi, const std::string& toAnsi) {
  return MoveFileExW(WidePath(fromAnsi).c_str(), WidePath(toAnsi).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
bool RemoveLocalFile(const std::string& ansiPath) { return DeleteFileW(WidePath(ansiPath).c_str()) != 0; }

// Threads of the SDK run code of this DLL until the process ends; pinning it
// means no FreeLibrary can unmap that code under them, and process exit ends
// them before the DLL is detached, so nothing ever waits for them there.
void OnFirstThreadStarting() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&OnFirstThreadStarting), &self);
}

}  // namespace corbel
