#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "string_table.h"
#include "vd_paths.h"
#include "vd_settings.h"

namespace vd::config {
namespace {

std::string U8(std::u16string_view s) { return platform::WideToUtf8(s); }

TEST(ModulePaths, SplitModulePath) {
  struct Case { std::u16string in; bool ok; std::u16string parent; std::u16string lib; } cases[] = {
      {u"C:\\A\\B\\lib.dll", true, u"C:\\A", u"C:\\A\\lib.dll"},
      {u"C:\\Program Files\\Veyra\\bin\\Pandrel64.dll", true, u"C:\\Program Files\\Veyra", u"C:\\Program Files\\Veyra\\Pandrel64.dll"},
      {u"C:\\lib.dll", false, u"", u""},             // no folder to cut
      {u"lib.dll", false, u"", u""},                 // no "\" at all
      {u"\\\\server\\share\\x\\lib.dll", true, u"\\\\server\\share", u"\\\\server\\share\\lib.dll"},
      {u"C:\\" + std::u16string(300, u'a') + u"\\b\\c.dll", false, u"", u""},  // longer than 260
  };
  for (auto& c : cases) {
    auto got = SplitModulePath(c.in);
    ASSERT_EQ(got.has_value(), c.ok) << U8(c.in);
    if (!c.ok) continue;
    EXPECT_EQ(got->parent_folder, c.parent) << U8(c.in);
    EXPECT_EQ(got->library_in_parent, c.lib) << U8(c.in);
  }
}

TEST(ModulePaths, ImagesAndIcons) {
  EXPECT_EQ(ImagesFolder(u"C:\\ORLO\\"), u"C:\\ORLO\\images");
  EXPECT_EQ(ImagesFolder(u"C:\\ORLO"), u"C:\\ORLO\\images");
  auto state = StateIconPaths(u"C:\\ORLO\\images");
  EXPECT_EQ(state[0], u"");
  EXPECT_EQ(state[1], u"C:\\ORLO\\images\\state\\SharedFlag.ico");
  EXPECT_EQ(state[3], state[1]);
  EXPECT_EQ(state[5], u"C:\\ORLO\\images\\state\\VDSyncDirOk.ico");
  for (int i : {7, 8, 9}) EXPECT_EQ(state[i], u"C:\\ORLO\\images\\state\\SynOkAndOther.ico");
  for (int i : {10, 11, 12}) EXPECT_EQ(state[i], u"C:\\ORLO\\images\\state\\SyningAndOther.ico");
  EXPECT_EQ(state[13], u"C:\\ORLO\\images\\state\\VDSyncDirSynPause.ico.ico");
  auto types = TypeIconPaths(u"X");
  EXPECT_EQ(types[0], u"X\\state\\exe.ico");
  EXPECT_EQ(types[4], u"X\\state\\null.ico");
  EXPECT_EQ(SetupKeyPath(true), u"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO");
  EXPECT_EQ(SetupKeyPath(false), u"SOFTWARE\\Larkmere\\ORLO");
}

TEST(ModulePaths, DataFolders) {
  DataFolders d(u"C:\\Users\\u\\Documents");
  EXPECT_EQ(d.LogFolder(), u"C:\\Users\\u\\Documents\\ORLO\\log\\VD");
  EXPECT_EQ(d.LogFile(u"C:\\Windows\\explorer.exe"), u"C:\\Users\\u\\Documents\\ORLO\\log\\VD\\Pandrel.explorer.log");
  EXPECT_EQ(d.LogFile(u"C:\\x\\my.app.exe"), u"C:\\Users\\u\\Documents\\ORLO\\log\\VD\\Pandrel.my.log");
  EXPECT_EQ(d.XLogFolder(), u"C:\\Users\\u\\Documents\\ORLO\\log\\xlog\\");
  EXPECT_EQ(d.CacheDb(u"13800000000"), u"C:\\Users\\u\\Documents\\ORLO\\13800000000\\cache.db");
  EXPECT_EQ(d.OpenFilesFolder(u"a"), u"C:\\Users\\u\\Documents\\ORLO\\a\\VDOpenFiles");
  EXPECT_EQ(d.TempFolder(u"a"), u"C:\\Users\\u\\Documents\\ORLO\\a\\temp");
  EXPECT_EQ(d.AccountSettings(u"a"), u"C:\\Users\\u\\Documents\\ORLO\\a\\NimbraSet.ini");
  EXPECT_EQ(d.AdvertFolder(), u"C:\\Users\\u\\Documents\\ORLO\\Advertice\\");
  EXPECT_EQ(d.SyncStateFile(), u"C:\\Users\\u\\Documents\\ORLO\\SyncDirStateFile.dat");
  EXPECT_EQ(DataFolders(u"D:\\Docs\\").Root(), u"D:\\Docs\\ORLO");
}

TEST(HostChecks, ExplorerOfficeAndVersions) {
  EXPECT_TRUE(IsHostInExplorer(u"C:\\Windows\\explorer.exe"));
  EXPECT_TRUE(IsHostInExplorer(u"C:\\WINDOWS\\EXPLORER.EXE"));
  EXPECT_FALSE(IsHostInExplorer(u"C:\\Windows\\notepad.exe"));
  EXPECT_FALSE(IsHostInExplorer(u"C:\\x\\myexplorer.exe"));

  int reads = 0;
  auto version = [&](unsigned major) {
    return [&reads, major](std::u16string_view) -> std::optional<unsigned> {
      ++reads;
      return major;
    };
  };
  const std::u16string word = u"C:\\Program Files\\Microsoft Office\\Office14\\WINWORD.EXE";
  EXPECT_TRUE(CheckAppVersion(word, version(12)));
  EXPECT_FALSE(CheckAppVersion(word, version(14)));
  EXPECT_TRUE(CheckAppVersion(word, [](std::u16string_view) -> std::optional<unsigned> { return std::nullopt; }));
  reads = 0;
  EXPECT_TRUE(CheckAppVersion(u"C:\\Program Files\\Internet Explorer\\iexplore.exe", version(11)));
  EXPECT_EQ(reads, 1);
  reads = 0;
  EXPECT_TRUE(CheckAppVersion(u"C:\\Windows\\explorer.exe", version(99)));
  EXPECT_EQ(reads, 0);
  EXPECT_TRUE(CheckAppVersion(u"", version(99)));

  struct Os { unsigned major, minor; int want; } os[] = {
      {5, 0, 1}, {5, 1, 2}, {5, 2, 2}, {6, 0, 3}, {6, 1, 4}, {6, 2, 5}, {6, 3, 0}, {10, 0, 0}, {4, 0, 0}};
  for (auto& o : os) EXPECT_EQ(GetOS(o.major, o.minor), o.want) << o.major << "." << o.minor;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto temp = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp);
    dir = platform::JoinPath(*temp, u"vdcfg" + platform::Utf8ToWide(std::to_string(platform::CurrentProcessId())));
    ASSERT_EQ(platform::SystemFileSystem().CreateDirectories(dir), platform::kOk);
  }
  void TearDown() override { platform::SystemFileSystem().RemoveTree(dir); }
  void Write(std::u16string_view name, std::string_view text) {
    ASSERT_EQ(platform::SystemFileSystem().WriteFileAtomic(platform::JoinPath(dir, name), text), platform::kOk);
  }
  std::u16string Folder() const { return dir; }
  std::u16string dir;
  platform::IProfile& ini = platform::SystemProfile();
};

