#include <windows.h>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "module_log.h"
#include "trace.h"
#include "vd_module.h"
#include "vd_paths.h"
#include "xlogger.h"

namespace {

const std::u16string kSetupKey = u"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO";

std::wstring ExePath() {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, n);
}

TEST(VDModuleInit, FillsTextsPathsFormatsAndAllocator) {
  auto& reg = platform::SystemRegistry();
  ASSERT_EQ(reg.SetString(platform::RegRoot::LocalMachine, kSetupKey, u"setup", u"C:\\ORLO\\"), platform::kOk);
  VDModule m;
  ASSERT_EQ(VDModule::Init(&m, nullptr, ::GetModuleHandleW(nullptr)), S_OK);

  EXPECT_STREQ(m.m_displayName, L"Veyra云盘");
  EXPECT_STREQ(m.m_rootName, L"Veyra云盘");
  EXPECT_STREQ(m.m_receivedShares, L"收到的分享");
  EXPECT_STREQ(m.m_contacts, L"Tallybook");
  EXPECT_EQ(m.m_rootId, L"00019700101000000001");
  EXPECT_EQ(m.m_rootIdA, "00019700101000000001");
  EXPECT_EQ(m.m_receivedSharesId, L"00019700101000000067");

  // A 64-bit processor reads the install folder from Wow6432Node, also from 64-bit code.
  EXPECT_EQ(m.m_stateIcons[0], L"");
  EXPECT_EQ(m.m_stateIcons[1], L"C:\\ORLO\\images\\state\\SharedFlag.ico");
  EXPECT_EQ(m.m_stateIcons[13], L"C:\\ORLO\\images\\state\\VDSyncDirSynPause.ico.ico");
  EXPECT_EQ(m.m_typeIcons[3], L"C:\\ORLO\\images\\state\\pdf.ico");

  for (size_t i = 0; i < VDModule::kClipboardFormatNames.size(); ++i) {
    EXPECT_NE(m.m_clipboardFormats[i], 0);
    EXPECT_EQ(m.m_clipboardFormats[i], ::RegisterClipboardFormatW(VDModule::kClipboardFormatNames[i]));
  }
  EXPECT_EQ(m.m_nseDragDrop, ::RegisterClipboardFormatW(L"NSEDRAGDROP"));
  ASSERT_NE(m.m_malloc, nullptr);
  EXPECT_GE(m.m_osMajor, 5u);

  std::wstring exe = ExePath();
  std::wstring folder = exe.substr(0, exe.rfind(L'\\'));
  std::wstring parent = folder.substr(0, folder.rfind(L'\\'));
  EXPECT_EQ(std::wstring(m.m_parentFolder), parent);
  EXPECT_EQ(std::wstring(m.m_libraryInParent), parent + exe.substr(exe.rfind(L'\\')));

  m.m_rootPidl = static_cast<LPITEMIDLIST>(m.m_malloc->Alloc(16));
  m.m_syncRootPidl = static_cast<LPITEMIDLIST>(m.m_malloc->Alloc(16));
  VDModule::Term(&m);
  EXPECT_EQ(m.m_rootPidl, nullptr);
  EXPECT_EQ(m.m_syncRootPidl, nullptr);
  EXPECT_EQ(m.m_malloc, nullptr);

  // Without the install folder the icon paths stay unset and start-up goes on.
  reg.DeleteValue(platform::RegRoot::LocalMachine, kSetupKey, u"setup");
  VDModule bare;
  EXPECT_EQ(VDModule::Init(&bare, nullptr, ::GetModuleHandleW(nullptr)), S_OK);
  EXPECT_EQ(bare.m_stateIcons[1], L"");
  VDModule::Term(&bare);

  OSVERSIONINFOW seven = {};
  seven.dwMajorVersion = 6;
  seven.dwMinorVersion = 1;
  EXPECT_EQ(VDModule::GetOS(seven), 4);
  EXPECT_GE(VDModule::GetSysFileIcon(L"a.txt", false, SHGFI_SMALLICON), 0);
}

