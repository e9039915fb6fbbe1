#include "com_server.h"

#include <oleauto.h>

#include <array>

#include "copy_hook.h"
#include "registration.h"
#include "registration_ids.h"
#include "trace.h"
#include "vd_shell_folder.h"

namespace vd::module {
namespace {

// Class ids of the object map.
constexpr CLSID kFolder = {0xCB5DEC9E, 0x175E, 0x45DF, {0xB6, 0x47, 0xBC, 0xBE, 0xE0, 0x66, 0x9F, 0xE6}};
constexpr CLSID kFolder2 = {0xA7DEC21D, 0x4E2C, 0x40F8, {0xBA, 0x7D, 0xEB, 0x50, 0x23, 0x60, 0x09, 0x37}};
constexpr CLSID kPropertyDlg = {0xEA5CE929, 0xC0D1, 0x4B2B, {0x90, 0x94, 0x0C, 0x26, 0x1C, 0xF2, 0xE4, 0x0A}};
constexpr CLSID kShellView = {0x49EF122D, 0x0F21, 0x4B1F, {0x8E, 0xBE, 0x6D, 0x7E, 0x2D, 0xBC, 0xBD, 0x05}};
constexpr CLSID kFileProperty = {0x63D11655, 0x83EB, 0x42E4, {0x85, 0x4F, 0x54, 0x3E, 0x2B, 0x23, 0x14, 0xAE}};
constexpr CLSID kDropSource = {0x1E2CDF33, 0x50A0, 0x47DD, {0xA8, 0x01, 0xB6, 0x3A, 0x19, 0xEE, 0x9E, 0xA4}};
constexpr CLSID kEnumFmtEtc = {0x37A5A042, 0x489C, 0x4AE5, {0x8C, 0x1D, 0xCA, 0x8F, 0x91, 0x4A, 0xC8, 0xD7}};
constexpr CLSID kDataObject = {0xB4BD9795, 0x1F97, 0x46E9, {0xA9, 0x51, 0x76, 0x3F, 0xE2, 0x5C, 0xBE, 0xB0}};
constexpr CLSID kDropTarget = {0xE0A99BB5, 0x2124, 0x4A04, {0xB2, 0x9C, 0x24, 0xB4, 0x95, 0x64, 0x69, 0xBE}};
constexpr CLSID kCopyHook = {0x390685EC, 0x918F, 0x448E, {0x9A, 0xDF, 0xED, 0xB8, 0x9E, 0x9A, 0xFA, 0x75}};
constexpr CLSID kExtractIcon = {0xE375F74A, 0x3EEE, 0x4DE0, {0xA0, 0x86, 0xA8, 0xF8, 0xC3, 0x0A, 0xB8, 0xE0}};
constexpr CLSID kTreeContextMenu = {0x62DEED0A, 0xAFD5, 0x4423, {0xA8, 0xAB, 0xA5, 0x7F, 0x58, 0xA8, 0x7A, 0x2F}};
constexpr CLSID kTopContextMenu = {0x48873D96, 0x2FDA, 0x4B98, {0x8E, 0x68, 0x9D, 0x3D, 0x17, 0xB7, 0xDC, 0x3E}};
constexpr CLSID kShellView2 = {0x4B41B59C, 0xF6D1, 0x4B2A, {0xBB, 0xAB, 0x13, 0x56, 0xFA, 0x5E, 0x71, 0x69}};
constexpr CLSID kDropTarget2 = {0xA29C2936, 0x38AB, 0x4670, {0xB3, 0x29, 0x6D, 0x85, 0x41, 0x4C, 0x9E, 0x9B}};
constexpr CLSID kExtractIcon2 = {0x46F6AD4C, 0x913D, 0x4C04, {0x8E, 0xDD, 0x82, 0x3C, 0x59, 0xD6, 0xF4, 0xD6}};
constexpr CLSID kPidlEnumEx2 = {0x8523402E, 0xE345, 0x480D, {0x8F, 0x54, 0xC8, 0x1E, 0xC9, 0x03, 0x19, 0x15}};

// Classes whose objects are not built yet carry no creator: they are
// registered and answered with CLASS_E_CLASSNOTAVAILABLE.
const std::array<vd::com::ClassEntry, 17> kClasses = {{
    {&kFolder, &vd::CIVDShellFolder::CreateInstance, IDR_CIVDSHELLFOLDER},
    {&kFolder2, nullptr, IDR_CIVDSHELLFOLDER2},
    {&kPropertyDlg, nullptr, IDR_CVDPROPERTYDLG},
    {&kShellView, nullptr, IDR_CIVDSHELLVIEW},
    {&kFileProperty, nullptr, IDR_CIFILEPROPERTY},
    {&kDropSource, nullptr, IDR_CIVDDROPSOURCE},
    {&kEnumFmtEtc, nullptr, IDR_CIVDENUMFMTETC},
    {&kDataObject, nullptr, IDR_CIVDDATAOBJECT},
    {&kDropTarget, nullptr, IDR_CIVDDROPTARGET},
    {&kCopyHook, &vdtransfer::CTCopyHook::CreateInstance, IDR_CTCOPYHOOK},
    {&kExtractIcon, nullptr, IDR_CIVDEXTRACTICON},
    {&kTreeContextMenu, nullptr, IDR_CIVDTREECONTEXTMENU},
    {&kTopContextMenu, nullptr, IDR_CIVDTOPCONTEXTMENU},
    {&kShellView2, nullptr, IDR_CIVDSHELLVIEW2},
    {&kDropTarget2, nullptr, IDR_CIVDDROPTARGET2},
    {&kExtractIcon2, nullptr, IDR_CIVDEXTRACTICON2},
    {&kPidlEnumEx2, nullptr, IDR_CIVDPIDLENUMEX2},
}};

class ThreadLocaleScope {
 public:
  ThreadLocaleScope() : saved_(::GetThreadLocale()) { ::SetThreadLocale(LANG_SYSTEM_DEFAULT); }
  ~ThreadLocaleScope() { ::SetThreadLocale(saved_); }

