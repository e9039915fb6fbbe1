#pragma once
// Start-up of the service library's log and the registered module folder.
#include <windows.h>

#include <optional>
#include <string>

namespace vd::module {

// Creates <Documents>\ORLO\log\VD, opens Pandrel.<host>.log there with the
// level from <parent>\Config.ini and routes the product's log lines to it.
// True once the log has started; a failure is logged and start-up goes on.
bool StartModuleLog(const std::u16string& documents, const std::u16string& parent_folder,
                    const std::u16string& host_exe_path);

// The folder of the library as registered for the cloud folder's class
// (everything before the last "\" of InProcServer32's default value).
std::optional<std::u16string> GetGlobalSettings();

// First number of an executable's file version, from its version resource.
class CAppVersion {
 public:
  static std::optional<unsigned> Major(std::u16string_view exe_path);
};

}  // namespace vd::module
