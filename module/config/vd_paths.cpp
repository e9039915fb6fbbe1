#include "vd_paths.h"

#include "platform/text.h"

namespace vd::config {
namespace {

std::u16string Join(std::u16string_view a, std::u16string_view b) {
  std::u16string out(a);
  if (!out.empty() && out.back() != kSep) out.push_back(kSep);
  out.append(b);
  return out;
}

}  // namespace

std::optional<ModuleLocation> SplitModulePath(std::u16string_view full_path) {
  if (full_path.size() >= kMaxPath) return std::nullopt;
  size_t file_cut = full_path.rfind(kSep);
  if (file_cut == std::u16string_view::npos) return std::nullopt;
  std::u16string_view file_name = full_path.substr(file_cut + 1);
  std::u16string_view folder = full_path.substr(0, file_cut);
  size_t folder_cut = folder.rfind(kSep);
  if (folder_cut == std::u16string_view::npos) return std::nullopt;
  ModuleLocation out;
  out.parent_folder = std::u16string(folder.substr(0, folder_cut));
  out.library_in_parent = std::u16string(folder.substr(0, folder_cut + 1));
  out.library_in_parent.append(file_name);
  if (out.library_in_parent.size() >= kMaxPath) return std::nullopt;
  return out;
}

std::u16string ImagesFolder(std::u16string_view setup) {
  std::u16string out(setup);
  out += (!out.empty() && out.back() == kSep) ? u"images" : u"\\images";
  return out;
}

std::array<std::u16string, kStateIconCount> StateIconPaths(std::u16string_view images) {
  static constexpr const char16_t* kFiles[kStateIconCount] = {
      nullptr,
      u"\\state\\SharedFlag.ico",
      u"\\state\\SharedLinkFlag.ico",
      u"\\state\\SharedFlag.ico",
      u"\\state\\NewFlag.ico",
      u"\\state\\VDSyncDirOk.ico",
      u"\\state\\VDSyncDirSyning.ico",
      u"\\state\\SynOkAndOther.ico",
      u"\\state\\SynOkAndOther.ico",
      u"\\state\\SynOkAndOther.ico",
      u"\\state\\SyningAndOther.ico",
      u"\\state\\SyningAndOther.ico",
      u"\\state\\SyningAndOther.ico",
      u"\\state\\VDSyncDirSynPause.ico.ico",  // the installed file really has the doubled extension
  };
  std::array<std::u16string, kStateIconCount> out;
  for (size_t i = 1; i < kStateIconCount; ++i) out[i] = std::u16string(images) + kFiles[i];
  return out;
}

std::array<std::u16string, kTypeIconCount> TypeIconPaths(std::u16string_view images) {
  static constexpr const char16_t* kFiles[kTypeIconCount] = {
      u"\\state\\exe.ico", u"\\state\\rar.ico", u"\\state\\xml.ico", u"\\state\\pdf.ico", u"\\state\\null.ico"};
  std::array<std::u16string, kTypeIconCount> out;
  for (size_t i = 0; i < kTypeIconCount; ++i) out[i] = std::u16string(images) + kFiles[i];
  return out;
}

std::u16string SetupKeyPath(bool is_64bit_processor) {
  return is_64bit_processor ? u"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO" : u"SOFTWARE\\Larkmere\\ORLO";
}

std::u16string DataFolders::Root() const { return Join(documents_, u"ORLO"); }
std::u16string DataFolders::LogFolder() const { return Join(Root(), u"log\\VD"); }
std::u16string DataFolders::LogFile(std::u16string_view host_exe_path) const {
  return Join(LogFolder(), u"Pandrel." + HostBaseName(host_exe_path) + u".log");
}
std::u16string DataFolders::XLogFolder() const { return Join(Root(), u"log\\xlog\\"); }
std::u16string DataFolders::AccountFolder(std::u16string_view account) const { return Join(Root(), account); }
std::u16string DataFolders::CacheDb(std::u16string_view account) const { return Join(AccountFolder(account), u"cache.db"); }
std::u16string DataFolders::OpenFilesFolder(std::u16string_view account) const {
  return Join(AccountFolder(account), u"VDOpenFiles");
}
std::u16string DataFolders::TempFolder(std::u16string_view account) const { return Join(AccountFolder(account), u"temp"); }
std::u16string DataFolders::AccountSettings(std::u16string_view account) const {
  return Join(AccountFolder(account), u"NimbraSet.ini");
}
std::u16string DataFolders::AdvertFolder() const { return Join(Root(), u"Advertice\\"); }
std::u16string DataFolders::SyncStateFile() const { return Join(Root(), u"SyncDirStateFile.dat"); }

std::u16string HostBaseName(std::u16string_view exe_path) {
  size_t cut = exe_path.find_last_of(u"\\/");
  std::u16string_view name = cut == std::u16string_view::npos ? exe_path : exe_path.substr(cut + 1);
  return std::u16string(name.substr(0, name.find(u'.')));
}

int GetOS(unsigned major, unsigned minor) {
  if (major == 5 && minor == 0) return 1;
  if (major == 5 && (minor == 1 || minor == 2)) return 2;
  if (major == 6 && minor == 0) return 3;
  if (major == 6 && minor == 1) return 4;
  if (major == 6 && minor == 2) return 5;
  return 0;
}

bool IsHostInExplorer(std::u16string_view exe_path) {
  size_t cut = exe_path.find_last_of(u"\\/");
  std::u16string_view name = cut == std::u16string_view::npos ? exe_path : exe_path.substr(cut + 1);
  return platform::EqualsNoCase(name, u"explorer.exe");
}

bool CheckAppVersion(std::u16string_view exe_path, const VersionReader& major_version) {
  if (exe_path.empty()) return true;
  std::u16string upper = platform::ToUpperAscii(exe_path.substr(0, 259));
  if (upper.find(u"\\MICROSOFT OFFICE\\") != std::u16string::npos) {
    auto major = major_version ? major_version(exe_path) : std::nullopt;
    return !(major && *major > 12);
  }
  if (upper.find(u"\\IEXPLORE.EXE") != std::u16string::npos && major_version) major_version(exe_path);
  return true;
}

}  // namespace vd::config