TEST(ExportedXLogger, WritesThroughTheLibrary) {
  auto temp = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp);
  std::u16string dir = platform::JoinPath(*temp, u"vdxl" + platform::Utf8ToWide(std::to_string(::GetCurrentProcessId())));
  platform::SystemFileSystem().CreateDirectories(dir);
  std::u16string file = platform::JoinPath(dir, u"Exported.txt");
  std::wstring config = L"FileName=" + std::wstring(file.begin(), file.end()) + L",LogFormat=%H:%M:%S";
  {
    XLOGGER::XLogger logger;
    EXPECT_EQ(logger.Write(L"n", XLOGGER::XLL_INFO, "not open", -1), 0);
    ASSERT_NE(logger.Open(L"C:\\x\\Pandrel64.dll", L"Exported", 1, config.c_str()), 0);
    EXPECT_EQ(logger.Open(L"C:\\x\\Pandrel64.dll", L"Exported", 1, config.c_str()), 0);  // already open
    EXPECT_EQ(logger.Write(L"n", XLOGGER::XLL_TRACE, "below", -1), 0);
    EXPECT_EQ(logger.Write(nullptr, XLOGGER::XLL_INFO, "no name", -1), 0);
    EXPECT_EQ(logger.Write(L"n", static_cast<XLOGGER::XLogLevel>(7), "bad level", -1), 0);
    EXPECT_EQ(logger.Write(L"n", XLOGGER::XLL_INFO, "hello 云盘 and more", 12), 1);
    unsigned char bytes[3] = {0xDE, 0xAD, 0x01};
    EXPECT_EQ(logger.Write2(bytes, 3, XLOGGER::XLL_WARN, "blob", -1), 1);
    XLOGGER::XLogger copy;
    copy = logger;  // shares the writer; both destructors are safe
    EXPECT_EQ(copy.Write(L"n", XLOGGER::XLL_ERROR, "via copy", -1), 1);
  }
  std::string text;
  // The server writes what it holds when its last logger closes.
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(file, text), platform::kOk);
  EXPECT_NE(text.find(" 2 hello \xe4\xba\x91\xe7\x9b\x98\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" 3 blob [3 bytes] DEAD01"), std::string::npos) << text;
  EXPECT_NE(text.find(" 4 via copy"), std::string::npos) << text;
  EXPECT_EQ(text.find("below"), std::string::npos);
  platform::SystemFileSystem().RemoveTree(dir);
}

}  // namespace

namespace {

TEST(ModuleLog, StartsInTheDocumentsFolderWithTheConfiguredLevel) {
  auto docs = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Documents);
  ASSERT_TRUE(docs);
  std::wstring exe = ExePath();
  std::u16string exe16(exe.begin(), exe.end());
  std::u16string parent = platform::JoinPath(*platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp), u"vdparent");
  platform::SystemFileSystem().CreateDirectories(parent);
  ASSERT_EQ(platform::SystemFileSystem().WriteFileAtomic(platform::JoinPath(parent, u"Config.ini"), "[All]\r\nLogLevel=3\r\n"),
            platform::kOk);
  ASSERT_TRUE(vd::module::StartModuleLog(*docs, parent, exe16));
  VD_LOG_INFO("below the level");
  VD_LOG_WARN("kept: %d", 42);
  std::u16string file = vd::config::DataFolders(*docs).LogFile(exe16);
  std::string text;
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(file, text), platform::kOk) << platform::WideToUtf8(file);
  // Level 3: the start-up line (Info) and the Info line are not written, the warning is.
  EXPECT_EQ(text.find("below the level"), std::string::npos);
  EXPECT_NE(text.find("kept: 42"), std::string::npos) << text;
  vd::trace::SetLogSink(nullptr);

  ASSERT_EQ(platform::SystemFileSystem().WriteFileAtomic(platform::JoinPath(parent, u"Config.ini"), "[Other]\r\n"), platform::kOk);
  ASSERT_TRUE(vd::module::StartModuleLog(*docs, parent, exe16));
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(file, text), platform::kOk);
  // Default level 2: the start-up line is there, in the ANSI code page.
  EXPECT_NE(text.find(platform::WideToAnsi(u"*****虚拟盘初始化成功*****")), std::string::npos);
  vd::trace::SetLogSink(nullptr);
  platform::SystemFileSystem().RemoveTree(parent);
}

TEST(ModuleSettings, RegisteredFolderAndVersionResource) {
  auto& reg = platform::SystemRegistry();
  const std::u16string key = u"CLSID\\{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}\\InProcServer32";
  reg.DeleteTree(platform::RegRoot::ClassesRoot, u"CLSID\\{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}");
  EXPECT_FALSE(vd::module::GetGlobalSettings());
  ASSERT_EQ(reg.SetString(platform::RegRoot::ClassesRoot, key, u"", u"C:\\Program Files\\Veyra\\Pandrel64.dll"), platform::kOk);
  EXPECT_EQ(vd::module::GetGlobalSettings(), u"C:\\Program Files\\Veyra");
  reg.DeleteTree(platform::RegRoot::ClassesRoot, u"CLSID\\{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}");

  wchar_t system[MAX_PATH];
  ::GetSystemDirectoryW(system, MAX_PATH);
  std::wstring kernel = std::wstring(system) + L"\\kernel32.dll";
  auto major = vd::module::CAppVersion::Major(std::u16string(kernel.begin(), kernel.end()));
  ASSERT_TRUE(major);
  EXPECT_GE(*major, 5u);
  EXPECT_FALSE(vd::module::CAppVersion::Major(u"C:\\no\\such.exe"));
}

}  // namespace
