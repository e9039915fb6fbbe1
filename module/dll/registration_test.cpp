// Pandrel64.dll registered and unregistered with the system's regsvr32.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "shell_list.h"
#include "wine_test_support.h"

namespace {

using platform::RegRoot;

struct ClassRow {
  std::u16string clsid, progid, description;
};

const ClassRow kClasses[] = {
    {u"{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}", u"Pandrel.IVDShellFolder.1", u"Veyra云盘"},
    {u"{A7DEC21D-4E2C-40F8-BA7D-EB5023600937}", u"Pandrel.IVDShellFolder2.1", u"Veyra同步盘"},
    {u"{EA5CE929-C0D1-4B2B-9094-0C261CF2E40A}", u"PandrelLib.VDPropertyDlg.1", u"VDPropertyDlg Class"},
    {u"{49EF122D-0F21-4B1F-8EBE-6D7E2DBCBD05}", u"Pandrel.IVDShellView.1", u"IVDShellView Class"},
    {u"{63D11655-83EB-42E4-854F-543E2B2314AE}", u"Pandrel.IFileProperty.1", u"IFileProperty Class"},
    {u"{1E2CDF33-50A0-47DD-A801-B63A19EE9EA4}", u"Pandrel.IVDDropSource.1", u"IVDDropSource Class"},
    {u"{37A5A042-489C-4AE5-8C1D-CA8F914AC8D7}", u"Pandrel.IVDEnumFmtEtc.1", u"IVDEnumFmtEtc Class"},
    {u"{B4BD9795-1F97-46E9-A951-763FE25CBEB0}", u"Pandrel.IVDDataObject.1", u"IVDDataObject Class"},
    {u"{E0A99BB5-2124-4A04-B29C-24B4956469BE}", u"Pandrel.IVDDropTarget.1", u"IVDDropTarget Class"},
    {u"{390685EC-918F-448E-9ADF-EDB89E9AFA75}", u"Pandrel.TCopyHook.1", u"TCopyHook Class"},
    {u"{E375F74A-3EEE-4DE0-A086-A8F8C30AB8E0}", u"Pandrel.IVDExtractIcon.1", u"IVDExtractIcon Class"},
    {u"{62DEED0A-AFD5-4423-A8AB-A57F58A87A2F}", u"Pandrel.IVDTreeContextMenu.1", u"IVDTreeContextMenu Class"},
    {u"{48873D96-2FDA-4B98-8E68-9D3D17B7DC3E}", u"Pandrel.IVDTopContextMenu.1", u"IVDTopContextMenu Class"},
    {u"{4B41B59C-F6D1-4B2A-BBAB-1356FA5E7169}", u"Pandrel.IVDShellView2.1", u"IVDShellView2 Class"},
    {u"{A29C2936-38AB-4670-B329-6D85414C9E9B}", u"Pandrel.IVDDropTarget2.1", u"IVDDropTarget2 Class"},
    {u"{46F6AD4C-913D-4C04-8EDD-823C59D6F4D6}", u"Pandrel.IVDExtractIcon2.1", u"IVDExtractIcon2 Class"},
    {u"{8523402E-E345-480D-8F54-C81EC9031915}", u"Pandrel.IVDPidlEnumEx2.1", u"IVDPidlEnumEx2 Class"},
};
const std::u16string kAppId = u"{307B4D9D-E28B-4BB7-8F47-7FDF47FEBDCD}";
const std::u16string kTypeLib = u"{54A2D32E-54A3-4A09-B716-3650B5C7B18B}";
const std::u16string kNameSpace = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace";
const std::u16string kApproved = u"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

std::u16string DllPath() {
  std::u16string exe = platform::ExecutablePath();
  return exe.substr(0, exe.find_last_of(u'\\')) + u"\\Pandrel64.dll";
}

int Regsvr32(std::vector<std::u16string> args) { return vd::testing::Regsvr32(std::move(args), DllPath()); }

std::vector<std::wstring> ComputerItems() { return vd::tools::ListShellFolder(vd::tools::kComputer); }

bool Contains(const std::vector<std::wstring>& names, const wchar_t* name) {
  for (auto& n : names) {
    if (n == name) return true;
  }
  return false;
}

TEST(Registration, EveryClassRegisteredThenRemoved) {
  auto& reg = platform::SystemRegistry();
  ASSERT_EQ(Regsvr32({}), 0);

  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, u"AppID\\" + kAppId, u""), u"Pandrel");
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, u"AppID\\Pandrel.DLL", u"AppID"), kAppId);
  for (size_t i = 0; i < std::size(kClasses); ++i) {
    const auto& c = kClasses[i];
    const std::u16string key = u"CLSID\\" + c.clsid;
    const std::u16string vi = c.progid.substr(0, c.progid.size() - 2);
    SCOPED_TRACE(platform::WideToUtf8(c.progid));
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key, u""), c.description);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\ProgID", u""), c.progid);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\VersionIndependentProgID", u""), vi);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\TypeLib", u""), kTypeLib);
    auto server = reg.GetString(RegRoot::ClassesRoot, key + u"\\InprocServer32", u"");
    ASSERT_TRUE(server);
    EXPECT_TRUE(platform::EqualsNoCase(*server, DllPath()));
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
    EXPECT_EQ(reg.KeyExists(RegRoot::ClassesRoot, key + u"\\Programmable"), i != 2);  // all but the property dialog
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key, u"AppID").has_value(), i == 2);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, c.progid + u"\\CLSID", u""), c.clsid);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, vi + u"\\CurVer", u""), c.progid);
  }
  for (int root = 0; root < 2; ++root) {
    const std::u16string key = u"CLSID\\" + kClasses[root].clsid;
    EXPECT_EQ(reg.GetDword(RegRoot::ClassesRoot, key + u"\\ShellFolder", u"Attributes"), 0xF8800100u);
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\ShellFolder", u"PinToNameSpaceTree"), u"");
    auto icon = reg.GetString(RegRoot::ClassesRoot, key + u"\\DefaultIcon", u"");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->substr(icon->size() - (root == 0 ? 2 : 3)), root == 0 ? u",0" : u",16");
    EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key, u"InfoTip"),
              root == 0 ? u"浏览、操作云端文件，支持上传下载" : u"浏览本地同步目录");
    EXPECT_EQ(reg.GetString(RegRoot::LocalMachine, kNameSpace + u"\\" + kClasses[root].clsid, u""), kClasses[root].description);
    EXPECT_EQ(reg.GetString(RegRoot::LocalMachine, kApproved, kClasses[root].clsid), kClasses[root].description);
    EXPECT_TRUE(reg.KeyExists(RegRoot::ClassesRoot, key + u"\\shellex\\ContextMenuHandlers\\" + kClasses[12].clsid));
  }
  const std::u16string hook = u"Directory\\shellex\\CopyHookHandlers\\" + kClasses[9].clsid;
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, hook, u""), kClasses[9].clsid);
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, hook, kClasses[9].clsid), u"Veyra同步盘 支持ICopyHook");

  // The type library, registered with the server.
  const std::u16string typelib = u"TypeLib\\{54A2D32E-54A3-4A09-B716-3650B5C7B18B}\\1.0";
  EXPECT_TRUE(reg.KeyExists(RegRoot::ClassesRoot, typelib + u"\\0\\win64"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::ClassesRoot, u"Interface\\{F0CB4469-9AE0-422F-8844-F4B1C8DB289C}"))
      << "the folder's dual interface";

  // The shell lists both roots under "Computer".
  ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  auto items = ComputerItems();
  EXPECT_TRUE(Contains(items, L"Veyra云盘"));
  EXPECT_TRUE(Contains(items, L"Veyra同步盘"));

  HMODULE dll = ::LoadLibraryW(reinterpret_cast<LPCWSTR>(DllPath().c_str()));
  ASSERT_NE(dll, nullptr);
  auto can_unload = reinterpret_cast<HRESULT(__stdcall*)()>(reinterpret_cast<void*>(::GetProcAddress(dll, "DllCanUnloadNow")));
  ASSERT_NE(can_unload, nullptr);
  EXPECT_EQ(can_unload(), S_FALSE);
  ::FreeLibrary(dll);

  ASSERT_EQ(Regsvr32({u"/u"}), 0);
  for (const auto& c : kClasses) {
    EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"CLSID\\" + c.clsid)) << platform::WideToUtf8(c.progid);
    EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, c.progid)) << platform::WideToUtf8(c.progid);
  }
  for (int root = 0; root < 2; ++root) {
    EXPECT_FALSE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace + u"\\" + kClasses[root].clsid));
    EXPECT_FALSE(reg.GetValue(RegRoot::LocalMachine, kApproved, kClasses[root].clsid));
  }
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, hook));
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"AppID\\" + kAppId));
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, typelib));
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"Interface\\{F0CB4469-9AE0-422F-8844-F4B1C8DB289C}"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::ClassesRoot, u"CLSID"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace));
  items = ComputerItems();
  EXPECT_FALSE(Contains(items, L"Veyra云盘"));
  ::CoUninitialize();
}

