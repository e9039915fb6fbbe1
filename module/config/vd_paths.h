#pragma once
// Where the library finds its files: the module's parent folder, the install
// folder's images, the per-user data folders, and the checks on the host
// process. Pure functions over paths, so they run the same on every system.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vd::config {

// Paths built here use "\": they are Windows paths even when computed natively.
inline constexpr char16_t kSep = u'\\';
inline constexpr size_t kMaxPath = 260;

struct ModuleLocation {
  std::u16string parent_folder;      // C:\A\B\lib.dll -> C:\A
  std::u16string library_in_parent;  // C:\A\B\lib.dll -> C:\A\lib.dll
};

// Nothing when a "\" is missing at any step or a result would not fit 260 characters.
std::optional<ModuleLocation> SplitModulePath(std::u16string_view full_path);

// "<setup>images" when the value ends in "\", else "<setup>\images".
std::u16string ImagesFolder(std::u16string_view setup);

inline constexpr size_t kStateIconCount = 14;
inline constexpr size_t kTypeIconCount = 5;
std::array<std::u16string, kStateIconCount> StateIconPaths(std::u16string_view images);
std::array<std::u16string, kTypeIconCount> TypeIconPaths(std::u16string_view images);

// Registry key of the install folder; 64-bit processors keep it under Wow6432Node.
std::u16string SetupKeyPath(bool is_64bit_processor);

// Folders under My Documents.
class DataFolders {
 public:
  explicit DataFolders(std::u16string documents) : documents_(std::move(documents)) {}
  std::u16string Root() const;                    // <docs>\ORLO
  std::u16string LogFolder() const;               // <docs>\ORLO\log\VD
  std::u16string LogFile(std::u16string_view host_exe_path) const;  // ...\Pandrel.<host>.log
  std::u16string XLogFolder() const;              // <docs>\ORLO\log\xlog\ (with the trailing "\")
  std::u16string AccountFolder(std::u16string_view account) const;
  std::u16string CacheDb(std::u16string_view account) const;
  std::u16string OpenFilesFolder(std::u16string_view account) const;
  std::u16string TempFolder(std::u16string_view account) const;
  std::u16string AccountSettings(std::u16string_view account) const;  // NimbraSet.ini
  std::u16string AdvertFolder() const;            // <docs>\ORLO\Advertice\ (with the trailing "\")
  std::u16string SyncStateFile() const;           // <docs>\ORLO\SyncDirStateFile.dat

 private:
  std::u16string documents_;
};

// The host executable's base name cut at its first ".": "explorer".
std::u16string HostBaseName(std::u16string_view exe_path);

// 1 Windows 2000, 2 XP / Server 2003, 3 Vista, 4 Windows 7, 5 Windows 8, 0 other.
int GetOS(unsigned major, unsigned minor);

bool IsHostInExplorer(std::u16string_view exe_path);

// Reads the first number of an executable's file version.
using VersionReader = std::function<std::optional<unsigned>(std::u16string_view exe_path)>;

// False only inside office programs newer than major version 12.
bool CheckAppVersion(std::u16string_view exe_path, const VersionReader& major_version);

}  // namespace vd::config
