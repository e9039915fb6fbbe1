#pragma once
// What the demo's tools share: a folder's child found by its shown name, and
// text for a log read on the Linux side.
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <vector>

#include "com_ptr.h"
#include "message_pump.h"

namespace vd::demo {

// UTF-8 rather than the console's code page.
inline std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(size, '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.resize(size - 1);
  return out;
}

struct Child {
  std::wstring name;
  std::vector<BYTE> bytes;
  LPCITEMIDLIST list() const { return reinterpret_cast<LPCITEMIDLIST>(bytes.data()); }
};

// The folder's child of that name, listed again until it shows (the cloud
// disk answers from its cache first and lists in the background).
inline bool FindChild(IShellFolder* folder, HWND window, const std::wstring& name, Child* out) {
  return vd::testing::PumpUntil(
      [&] {
        vd::com::ComPtr<IEnumIDList> items;
        if (folder->EnumObjects(window, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()) != S_OK) return false;
        LPITEMIDLIST item = nullptr;
        bool found = false;
        while (!found && items->Next(1, &item, nullptr) == S_OK) {
          STRRET ret = {};
          wchar_t* text = nullptr;
          if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &ret)) &&
              SUCCEEDED(::StrRetToStrW(&ret, item, &text)) && name == text) {
            out->name = text;
            out->bytes.assign(reinterpret_cast<BYTE*>(item), reinterpret_cast<BYTE*>(item) + item->mkid.cb + 2);
            found = true;
          }
          ::CoTaskMemFree(text);
          ::CoTaskMemFree(item);
        }
        return found;
      },
      60000);
}

// True once the folder lists at least one item, asked again until `ms` pass.
inline bool WaitListed(IShellFolder* folder, HWND window, DWORD ms) {
  return vd::testing::PumpUntil(
      [&] {
        vd::com::ComPtr<IEnumIDList> items;
        if (folder->EnumObjects(window, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()) != S_OK) return false;
        LPITEMIDLIST item = nullptr;
        if (items->Next(1, &item, nullptr) != S_OK) return false;
        ::CoTaskMemFree(item);
        return true;
      },
      ms);
}

// The folder at a desktop path ("::{...}\\::{...}" or a drive path), then
// down through the children named in `names`; null when any step fails.
inline vd::com::ComPtr<IShellFolder> BindPath(const std::wstring& path, const std::vector<std::wstring>& names,
                                              HWND window) {
  vd::com::ComPtr<IShellFolder> desktop, folder;
  if (FAILED(::SHGetDesktopFolder(desktop.put()))) return {};
  LPITEMIDLIST list = nullptr;
  std::wstring text = path;
  if (FAILED(desktop->ParseDisplayName(window, nullptr, text.data(), nullptr, &list, nullptr))) return {};
  const HRESULT bound = desktop->BindToObject(list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put()));
  ::CoTaskMemFree(list);
  if (FAILED(bound)) return {};
  for (const std::wstring& name : names) {
    Child child;
    vd::com::ComPtr<IShellFolder> next;
    if (!FindChild(folder.get(), window, name, &child) ||
        FAILED(folder->BindToObject(child.list(), nullptr, IID_IShellFolder, reinterpret_cast<void**>(next.put()))))
      return {};
    folder = next;
  }
  return folder;
}

}  // namespace vd::demo