TEST(Registration, InstallForTheUserOnlyWithTheExactWord) {
  auto& reg = platform::SystemRegistry();
  const std::u16string user_key = u"Software\\Classes\\CLSID\\" + kClasses[0].clsid;
  ASSERT_EQ(Regsvr32({u"/n", u"/i:USER"}), 0);
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, user_key + u"\\InprocServer32"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, kNameSpace + u"\\" + kClasses[0].clsid));
  EXPECT_FALSE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace + u"\\" + kClasses[0].clsid));
  ASSERT_EQ(Regsvr32({u"/u", u"/n", u"/i:user"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, user_key));

  // A longer word that begins with "user" registers per machine.
  ASSERT_EQ(Regsvr32({u"/n", u"/i:username"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, user_key));
  EXPECT_TRUE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace + u"\\" + kClasses[0].clsid));
  ASSERT_EQ(Regsvr32({u"/u", u"/n", u"/i:username"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"CLSID\\" + kClasses[0].clsid));

  // The folder's class object makes folders; classes whose objects do not
  // exist yet are refused cleanly.
  HMODULE dll = ::LoadLibraryW(reinterpret_cast<LPCWSTR>(DllPath().c_str()));
  ASSERT_NE(dll, nullptr);
  auto get_class = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "DllGetClassObject")));
  ASSERT_NE(get_class, nullptr);
  CLSID folder;
  ::CLSIDFromString(reinterpret_cast<LPCOLESTR>(kClasses[0].clsid.c_str()), &folder);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class(folder, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  IPersistFolder* persist = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IPersistFolder, reinterpret_cast<void**>(&persist)), S_OK);
  CLSID reported = {};
  EXPECT_EQ(persist->GetClassID(&reported), S_OK);
  EXPECT_TRUE(IsEqualCLSID(reported, folder));
  EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);
  // Before any Initialize the folder has no place in the namespace: no
  // list, and a failure a caller cannot mistake for one.
  IPersistFolder2* located = nullptr;
  ASSERT_EQ(persist->QueryInterface(IID_IPersistFolder2, reinterpret_cast<void**>(&located)), S_OK);
  LPITEMIDLIST list = reinterpret_cast<LPITEMIDLIST>(1);
  EXPECT_EQ(located->GetCurFolder(&list), E_FAIL);
  EXPECT_EQ(list, nullptr);
  located->Release();
  IUnknown* aggregated = nullptr;
  EXPECT_EQ(factory->CreateInstance(persist, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
            CLASS_E_NOAGGREGATION);
  persist->Release();
  factory->Release();
  CLSID view;
  ::CLSIDFromString(reinterpret_cast<LPCOLESTR>(kClasses[3].clsid.c_str()), &view);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class(view, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(none, nullptr);
  ::FreeLibrary(dll);
}

// The copy hook as the shell would use it: the class named under the
// folders' CopyHookHandlers key, created from the library, asked about
// folder operations.
TEST(Registration, TheCopyHookCatchesOnlyThePlaceholder) {
  ASSERT_EQ(Regsvr32({}), 0);
  auto& reg = platform::SystemRegistry();
  const std::u16string hook = u"Directory\\shellex\\CopyHookHandlers\\" + kClasses[9].clsid;
  const auto named = reg.GetString(RegRoot::ClassesRoot, hook, u"");
  ASSERT_TRUE(named.has_value());
  CLSID clsid;
  ASSERT_EQ(::CLSIDFromString(reinterpret_cast<LPCOLESTR>(named->c_str()), &clsid), S_OK);

  HMODULE dll = ::LoadLibraryW(reinterpret_cast<LPCWSTR>(DllPath().c_str()));
  ASSERT_NE(dll, nullptr);
  auto get_class = reinterpret_cast<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void*>(::GetProcAddress(dll, "DllGetClassObject")));
  ASSERT_NE(get_class, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(get_class(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  ICopyHookW* copyHook = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_ICopyHookW, reinterpret_cast<void**>(&copyHook)), S_OK);
  factory->Release();

  const wchar_t* placeholder = L"C:\\users\\me\\Temp\\$VD$SLDL$\\$$PandrelDownload";
  struct Case {
    const char* what;
    UINT operation;
    const wchar_t* source;
    const wchar_t* destination;
    UINT answer;
  } cases[] = {
      {"an ordinary folder copied", FO_COPY, L"C:\\data\\photos", L"D:\\photos", IDYES},
      {"an ordinary folder deleted", FO_DELETE, L"C:\\data\\photos", nullptr, IDYES},
      {"the placeholder renamed", FO_RENAME, placeholder, L"C:\\users\\me\\Temp\\x", IDYES},
      {"the placeholder deleted", FO_DELETE, placeholder, nullptr, IDYES},
      {"the placeholder copied", FO_COPY, placeholder, L"D:\\收到\\$$PandrelDownload", IDNO},
      {"the placeholder moved", FO_MOVE, placeholder, L"D:\\收到\\$$PandrelDownload", IDNO},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(copyHook->CopyCallback(nullptr, c.operation, 0, c.source, FILE_ATTRIBUTE_DIRECTORY, c.destination,
                                     FILE_ATTRIBUTE_DIRECTORY),
              c.answer)
        << c.what;
  }
  copyHook->Release();
  ::FreeLibrary(dll);
  ASSERT_EQ(Regsvr32({u"/u"}), 0);
}

}  // namespace
