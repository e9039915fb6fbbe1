// Registers the test server with the system's regsvr32 (another process),
// creates its classes through COM, and unregisters it again.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "comtest_ids.h"
#include "wine_test_support.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

using platform::RegRoot;

const std::u16string kClsid = u"{8E2B1C7A-5D3F-4A61-9C0E-2F7B6D4A1E93}";
const std::u16string kNameSpace = u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\NameSpace";
const std::u16string kApproved = u"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

std::u16string DllPath() {
  std::u16string exe = platform::ExecutablePath();
  return exe.substr(0, exe.find_last_of(u'\\')) + u"\\comtest.dll";
}

int Regsvr32(std::vector<std::u16string> args) { return vd::testing::Regsvr32(std::move(args), DllPath()); }

template <typename F>
F GetProc(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

class ComApartment {
 public:
  ComApartment() { hr_ = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  ~ComApartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }

 private:
  HRESULT hr_;
};

TEST(ComServer, RegisterCreateAndUnregister) {
  auto& reg = platform::SystemRegistry();
  ASSERT_EQ(Regsvr32({}), 0);

  const std::u16string key = u"CLSID\\" + kClsid;
  auto server = reg.GetString(RegRoot::ClassesRoot, key + u"\\InprocServer32", u"");
  ASSERT_TRUE(server);
  EXPECT_TRUE(platform::EqualsNoCase(*server, DllPath()));
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key + u"\\InprocServer32", u"ThreadingModel"), u"Apartment");
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, key, u""), u"测试对象");
  EXPECT_EQ(reg.GetDword(RegRoot::ClassesRoot, key + u"\\ShellFolder", u"Attributes"), 0xF8800100u);
  EXPECT_EQ(reg.GetString(RegRoot::ClassesRoot, u"VDComTest.Object\\CurVer", u""), u"VDComTest.Object.1");
  EXPECT_TRUE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace + u"\\" + kClsid));
  EXPECT_EQ(reg.GetString(RegRoot::LocalMachine, kApproved, kClsid), u"测试对象");

  {
    ComApartment apartment;
    IPersist* persist = nullptr;
    ASSERT_EQ(::CoCreateInstance(CLSID_ComTestObject, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist,
                                 reinterpret_cast<void**>(&persist)), S_OK);
    CLSID got = {};
    EXPECT_EQ(persist->GetClassID(&got), S_OK);
    EXPECT_TRUE(IsEqualCLSID(got, CLSID_ComTestObject));
    EXPECT_EQ(persist->GetClassID(nullptr), E_POINTER);

    // COM identity: IUnknown from any interface is the same pointer.
    IPersistFolder* folder = nullptr;
    ASSERT_EQ(persist->QueryInterface(IID_IPersistFolder, reinterpret_cast<void**>(&folder)), S_OK);
    IUnknown* u1 = nullptr;
    IUnknown* u2 = nullptr;
    persist->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u1));
    folder->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&u2));
    EXPECT_EQ(u1, u2);
    u1->Release();
    u2->Release();
    // An exception inside a method comes out as its HRESULT.
    EXPECT_EQ(folder->Initialize(nullptr), E_NOTIMPL);
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(persist->QueryInterface(IID_IShellFolder, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);

    HMODULE dll = ::GetModuleHandleW(reinterpret_cast<LPCWSTR>(DllPath().c_str()));
    ASSERT_NE(dll, nullptr);
    auto can_unload = GetProc<HRESULT(__stdcall*)()>(dll, "DllCanUnloadNow");
    ASSERT_NE(can_unload, nullptr);
    EXPECT_EQ(can_unload(), S_FALSE);  // objects alive
    folder->Release();
    EXPECT_EQ(persist->Release(), 0u);
    EXPECT_EQ(can_unload(), S_OK);

    IClassFactory* factory = nullptr;
    ASSERT_EQ(::CoGetClassObject(CLSID_ComTestObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                 reinterpret_cast<void**>(&factory)), S_OK);
    IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
    void* aggregated = nullptr;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &aggregated), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(can_unload(), S_FALSE);  // the server lock holds it
    auto get_class = GetProc<HRESULT(__stdcall*)(REFCLSID, REFIID, void**)>(dll, "DllGetClassObject");
    ASSERT_EQ(get_class(CLSID_ComTestObject, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(can_unload(), S_OK);
    void* nothing = nullptr;
    EXPECT_EQ(get_class(CLSID_ComTestRefusing, IID_IClassFactory, &nothing), S_OK);
    static_cast<IUnknown*>(nothing)->Release();
    EXPECT_EQ(get_class(IID_IUnknown, IID_IClassFactory, &nothing), CLASS_E_CLASSNOTAVAILABLE);

    IPersist* refused = nullptr;
    EXPECT_EQ(::CoCreateInstance(CLSID_ComTestRefusing, nullptr, CLSCTX_INPROC_SERVER, IID_IPersist,
                                 reinterpret_cast<void**>(&refused)), E_ACCESSDENIED);
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(can_unload(), S_OK);  // the refused object did not leak
  }

  ASSERT_EQ(Regsvr32({u"/u"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, key));
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"VDComTest.Object.1"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"VDComTest.Object"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace + u"\\" + kClsid));
  EXPECT_FALSE(reg.GetValue(RegRoot::LocalMachine, kApproved, kClsid));
  EXPECT_TRUE(reg.KeyExists(RegRoot::ClassesRoot, u"CLSID"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::LocalMachine, kNameSpace));
}

TEST(ComServer, PerUserRegistrationAndMalformedScript) {
  auto& reg = platform::SystemRegistry();
  const std::u16string user_key = u"Software\\Classes\\CLSID\\" + kClsid;
  ASSERT_EQ(Regsvr32({u"/n", u"/i:USER"}), 0);
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, user_key + u"\\InprocServer32"));
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, kNameSpace + u"\\" + kClsid));
  ASSERT_EQ(Regsvr32({u"/u", u"/n", u"/i:user"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, user_key));
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, kNameSpace + u"\\" + kClsid));

  // A malformed script fails registration and writes nothing at all.
  EXPECT_NE(Regsvr32({u"/n", u"/i:malformed"}), 0);
  EXPECT_FALSE(reg.KeyExists(RegRoot::ClassesRoot, u"CLSID\\VDComTestMalformed"));
  HMODULE dll = ::LoadLibraryW(reinterpret_cast<LPCWSTR>(DllPath().c_str()));
  ASSERT_NE(dll, nullptr);
  auto install = GetProc<HRESULT(__stdcall*)(BOOL, LPCWSTR)>(dll, "DllInstall");
  ASSERT_NE(install, nullptr);
  EXPECT_EQ(install(TRUE, L"malformed"), HRESULT_FROM_WIN32(ERROR_INVALID_DATA));
  ::FreeLibrary(dll);
}

}  // namespace