TEST_F(SettingsTest, MissingFilesAndKeysGiveDefaults) {
  EXPECT_EQ(ReadLogLevel(ini, Folder()), 2);
  EXPECT_FALSE(ReadIsPreCache(ini, Folder()));
  EXPECT_EQ(ReadUploadFilterSuffix(ini, Folder()), u"");
  auto flags = ReadNewFunctionFlags(ini, platform::JoinPath(dir, u"NimbraSet.ini"));
  EXPECT_EQ(flags.msg, 1);
  EXPECT_EQ(flags.safe_box, 1);

  Write(u"Config.ini", "[Other]\r\nLogLevel=4\r\n");  // no [All] section
  EXPECT_EQ(ReadLogLevel(ini, Folder()), 2);
  Write(u"Config.ini",
        "[All]\r\nLogLevel=0\r\n[Pandrel]\r\nIsPreCache=1\r\n[ORLO]\r\nSTRONG_HTTP=http://s/?a=1\r\nPORTAL_HTTP=http://p/\r\n");
  EXPECT_EQ(ReadLogLevel(ini, Folder()), 0);
  EXPECT_TRUE(ReadIsPreCache(ini, Folder()));
  auto side = ReadSideBarAddresses(ini, Folder());
  EXPECT_EQ(side.strong, u"http://s/?a=1");
  EXPECT_EQ(side.free_enlarge, u"");
  EXPECT_EQ(side.portal, u"http://p/");
  Write(u"Config.ini", "[Pandrel]\r\nIsPreCache=11\r\n");
  EXPECT_FALSE(ReadIsPreCache(ini, Folder()));

  Write(u"sdkconfig.ini", "[SDK]\r\nUploadFilterSuffix=" + std::string(300, 'x') + "\r\n");
  EXPECT_EQ(ReadUploadFilterSuffix(ini, Folder()).size(), 259u);
  Write(u"NimbraSet.ini", "[Pandrel]\r\nNewFunctionMsg=0\r\n");
  flags = ReadNewFunctionFlags(ini, platform::JoinPath(dir, u"NimbraSet.ini"));
  EXPECT_EQ(flags.msg, 0);
  EXPECT_EQ(flags.safe_box, 1);
}