 private:
  LCID saved_;
};

}  // namespace
}  // namespace vd::module

// Exported by oleaut32 but missing from the cross toolchain's headers.
extern "C" {
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* helpFolder);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID id, WORD major, WORD minor, LCID lcid, SYSKIND kind);
}

namespace vd::module {
namespace {

constexpr GUID kTypeLibId = {0x54A2D32E, 0x54A3, 0x4A09, {0xB7, 0x16, 0x36, 0x50, 0xB5, 0xC7, 0xB1, 0x8B}};

HRESULT RegisterTypeLibrary(HMODULE module, bool perUser) {
  wchar_t path[MAX_PATH] = {};
  if (::GetModuleFileNameW(module, path, MAX_PATH) == 0) return HRESULT_FROM_WIN32(::GetLastError());
  ITypeLib* library = nullptr;
  HRESULT hr = ::LoadTypeLibEx(path, REGKIND_NONE, &library);
  if (FAILED(hr)) return hr;
  hr = perUser ? ::RegisterTypeLibForUser(library, path, nullptr) : ::RegisterTypeLib(library, path, nullptr);
  library->Release();
  return hr;
}

HRESULT UnregisterTypeLibrary(bool perUser) {
  HRESULT hr = perUser ? ::UnRegisterTypeLibForUser(kTypeLibId, 1, 0, LANG_NEUTRAL, SYS_WIN64)
                       : ::UnRegisterTypeLib(kTypeLibId, 1, 0, LANG_NEUTRAL, SYS_WIN64);
  // Not registered is what unregistration wants.
  return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY ? S_OK : hr;
}

const vd::registrar::Replacements& AppIdReplacement() {
  static const vd::registrar::Replacements r = {{u"APPID", reinterpret_cast<const char16_t*>(kAppId)}};
  return r;
}

}  // namespace

std::span<const vd::com::ClassEntry> ClassTable() { return kClasses; }

HRESULT RegisterServer(HMODULE module, vd::registrar::RootMapping mapping) {
  VD_TRACE("CPandrelModule::RegisterServer");
  ThreadLocaleScope locale;
  using vd::com::ScriptMode;
  HRESULT hr = vd::com::RunRegistrationScript(module, IDR_PANDREL, ScriptMode::Register, AppIdReplacement(), mapping);
  if (FAILED(hr)) return hr;
  for (const auto& entry : kClasses) {
    hr = vd::com::RunRegistrationScript(module, entry.script_id, ScriptMode::Register, AppIdReplacement(), mapping);
    if (FAILED(hr)) {
      VD_LOG_ERROR("registration of script %d failed: 0x%08lX", entry.script_id, static_cast<unsigned long>(hr));
      return hr;
    }
  }
  hr = RegisterTypeLibrary(module, mapping.per_user);
  if (FAILED(hr)) VD_LOG_ERROR("type library registration failed: 0x%08lX", static_cast<unsigned long>(hr));
  return hr;
}

HRESULT UnregisterServer(HMODULE module, vd::registrar::RootMapping mapping) {
  VD_TRACE("CPandrelModule::UnregisterServer");
  ThreadLocaleScope locale;
  using vd::com::ScriptMode;
  HRESULT first = S_OK;
  for (const auto& entry : kClasses) {
    HRESULT hr = vd::com::RunRegistrationScript(module, entry.script_id, ScriptMode::Unregister, AppIdReplacement(), mapping);
    if (SUCCEEDED(first)) first = hr;
  }
  HRESULT typelib = UnregisterTypeLibrary(mapping.per_user);
  if (SUCCEEDED(first)) first = typelib;
  HRESULT hr = vd::com::RunRegistrationScript(module, IDR_PANDREL, ScriptMode::Unregister, AppIdReplacement(), mapping);
  return SUCCEEDED(first) ? hr : first;
}

bool IsPerUserCommand(const wchar_t* command) { return command && ::lstrcmpiW(command, L"user") == 0; }

}  // namespace vd::module
