#pragma once
// An installed cloud disk for end-to-end tests under Wine: the client, SDK
// and service library in the install folder, the library one folder below,
// the client's page program beside it, an SDK configuration for the
// service's port, the client's account, and the library registered with
// regsvr32. The documents' ORLO folder is emptied first: a first sign-in on
// this machine, with no cache from an earlier run.
#include <windows.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "com_ptr.h"
#include "platform/process.h"
#include "service_account.h"
#include "wine_test_support.h"

namespace vd::testing {

inline constexpr wchar_t kCloudDisk[] =
    L"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\::{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}";

// An identifier list the shell allocated, freed with it.
struct ShellPidl {
    LPITEMIDLIST p = nullptr;
    ShellPidl() = default;
    ShellPidl(const ShellPidl&) = delete;
    ShellPidl& operator=(const ShellPidl&) = delete;
    ~ShellPidl() { ::CoTaskMemFree(p); }
};

// Where an item's icon comes from, as the shell asks for it.
struct IconLocation {
    HRESULT hr = E_FAIL;
    std::wstring file;
    int index = -1;
    UINT flags = 0;
};
inline IconLocation IconLocationOf(IShellFolder* folder, LPCITEMIDLIST child,
                                   vd::com::ComPtr<IExtractIconW>* extract = nullptr) {
    IconLocation where;
    vd::com::ComPtr<IExtractIconW> icon;
    where.hr = folder->GetUIObjectOf(nullptr, 1, &child, IID_IExtractIconW, nullptr, icon.put_void());
    if (FAILED(where.hr)) return where;
    wchar_t location[MAX_PATH] = {};
    where.hr = icon->GetIconLocation(0, location, MAX_PATH, &where.index, &where.flags);
    where.file = location;
    if (extract) *extract = icon;
    return where;
}

inline std::filesystem::path ExeFolder() {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

// The install folder; empty when a step failed (with the reason on stderr).
inline std::filesystem::path InstallCloudDisk(int port, const std::string& tag) {
    namespace fs = std::filesystem;
    const fs::path bin = ExeFolder();
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const fs::path install = fs::path(temp) / ("vd-" + tag + "-" + std::to_string(::GetCurrentProcessId())) / "Veyra";
    std::error_code error;
    fs::create_directories(install / "Shell", error);
    for (const char* name : {"Nimbra.exe", "CorbelSdk64.dll", "misc64.dll"}) {
        fs::copy_file(bin / name, install / name, fs::copy_options::overwrite_existing, error);
    }
    for (const char* name : {"Pandrel64.dll", "CorbelSdk64.dll", "misc64.dll"}) {
        fs::copy_file(bin / name, install / "Shell" / name, fs::copy_options::overwrite_existing, error);
    }
    // The client's page program, found next to it before its window is asked.
    fs::copy_file(bin / "mhost_stub.exe", install / "mhost.exe", fs::copy_options::overwrite_existing, error);
    // The state icons, where the library looks for them: <setup>\images\state.
    fs::create_directories(install / "images" / "state", error);
    fs::copy(bin / "images" / "state", install / "images" / "state", fs::copy_options::overwrite_existing, error);
    if (error) {
        std::fprintf(stderr, "install: %s\n", error.message().c_str());
        return {};
    }
    corbel::test::WriteSdkConfig(install, port);
    wchar_t documents[MAX_PATH];
    if (::SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, 0, documents) != S_OK) return {};
    fs::remove_all(fs::path(documents) / "ORLO", error);
    std::ofstream ini(install / "Nimbra.ini");
    ini << "[Service]\nHost=127.0.0.1\nPort=" << port << "\n[Account]\nAccount=alice\nPassword=alice-pass\n";
    ini.close();
    // What the installer records: the install folder, where the library
    // finds its images.
    const std::wstring setup = install.wstring();
    if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO", L"setup", REG_SZ, setup.c_str(),
                          static_cast<DWORD>((setup.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS) {
        std::fprintf(stderr, "install: the setup value could not be written\n");
        return {};
    }
    if (Regsvr32({}, (install / "Shell" / "Pandrel64.dll").u16string()) != 0) {
        std::fprintf(stderr, "install: regsvr32 failed\n");
        return {};
    }
    return install;
}

// Signs the client out and ends it, then unregisters the library. Returns
// the client processes that did not end.
inline int UninstallCloudDisk(const std::filesystem::path& install) {
    if (install.empty()) return 0;
    for (const char16_t* action : {u"--sign-out", u"--quit"}) {
        auto p = platform::Process::Launch((install / "Nimbra.exe").u16string(), {action});
        if (p) p->Wait(30000);
    }
    const int left = EndProcessesOf((install / "Nimbra.exe").wstring(), 30000);
    Regsvr32({u"/u"}, (install / "Shell" / "Pandrel64.dll").u16string());
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO", L"setup");
    return left;
}

}  // namespace vd::testing
