// view_probe <parse name> [child name] [--rows N] [--settle MS]
// Opens a folder's view the way Explorer hosts it (a browser frame, the
// folder's CreateViewObject, CreateViewWindow) in this process and times,
// from CreateViewWindow on, the first rows in the list and N rows (default
// 10,000, or every row the folder has when fewer). The folder is bound and
// listed once before, untimed, so the catalog's cache is in memory and a
// cloud folder's listing is not what is measured. Memory is the process's
// working set after the N rows less that before CreateViewWindow. With
// --settle the process runs its messages that long before the view opens
// (a cloud folder's cache file loads in the background meanwhile). Prints:
//   first_rows_ms=<t> rows=<n> rows_ms=<t> bytes_per_row=<b> slowest_reply_ms=<t>
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

#include "com_ptr.h"
#include "message_pump.h"
#include "view_host.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

template <typename T>
using Com = vd::com::ComPtr<T>;

SIZE_T MemoryBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters = {};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
  // Wine leaves PrivateUsage at 0; the working set is what it reports.
  return counters.WorkingSetSize;
}

Com<IShellFolder> Bind(const std::wstring& path, const std::wstring& child, HWND owner, long* items) {
  Com<IShellFolder> desktop;
  if (FAILED(::SHGetDesktopFolder(desktop.put()))) return {};
  LPITEMIDLIST pidl = nullptr;
  if (FAILED(desktop->ParseDisplayName(nullptr, nullptr, const_cast<wchar_t*>(path.c_str()), nullptr, &pidl, nullptr)))
    return {};
  Com<IShellFolder> folder;
  const HRESULT hr = desktop->BindToObject(pidl, nullptr, IID_IShellFolder, folder.put_void());
  ::CoTaskMemFree(pidl);
  if (FAILED(hr) || child.empty()) return folder;
  // The child by name; its listing once, which brings its cache in.
  Com<IShellFolder> found;
  vd::testing::PumpUntil(
      [&] {
        Com<IEnumIDList> list;
        if (folder->EnumObjects(owner, SHCONTF_FOLDERS, list.put()) != S_OK) return false;
        LPITEMIDLIST item = nullptr;
        while (!found && list->Next(1, &item, nullptr) == S_OK) {
          STRRET ret = {};
          wchar_t name[MAX_PATH] = {};
          if (SUCCEEDED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &ret))) ::StrRetToBufW(&ret, item, name, MAX_PATH);
          if (child == name) folder->BindToObject(item, nullptr, IID_IShellFolder, found.put_void());
          ::CoTaskMemFree(item);
        }
        return static_cast<bool>(found);
      },
      60000);
  if (found) {
    Com<IEnumIDList> list;
    if (found->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, list.put()) == S_OK) {
      LPITEMIDLIST item = nullptr;
      while (list->Next(1, &item, nullptr) == S_OK) {
        ++*items;
        ::CoTaskMemFree(item);
      }
    }
  }
  return found;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: view_probe <parse name> [child name] [--rows N]\n");
    return 2;
  }
  std::wstring path = argv[1], child;
  long wanted = 10000;
  DWORD settle = 0;
  for (int i = 2; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--rows") == 0 && i + 1 < argc) {
      wanted = std::wcstol(argv[++i], nullptr, 10);
    } else if (std::wcscmp(argv[i], L"--settle") == 0 && i + 1 < argc) {
      settle = static_cast<DWORD>(std::wcstol(argv[++i], nullptr, 10));
    } else {
      child = argv[i];
    }
  }
  if (FAILED(::OleInitialize(nullptr))) return 2;
  int rc = 3;
  {
    vd::testing::ViewHost host(0, 0, 800, 500, L"view_probe");
    long items = 0;
    Com<IShellFolder> folder = Bind(path, child, host.Frame(), &items);
    if (!folder) {
      std::fprintf(stderr, "the folder could not be bound\n");
    } else {
      if (child.empty()) {
        Com<IEnumIDList> list;
        if (folder->EnumObjects(nullptr, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, list.put()) == S_OK) {
          LPITEMIDLIST item = nullptr;
          while (list->Next(1, &item, nullptr) == S_OK) {
            ++items;
            ::CoTaskMemFree(item);
          }
        }
      }
      wanted = std::min(wanted, items);
      if (settle) vd::testing::PumpUntil([] { return false; }, settle);
      const SIZE_T before = MemoryBytes();
      const auto start = Clock::now();
      if (SUCCEEDED(host.Show(folder.get()))) {
        double first = -1, all = -1, slowest = 0;
        vd::testing::PumpUntil(
            [&] {
              const auto asked = Clock::now();
              DWORD_PTR ignored = 0;
              ::SendMessageTimeoutW(host.View(), WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
              slowest = std::max(slowest, Ms(Clock::now() - asked));
              const int count = host.Count();
              if (count > 0 && first < 0) first = Ms(Clock::now() - start);
              if (count >= wanted && all < 0) all = Ms(Clock::now() - start);
              return all >= 0;
            },
            600000);
        const SIZE_T after = MemoryBytes();
        const int rows = host.Count();
        if (first >= 0 && all >= 0) {
          std::printf("first_rows_ms=%.3f rows=%d rows_ms=%.3f bytes_per_row=%.1f slowest_reply_ms=%.3f\n", first,
                      rows, all, rows > 0 ? static_cast<double>(after - before) / rows : 0.0, slowest);
          rc = 0;
        } else {
          std::fprintf(stderr, "the list reached %d of %ld rows\n", rows, wanted);
        }
      }
    }
  }
  ::OleUninitialize();
  return rc;
}
