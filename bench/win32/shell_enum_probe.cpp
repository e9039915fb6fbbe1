// shell_enum_probe <parse name> [child name] [--warm N]
// shell_enum_probe <parse name> --sign-in: enumerates the folder with a
// window until it answers (the cloud folder starts the desktop client and
// waits for its sign-in), untimed, so later probes find a signed-in user.
// Times what a file dialog does when it opens a folder: EnumObjects, then
// Next and GetDisplayNameOf for every item, windowless. The first thing it
// times is the parsed folder itself, in this fresh process (for the cloud
// disk that includes signing in). With a child name the probe then binds to
// that child of the parsed folder and times it. With --warm N it first
// enumerates the child with a window (which lets the cloud folder refresh
// its cache) until N items come back. Prints two lines:
//   root_items=<n> root_first_ms=<time to the first name> root_total_ms=<time to the last>
//   items=<n> first_ms=<time to the first name> total_ms=<time to the last>
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

#include "com_ptr.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

template <typename T>
using Com = vd::com::ComPtr<T>;

std::wstring Name(IShellFolder* folder, LPCITEMIDLIST item) {
  STRRET ret = {};
  if (FAILED(folder->GetDisplayNameOf(item, SHGDN_INFOLDER, &ret))) return {};
  wchar_t* text = nullptr;
  ::StrRetToStrW(&ret, item, &text);
  std::wstring out = text ? text : L"";
  ::CoTaskMemFree(text);
  return out;
}

struct Pass {
  long items = 0;
  double firstMs = 0;
  double totalMs = 0;
  HRESULT hr = S_OK;
};

// One enumeration with names; `find` set: stops at that name and binds it into `child`.
Pass Enumerate(IShellFolder* folder, HWND window, const wchar_t* find = nullptr, IShellFolder** child = nullptr) {
  Pass pass;
  const Clock::time_point start = Clock::now();
  Com<IEnumIDList> items;
  pass.hr = folder->EnumObjects(window, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS, items.put());
  if (pass.hr != S_OK) return pass;
  LPITEMIDLIST item = nullptr;
  while (items->Next(1, &item, nullptr) == S_OK) {
    const std::wstring name = Name(folder, item);
    if (pass.items++ == 0) pass.firstMs = Ms(Clock::now() - start);
    if (find && name == find) {
      pass.hr = folder->BindToObject(item, nullptr, IID_IShellFolder, reinterpret_cast<void**>(child));
      ::CoTaskMemFree(item);
      return pass;
    }
    ::CoTaskMemFree(item);
  }
  pass.totalMs = Ms(Clock::now() - start);
  if (find) pass.hr = E_FAIL;
  return pass;
}

int Run(int argc, wchar_t** argv, HWND window) {
  const wchar_t* childName = nullptr;
  long warm = 0;
  bool signIn = false, again = false;
  for (int i = 2; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--again") == 0) {
      again = true;
    } else if (std::wcscmp(argv[i], L"--sign-in") == 0) {
      signIn = true;
    } else if (std::wcscmp(argv[i], L"--warm") == 0 && i + 1 < argc) {
      warm = std::wcstol(argv[++i], nullptr, 10);
    } else {
      childName = argv[i];
    }
  }
  Com<IShellFolder> desktop;
  LPITEMIDLIST list = nullptr;
  Com<IShellFolder> folder;
  HRESULT hr = ::SHGetDesktopFolder(desktop.put());
  if (SUCCEEDED(hr)) hr = desktop->ParseDisplayName(window, nullptr, argv[1], nullptr, &list, nullptr);
  if (SUCCEEDED(hr)) hr = desktop->BindToObject(list, nullptr, IID_IShellFolder, reinterpret_cast<void**>(folder.put()));
  ::CoTaskMemFree(list);
  if (FAILED(hr)) {
    std::fprintf(stderr, "shell_enum_probe: cannot bind the folder: 0x%08lX\n", static_cast<unsigned long>(hr));
    return 1;
  }
  if (signIn) {
    const Clock::time_point until = Clock::now() + std::chrono::seconds(120);
    while (Enumerate(folder.get(), window).hr != S_OK) {
      if (Clock::now() > until) {
        std::fprintf(stderr, "shell_enum_probe: nobody signed in\n");
        return 1;
      }
      ::Sleep(500);
    }
    return 0;
  }
  // The parsed folder first, as a fresh process meets it.
  const Pass root = Enumerate(folder.get(), nullptr);
  if (FAILED(root.hr)) {
    std::fprintf(stderr, "shell_enum_probe: EnumObjects of the folder failed: 0x%08lX\n",
                 static_cast<unsigned long>(root.hr));
    return 1;
  }
  std::printf("root_items=%ld root_first_ms=%.1f root_total_ms=%.1f\n", root.items, root.firstMs, root.totalMs);
  Com<IShellFolder> target;
  if (childName) {
    // The cloud folder answers from its cache first: wait for the child to be listed.
    const Clock::time_point until = Clock::now() + std::chrono::seconds(120);
    while (Enumerate(folder.get(), window, childName, target.put()).hr != S_OK) {
      if (Clock::now() > until) {
        std::fprintf(stderr, "shell_enum_probe: no child named as asked\n");
        return 1;
      }
      ::Sleep(500);
    }
  } else {
    target = std::move(folder);
  }
  if (warm > 0) {
    const Clock::time_point until = Clock::now() + std::chrono::seconds(900);
    for (Pass p = Enumerate(target.get(), window); p.items < warm; p = Enumerate(target.get(), window)) {
      if (Clock::now() > until) {
        std::fprintf(stderr, "shell_enum_probe: only %ld of %ld items after the wait\n", p.items, warm);
        return 1;
      }
      ::Sleep(2000);
    }
  }
  const Pass pass = Enumerate(target.get(), nullptr);
  if (FAILED(pass.hr)) {
    std::fprintf(stderr, "shell_enum_probe: EnumObjects failed: 0x%08lX\n", static_cast<unsigned long>(pass.hr));
    return 1;
  }
  std::printf("items=%ld first_ms=%.1f total_ms=%.1f\n", pass.items, pass.firstMs, pass.totalMs);
  if (again) {
    // The same folder once more in this process: the part of the time that
    // is the shell's calls themselves, not the first read.
    const Pass second = Enumerate(target.get(), nullptr);
    std::printf("again_items=%ld again_first_ms=%.1f again_total_ms=%.1f\n", second.items, second.firstMs,
                second.totalMs);
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: shell_enum_probe <parse name> [child name] [--warm N]\n");
    return 2;
  }
  if (FAILED(::OleInitialize(nullptr))) return 2;
  HWND window = ::CreateWindowW(L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  const int rc = Run(argc, argv, window);
  ::DestroyWindow(window);
  ::OleUninitialize();
  return rc;
}
