// vddragdrop.exe: drags through the cloud disk's own objects, the way
// Explorer uses them, for the demo.
//
//   vddragdrop.exe in <local folder> <catalog>   drops a local folder on a
//       catalog of the cloud disk's root: an upload with its progress dialog.
//   vddragdrop.exe out <catalog> <file> <local folder>   drags a file of a
//       catalog out to a local folder: the data object's CF_HDROP, then the
//       copy of the placeholder as Explorer makes it on Windows (the copy
//       hooks first, which Wine's own copy skips).
//
// Ends when the transfer's dialog has closed and the result is in place.
#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "files_data_object.h"
#include "message_pump.h"
#include "shell_walk.h"

namespace {

template <typename T>
using Com = vd::com::ComPtr<T>;

constexpr wchar_t kCloudDisk[] =
    L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}";
// The library's copy hook.
constexpr CLSID kCopyHook = {0x390685EC, 0x918F, 0x448E, {0x9A, 0xDF, 0xED, 0xB8, 0x9E, 0x9A, 0xFA, 0x75}};
const IID kICopyHookW = {0x000214FC, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

using vd::testing::PumpUntil;
using vd::demo::Child;
using vd::demo::FindChild;
using vd::demo::Utf8;

// The progress dialogs of this process ("#32770" windows) are all gone.
bool NoDialogOpen() {
  bool open = false;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM open) -> BOOL {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (std::wstring(name) == L"#32770" && ::IsWindowVisible(window)) *reinterpret_cast<bool*>(open) = true;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&open));
  return !open;
}

int DropIn(IShellFolder* root, HWND window, const std::wstring& local, const std::wstring& catalog) {
  Child target;
  if (!FindChild(root, window, catalog, &target)) return std::fprintf(stderr, "no catalog\n"), 3;
  LPCITEMIDLIST item = target.list();
  Com<IDropTarget> drop;
  if (FAILED(root->GetUIObjectOf(window, 1, &item, IID_IDropTarget, nullptr, reinterpret_cast<void**>(drop.put()))))
    return std::fprintf(stderr, "no drop target\n"), 4;
  vd::testing::FilesDataObject files({local});
  DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
  POINTL point = {0, 0};
  drop->DragEnter(&files, MK_LBUTTON, point, &effect);
  if (drop->Drop(&files, 0, point, &effect) != S_OK || effect != DROPEFFECT_COPY)
    return std::fprintf(stderr, "drop refused\n"), 5;
  std::printf("dropped %s on %s: uploading\n", Utf8(local).c_str(), Utf8(catalog).c_str());
  // The dialog shows within a moment and closes by itself when every file is in.
  PumpUntil([] { return !NoDialogOpen(); }, 10000);
  return PumpUntil(NoDialogOpen, 600000) ? 0 : 6;
}

int DragOut(IShellFolder* root, HWND window, const std::wstring& catalog, const std::wstring& file,
            const std::wstring& local) {
  Child folderItem;
  if (!FindChild(root, window, catalog, &folderItem)) return std::fprintf(stderr, "no catalog\n"), 3;
  Com<IShellFolder> folder;
  if (FAILED(root->BindToObject(folderItem.list(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put()))))
    return 3;
  Child fileItem;
  if (!FindChild(folder.get(), window, file, &fileItem)) return std::fprintf(stderr, "no file\n"), 3;
  LPCITEMIDLIST item = fileItem.list();
  Com<IDataObject> data;
  if (FAILED(folder->GetUIObjectOf(window, 1, &item, IID_IDataObject, nullptr, reinterpret_cast<void**>(data.put()))))
    return std::fprintf(stderr, "no data object\n"), 4;
  // The drop target asks for the files: the placeholder comes back, the download waits.
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (data->GetData(&format, &medium) != S_OK) return std::fprintf(stderr, "no CF_HDROP\n"), 5;
  wchar_t placeholder[MAX_PATH] = {};
  ::DragQueryFileW(static_cast<HDROP>(medium.hGlobal), 0, placeholder, MAX_PATH);
  ::ReleaseStgMedium(&medium);
  std::printf("CF_HDROP offers %s\n", Utf8(placeholder).c_str());
  // The copy into the user's folder: every copy hook is asked first.
  Com<IUnknown> unknown;
  if (FAILED(::CoCreateInstance(kCopyHook, nullptr, CLSCTX_INPROC_SERVER, kICopyHookW,
                                reinterpret_cast<void**>(unknown.put()))))
    return std::fprintf(stderr, "no copy hook\n"), 6;
  auto* hook = reinterpret_cast<ICopyHookW*>(unknown.get());
  const std::wstring destination = local + L"\\$$PandrelDownload";
  if (hook->CopyCallback(window, FO_COPY, 0, placeholder, FILE_ATTRIBUTE_DIRECTORY, destination.c_str(), 0) != IDNO)
    return std::fprintf(stderr, "the copy hook let the placeholder through\n"), 7;
  std::printf("the copy hook sent the download to %s\n", Utf8(local).c_str());
  const std::wstring arrived = local + L"\\" + file;
  return PumpUntil(
             [&] { return ::GetFileAttributesW(arrived.c_str()) != INVALID_FILE_ATTRIBUTES && NoDialogOpen(); },
             600000)
             ? 0
             : 8;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (!((verb == L"in" && argc == 4) || (verb == L"out" && argc == 5))) {
    std::fprintf(stderr, "usage: vddragdrop in <local folder> <catalog> | out <catalog> <file> <local folder>\n");
    return 2;
  }
  if (FAILED(::OleInitialize(nullptr))) return 2;
  // The owner of the dialogs, as Explorer's window would be.
  HWND window = ::CreateWindowExW(0, L"STATIC", L"vddragdrop", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                  nullptr);
  int rc = 3;
  {
    Com<IShellFolder> desktop, root;
    LPITEMIDLIST rootList = nullptr;
    if (SUCCEEDED(::SHGetDesktopFolder(desktop.put())) &&
        SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(kCloudDisk), nullptr, &rootList,
                                            nullptr)) &&
        SUCCEEDED(desktop->BindToObject(rootList, nullptr, IID_IShellFolder, reinterpret_cast<void**>(root.put())))) {
      rc = verb == L"in" ? DropIn(root.get(), window, argv[2], argv[3]) : DragOut(root.get(), window, argv[2], argv[3], argv[4]);
    }
    ::CoTaskMemFree(rootList);
  }
  ::DestroyWindow(window);
  ::OleUninitialize();
  std::printf("%s\n", rc == 0 ? "done" : "failed");
  return rc;
}
