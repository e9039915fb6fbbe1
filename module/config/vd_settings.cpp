#include "vd_settings.h"

#include "platform/files.h"
#include "vd_paths.h"

namespace vd::config {

using platform::JoinPath;

int ReadLogLevel(platform::IProfile& profile, std::u16string_view parent_folder) {
  return profile.GetInt(JoinPath(parent_folder, u"Config.ini"), u"All", u"LogLevel", 2);
}

bool ReadIsPreCache(platform::IProfile& profile, std::u16string_view setup_folder) {
  return profile.GetString(JoinPath(setup_folder, u"Config.ini"), u"Pandrel", u"IsPreCache", u"", 1024) == u"1";
}

SideBarAddresses ReadSideBarAddresses(platform::IProfile& profile, std::u16string_view setup_folder) {
  const std::u16string file = JoinPath(setup_folder, u"Config.ini");
  SideBarAddresses out;
  out.strong = profile.GetString(file, u"ORLO", u"STRONG_HTTP", u"", 1024);
  out.free_enlarge = profile.GetString(file, u"ORLO", u"FREEENLARGE_HTTP", u"", 1024);
  out.portal = profile.GetString(file, u"ORLO", u"PORTAL_HTTP", u"", 1024);
  return out;
}

NewFunctionFlags ReadNewFunctionFlags(platform::IProfile& profile, std::u16string_view account_settings_file) {
  NewFunctionFlags out;
  out.msg = profile.GetInt(account_settings_file, u"Pandrel", u"NewFunctionMsg", 1);
  out.safe_box = profile.GetInt(account_settings_file, u"Pandrel", u"NewFunctionSafeBox", 1);
  return out;
}

std::u16string ReadUploadFilterSuffix(platform::IProfile& profile, std::u16string_view parent_folder) {
  return profile.GetString(JoinPath(parent_folder, u"sdkconfig.ini"), u"SDK", u"UploadFilterSuffix", u"", 260);
}

std::u16string ReadGzipSuffixes(platform::IProfile& profile, std::u16string_view parent_folder) {
  return profile.GetString(JoinPath(parent_folder, u"sdkconfig.ini"), u"SDK", u"Gzip", u"", 260);
}

bool IsUploadFiltered(std::u16string_view file_name, std::u16string_view filter_list) {
  size_t dot = file_name.rfind(u'.');
  if (dot == std::u16string_view::npos || filter_list.empty()) return false;
  return filter_list.find(file_name.substr(dot)) != std::u16string_view::npos;
}

std::optional<std::u16string> ReadSetupFolder(platform::IRegistry& registry, bool is_64bit_processor) {
  auto value = registry.GetString(platform::RegRoot::LocalMachine, SetupKeyPath(is_64bit_processor), u"setup");
  if (!value) return std::nullopt;
  // The reader's buffer holds 520 bytes with the terminator; a longer value does not fit and is a failure.
  if ((value->size() + 1) * 2 > 520) return std::nullopt;
  return value;
}

bool IsNetworkAvailable(platform::IRegistry& registry) {
  const auto state = registry.GetDword(platform::RegRoot::CurrentUser, u"SOFTWARE\\Larkmere\\ORLO", u"NetStateChange");
  return !state || *state != 0xFFFFFFFFu;
}

}  // namespace vd::config
