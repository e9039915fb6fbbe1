#include "module_log.h"

#include <vector>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "service/log.h"
#include "trace.h"
#include "vd_paths.h"
#include "vd_settings.h"

namespace vd::module {
namespace {

// Log lines of the product go to the service library's log, in the ANSI
// code page as the rest of the log is.
class CLogSink final : public vd::trace::ILogSink {
 public:
  void OnLogLine(vd::trace::LogLevel level, const char* file, int line, const char* method,
                 std::string_view message) override {
    CLog* log = CLog::Instance();
    if (!log) return;
    std::string text = platform::WideToAnsi(platform::Utf8ToWide(message));
    log->Begin();
    log->SetSourceFileName(file);
    log->SetLine(line);
    log->SetFunctionName(method);
    switch (level) {
      case vd::trace::LogLevel::Trace: log->Trace("%s", text.c_str()); break;
      case vd::trace::LogLevel::Debug: log->Debug("%s", text.c_str()); break;
      case vd::trace::LogLevel::Info: log->Info("%s", text.c_str()); break;
      case vd::trace::LogLevel::Warn: log->Warn("%s", text.c_str()); break;
      case vd::trace::LogLevel::Error: log->Error("%s", text.c_str()); break;
    }
    log->End();
  }
};

}  // namespace

bool StartModuleLog(const std::u16string& documents, const std::u16string& parent_folder,
                    const std::u16string& host_exe_path) {
  static CLogSink sink;
  vd::trace::SetLogSink(&sink);
  vd::config::DataFolders folders(documents);
  if (platform::SystemFileSystem().CreateDirectories(folders.LogFolder()) != platform::kOk) {
    VD_LOG_ERROR("CreateMultiDir ERROR 初始化虚拟盘的日志!");
  }
  int level = vd::config::ReadLogLevel(platform::SystemProfile(), parent_folder);
  std::string path = platform::WideToAnsi(folders.LogFile(host_exe_path));
  CLog* log = CLog::Instance();
  if (!log || log->Init(path.c_str(), level, 5, 1, 2) != 0) return false;
  VD_LOG_INFO("*****虚拟盘初始化成功*****");
  return true;
}

std::optional<std::u16string> GetGlobalSettings() {
  auto value = platform::SystemRegistry().GetString(
      platform::RegRoot::ClassesRoot, u"CLSID\\{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}\\InProcServer32", u"");
  if (!value) return std::nullopt;
  size_t cut = value->rfind(u'\\');
  if (cut == std::u16string::npos) return std::nullopt;
  return value->substr(0, cut);
}

std::optional<unsigned> CAppVersion::Major(std::u16string_view exe_path) {
  std::u16string path(exe_path);
  auto* w = reinterpret_cast<const wchar_t*>(path.c_str());
  DWORD handle = 0;
  DWORD size = ::GetFileVersionInfoSizeW(w, &handle);
  if (size == 0) return std::nullopt;
  std::vector<BYTE> data(size);
  if (!::GetFileVersionInfoW(w, 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  return HIWORD(info->dwFileVersionMS);
}

}  // namespace vd::module