TEST(Settings, UploadFilterRules) {
  const std::u16string list = u".tmp.lnk.db";
  struct Case { const char16_t* name; bool filtered; } cases[] = {
      {u"a.tmp", true},  {u"a.lnk", true},     {u"Thumbs.db", true}, {u"a.TMP", false},  // case-sensitive
      {u"a.txt", false}, {u"noext", false},    {u"x.tar.db", true},  {u"a.", true},      // "." alone is in the list
      {u"a.k", false},    {u"a.mp", false},
  };
  for (auto& c : cases) EXPECT_EQ(IsUploadFiltered(c.name, list), c.filtered) << U8(c.name);
  EXPECT_FALSE(IsUploadFiltered(u"a.tmp", u""));
}

TEST(Settings, SetupFolderFromTheRightKey) {
  auto& reg = platform::SystemRegistry();
  const auto root = platform::RegRoot::LocalMachine;
  reg.DeleteTree(root, u"SOFTWARE\\Wow6432Node\\Larkmere");
  reg.DeleteTree(root, u"SOFTWARE\\Larkmere");
  EXPECT_FALSE(ReadSetupFolder(reg, true));
  ASSERT_EQ(reg.SetString(root, u"SOFTWARE\\Larkmere\\ORLO", u"setup", u"C:\\Native\\"), platform::kOk);
  EXPECT_FALSE(ReadSetupFolder(reg, true));  // a 64-bit processor reads only Wow6432Node
  EXPECT_EQ(ReadSetupFolder(reg, false), u"C:\\Native\\");
  ASSERT_EQ(reg.SetString(root, u"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO", u"setup", u"C:\\Wow\\ORLO"), platform::kOk);
  EXPECT_EQ(ReadSetupFolder(reg, true), u"C:\\Wow\\ORLO");
  ASSERT_EQ(reg.SetString(root, u"SOFTWARE\\Wow6432Node\\Larkmere\\ORLO", u"setup", std::u16string(260, u'x')), platform::kOk);
  EXPECT_FALSE(ReadSetupFolder(reg, true));  // does not fit the 520-byte buffer
  reg.DeleteTree(root, u"SOFTWARE\\Wow6432Node\\Larkmere");
  reg.DeleteTree(root, u"SOFTWARE\\Larkmere");
}

TEST(Settings, NetworkStateFromTheClientsValue) {
  auto& reg = platform::SystemRegistry();
  const auto root = platform::RegRoot::CurrentUser;
  const std::u16string key = u"SOFTWARE\\Larkmere\\ORLO";
  reg.DeleteValue(root, key, u"NetStateChange");
  EXPECT_TRUE(IsNetworkAvailable(reg)) << "no word from the client: available";
  const std::pair<uint32_t, bool> states[] = {{0xFFFFFFFFu, false}, {1, true}, {0, true}, {0xFFFFFFFEu, true}};
  for (const auto& [state, available] : states) {
    ASSERT_EQ(reg.SetDword(root, key, u"NetStateChange", state), platform::kOk);
    EXPECT_EQ(IsNetworkAvailable(reg), available) << state;
  }
  reg.DeleteValue(root, key, u"NetStateChange");
}

TEST(StringTable, TextsByNumber) {
  using namespace vd::resources;
  EXPECT_EQ(LoadText(IDS_VD_DISPLAY_NAME), "Veyra云盘");
  EXPECT_EQ(LoadText(IDS_VD_ROOT_NAME), "Veyra云盘");
  EXPECT_EQ(LoadText(IDS_NODE_RECEIVED_SHARES), "收到的分享");
  EXPECT_EQ(LoadText(IDS_DATE_FORMAT), "%d年%d月%d日 %d:%02d");
  EXPECT_EQ(LoadText(IDS_CAPTION), "提示");
  EXPECT_EQ(LoadText(IDS_DISK_DISPLAY_NAME), "Veyra云盘");
  EXPECT_TRUE(LoadText(100).empty());
  EXPECT_TRUE(LoadText(-1).empty());
}

}  // namespace
}  // namespace vd::config
