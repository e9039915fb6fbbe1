#include "shell_list.h"

#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include "com_ptr.h"

namespace vd::tools {

std::vector<std::wstring> ListShellFolder(const std::wstring& parse_name) {
  std::vector<std::wstring> names;
  vd::com::ComPtr<IShellFolder> desktop;
  if (FAILED(::SHGetDesktopFolder(desktop.put()))) return names;
  std::wstring path = parse_name;
  LPITEMIDLIST pidl = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, path.data(), nullptr, &pidl, nullptr))) return names;
  vd::com::ComPtr<IShellFolder> folder;
  HRESULT hr = desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void());
  ::CoTaskMemFree(pidl);
  if (FAILED(hr)) return names;
  vd::com::ComPtr<IEnumIDList> items;
  if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put()) != S_OK) return names;
  LPITEMIDLIST item = nullptr;
  while (items->Next(1, &item, nullptr) == S_OK) {
    STRRET name = {};
    wchar_t* text = nullptr;
    if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_NORMAL, &name)) && SUCCEEDED(::StrRetToStrW(&name, item, &text))) {
      names.emplace_back(text);
      ::CoTaskMemFree(text);
    }
    ::CoTaskMemFree(item);
  }
  return names;
}

}  // namespace vd::tools
