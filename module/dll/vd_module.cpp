#include "vd_module.h"

#include <algorithm>

#include "platform/registry.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"
#include "vd_settings.h"

namespace {

void LoadText(int id, wchar_t (&buffer)[VDModule::kTextChars]) {
  std::u16string text = platform::Utf8ToWide(vd::resources::LoadText(id));
  size_t n = std::min(text.size(), VDModule::kTextChars - 1);
  std::copy_n(reinterpret_cast<const wchar_t*>(text.data()), n, buffer);
  buffer[n] = L'\0';
}

bool IsProcessor64Bit() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 || info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_IA64;
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

VDModule& VDModule::Instance() {
  static VDModule module;
  return module;
}

HRESULT VDModule::Init(VDModule* m, void*, HINSTANCE instance) {
  VD_TRACE("VDModule::Init");
  m->m_instance = instance;
  using namespace vd::resources;
  LoadText(IDS_VD_DISPLAY_NAME, m->m_displayName);
  LoadText(IDS_NODE_CALENDAR, m->m_calendar);
  LoadText(IDS_NODE_MESSAGES, m->m_messages);
  LoadText(IDS_NODE_CONTACTS, m->m_contacts);
  LoadText(IDS_PHONE_BACKUP, m->m_phoneBackup);
  LoadText(IDS_VD_ROOT_NAME, m->m_rootName);
  LoadText(IDS_NODE_PHONE_PICTURES, m->m_phonePictures);
  LoadText(IDS_PHONE_EBOOKS, m->m_phoneEbooks);
  LoadText(IDS_PHONE_MUSIC, m->m_phoneMusic);
  LoadText(IDS_NODE_NOTES, m->m_notes);
  LoadText(IDS_LOCAL_SYNC_FOLDER, m->m_localSyncFolder);
  LoadText(IDS_NODE_PHONE_VIDEOS, m->m_phoneVideos);
  LoadText(IDS_NODE_RECEIVED_SHARES, m->m_receivedShares);

  m->m_rootId = L"00019700101000000001";
  m->m_rootIdA = "00019700101000000001";
  m->m_fixedId45 = L"00019700101000000045";
  m->m_phonePicturesId = L"00019700101000000043";
  m->m_fixedId41 = L"00019700101000000041";
  m->m_phoneVideosId = L"00019700101000000044";
  m->m_receivedSharesId = L"00019700101000000067";

  // Without an install folder the library runs without state icons.
  wchar_t images[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  if (GetInStallPath(m, images, &length)) {
    std::u16string folder(reinterpret_cast<const char16_t*>(images), length);
    auto state = vd::config::StateIconPaths(folder);
    auto types = vd::config::TypeIconPaths(folder);
    for (size_t i = 0; i < state.size(); ++i) m->m_stateIcons[i] = Wide(state[i]);
    for (size_t i = 0; i < types.size(); ++i) m->m_typeIcons[i] = Wide(types[i]);
  }

  ::OleInitialize(nullptr);
  ::InitCommonControls();
  for (size_t i = 0; i < kClipboardFormatNames.size(); ++i) {
    m->m_clipboardFormats[i] = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(kClipboardFormatNames[i]));
  }
  if (FAILED(::SHGetMalloc(&m->m_malloc))) return E_FAIL;

  m->m_osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
  ::GetVersionExW(&m->m_osVersion);
  m->m_osMajor = m->m_osVersion.dwMajorVersion;
  m->m_osMinor = m->m_osVersion.dwMinorVersion;
  m->m_nseDragDrop = static_cast<CLIPFORMAT>(::RegisterClipboardFormatW(L"NSEDRAGDROP"));

  wchar_t path[MAX_PATH] = {};
  DWORD n = ::GetModuleFileNameW(instance, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  auto location = vd::config::SplitModulePath(std::u16string(reinterpret_cast<const char16_t*>(path), n));
  if (!location) return E_FAIL;
  auto copy = [](const std::u16string& from, wchar_t (&to)[MAX_PATH]) {
    size_t len = std::min<size_t>(from.size(), MAX_PATH - 1);
    std::copy_n(reinterpret_cast<const wchar_t*>(from.data()), len, to);
    to[len] = L'\0';
  };
  copy(location->parent_folder, m->m_parentFolder);
  copy(location->library_in_parent, m->m_libraryInParent);
  return S_OK;
}

void VDModule::Term(VDModule* m) {
  if (m->m_malloc) {
    if (m->m_rootPidl) m->m_malloc->Free(m->m_rootPidl);
    if (m->m_syncRootPidl) m->m_malloc->Free(m->m_syncRootPidl);
    m->m_malloc->Release();
  }
  m->m_rootPidl = nullptr;
  m->m_syncRootPidl = nullptr;
  m->m_malloc = nullptr;
}

bool VDModule::GetInStallPath(VDModule*, wchar_t* buffer, DWORD* length) {
  if (!buffer || !length || *length == 0) return false;
  auto setup = vd::config::ReadSetupFolder(platform::SystemRegistry(), IsProcessor64Bit());
  if (!setup) return false;
  std::u16string images = vd::config::ImagesFolder(*setup);
  if (images.size() + 1 > *length) return false;
  std::copy_n(reinterpret_cast<const wchar_t*>(images.data()), images.size(), buffer);
  buffer[images.size()] = L'\0';
  *length = static_cast<DWORD>(images.size());
  return true;
}

int VDModule::GetOS(const OSVERSIONINFOW& version) {
  return vd::config::GetOS(version.dwMajorVersion, version.dwMinorVersion);
}

HIMAGELIST VDModule::GetSysImageList(bool large) {
  SHFILEINFOW info = {};
  UINT flags = SHGFI_SYSICONINDEX | SHGFI_ICON | (large ? 0 : SHGFI_SMALLICON);
  auto list = reinterpret_cast<HIMAGELIST>(::SHGetFileInfoW(L"", 0, &info, sizeof info, flags));
  if (info.hIcon) ::DestroyIcon(info.hIcon);
  return list;
}

int VDModule::GetSysFileIcon(const wchar_t* path, bool is_folder, UINT extra_flags) {
  SHFILEINFOW info = {};
  UINT flags = SHGFI_SYSICONINDEX | SHGFI_ICON | SHGFI_USEFILEATTRIBUTES | extra_flags;
  ::SHGetFileInfoW(path ? path : L"", is_folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL, &info, sizeof info, flags);
  if (info.hIcon) ::DestroyIcon(info.hIcon);
  return info.iIcon;
}

HINSTANCE VDModule::GetResourceInstance() { return Instance().m_instance; }
HINSTANCE VDModule::GetModuleInstance() { return Instance().m_instance; }
