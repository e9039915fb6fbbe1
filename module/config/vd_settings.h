#pragma once
// Configuration files and registry values the library reads, each with its
// default when the file, section or key is missing.
#include <optional>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "platform/registry.h"

namespace vd::config {

// <parent>\Config.ini [All] LogLevel, default 2.
int ReadLogLevel(platform::IProfile& profile, std::u16string_view parent_folder);

// <setup>\Config.ini [Pandrel] IsPreCache: "1" means prefetch after login.
bool ReadIsPreCache(platform::IProfile& profile, std::u16string_view setup_folder);

struct SideBarAddresses {
  std::u16string strong;       // [ORLO] STRONG_HTTP
  std::u16string free_enlarge; // [ORLO] FREEENLARGE_HTTP
  std::u16string portal;       // [ORLO] PORTAL_HTTP
};
SideBarAddresses ReadSideBarAddresses(platform::IProfile& profile, std::u16string_view setup_folder);

struct NewFunctionFlags {
  int msg = 1;       // [Pandrel] NewFunctionMsg
  int safe_box = 1;  // [Pandrel] NewFunctionSafeBox
};
NewFunctionFlags ReadNewFunctionFlags(platform::IProfile& profile, std::u16string_view account_settings_file);

// <parent>\sdkconfig.ini [SDK] UploadFilterSuffix, at most 259 characters.
std::u16string ReadUploadFilterSuffix(platform::IProfile& profile, std::u16string_view parent_folder);

// <parent>\sdkconfig.ini [SDK] Gzip: the extensions sent compressed, at most 259 characters.
std::u16string ReadGzipSuffixes(platform::IProfile& profile, std::u16string_view parent_folder);

// A file is filtered when its suffix from the last "." (dot included) occurs
// anywhere in the list, case-sensitively. Names without a "." are never filtered.
bool IsUploadFiltered(std::u16string_view file_name, std::u16string_view filter_list);

// HKLM "setup" value: the install folder, at most 520 bytes.
std::optional<std::u16string> ReadSetupFolder(platform::IRegistry& registry, bool is_64bit_processor);

// The desktop client's word on the network: HKCU "SOFTWARE\Larkmere\ORLO"
// "NetStateChange"; 0xFFFFFFFF means no network, anything else (a missing
// value too) that it is there.
bool IsNetworkAvailable(platform::IRegistry& registry);

}  // namespace vd::config
