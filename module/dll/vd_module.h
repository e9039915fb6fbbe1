#pragma once
// Module-wide state of the library, filled at process attach and emptied at
// detach. Windows only: it holds the shell allocator, clipboard formats and
// the paths the rest of the library reads.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <array>
#include <string>

#include "vd_paths.h"

class VDModule {
 public:
  static constexpr size_t kTextChars = 64;

  // Steps in the order start-up needs them; S_OK or E_FAIL (the caller does not test it).
  static HRESULT Init(VDModule* module, void* reserved, HINSTANCE instance);
  static void Term(VDModule* module);

  // The images folder under the install folder; false when "setup" is missing.
  static bool GetInStallPath(VDModule* module, wchar_t* buffer, DWORD* length);
  static int GetOS(const OSVERSIONINFOW& version);
  static HIMAGELIST GetSysImageList(bool large);
  static int GetSysFileIcon(const wchar_t* path, bool is_folder, UINT extra_flags);
  static HINSTANCE GetResourceInstance();
  static HINSTANCE GetModuleInstance();

  // The one instance of the process.
  static VDModule& Instance();

  OSVERSIONINFOW m_osVersion = {};
  DWORD m_osMajor = 0;
  DWORD m_osMinor = 0;

  // Registered clipboard formats, in the order of kClipboardFormatNames.
  static constexpr std::array<const wchar_t*, 9> kClipboardFormatNames = {
      L"Shell IDList Array", L"FileContents", L"Paste Succeeded", L"FileGroupDescriptorW", L"Performed DropEffect",
      L"Preferred DropEffect", L"Logical Performed DropEffect", L"OleClipboardPersistOnFlush", L"TargetCLSID"};
  std::array<CLIPFORMAT, 9> m_clipboardFormats = {};
  CLIPFORMAT m_nseDragDrop = 0;

  IMalloc* m_malloc = nullptr;
  LPITEMIDLIST m_rootPidl = nullptr;       // cloud folder root, cloned at the first Initialize
  LPITEMIDLIST m_syncRootPidl = nullptr;   // sync folder root

  wchar_t m_parentFolder[MAX_PATH] = {};   // C:\A\B\lib.dll -> C:\A
  wchar_t m_libraryInParent[MAX_PATH] = {};  // C:\A\B\lib.dll -> C:\A\lib.dll
  HINSTANCE m_instance = nullptr;

  // String-table texts, 64 characters each.
  wchar_t m_displayName[kTextChars] = {};       // 101
  wchar_t m_calendar[kTextChars] = {};          // 105
  wchar_t m_messages[kTextChars] = {};          // 106
  wchar_t m_contacts[kTextChars] = {};          // 107
  wchar_t m_phoneBackup[kTextChars] = {};       // 108
  wchar_t m_rootName[kTextChars] = {};          // 109
  wchar_t m_phonePictures[kTextChars] = {};     // 111
  wchar_t m_phoneEbooks[kTextChars] = {};       // 112
  wchar_t m_phoneMusic[kTextChars] = {};        // 113
  wchar_t m_notes[kTextChars] = {};             // 114
  wchar_t m_localSyncFolder[kTextChars] = {};   // 119
  wchar_t m_phoneVideos[kTextChars] = {};       // 122
  wchar_t m_receivedShares[kTextChars] = {};    // 233

  // Fixed catalog IDs.
  std::wstring m_rootId;            // 00019700101000000001
  std::string m_rootIdA;
  std::wstring m_fixedId45, m_phonePicturesId, m_fixedId41, m_phoneVideosId, m_receivedSharesId;

  std::array<std::wstring, vd::config::kStateIconCount> m_stateIcons;
  std::array<std::wstring, vd::config::kTypeIconCount> m_typeIcons;
};
