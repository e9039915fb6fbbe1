// The upload engine's pure rules: the report's texts, the replaced-files
// notice, the gzip rule, the item count of a tree and the register that keeps
// two tasks from sending one file.
#include <gtest/gtest.h>

#include <thread>

#include "platform/text.h"
#include "upload_task.h"

namespace vdtransfer {
namespace {

std::string U8(const std::u16string& text) { return platform::Utf16ToUtf8(text); }

UploadResultItem Item(const std::string& path, bool folder, int code) {
  UploadResultItem item;
  item.localPath = path;
  item.name = LeafName(path);
  item.isFolder = folder ? 1 : 0;
  item.resultCode = code;
  return item;
}

std::string Message(int code) { return "消息" + std::to_string(code); }

TEST(UploadReport, SummaryAndDetailsForEveryKindOfOutcome) {
  struct Case {
    const char* name;
    std::vector<UploadResultItem> results;
    std::vector<std::string> sameName;
    bool shown;
    const char* summary;
    const char* details;
  } cases[] = {
      {"all fine", {Item("C:\\a.txt", false, 0), Item("C:\\d", true, 0)}, {}, false, "", ""},
      {"a same-name folder and no failure still shows",
       {Item("C:\\a.txt", false, 0)},
       {"照片"},
       true,
       "上传完成, 不能上传同名文件夹，有1个同名文件夹没有上传。\r\n\r\n共有1个文件(文件夹)上传失败！",
       "上传失败详情:\r\n同名文件夹:照片\r\n"},
      {"code 1 carries no reason",
       {Item("C:\\数据\\b.bin", false, 1)},
       {},
       true,
       "上传完成, 共有1个文件(文件夹)上传失败！",
       "上传失败详情:\r\n文件: C:\\数据\\b.bin\r\n"},
      {"a folder not tried, an SDK code with its reason",
       {Item("C:\\x", true, -1), Item("C:\\y.txt", false, 9000)},
       {},
       true,
       "上传完成, 共有2个文件(文件夹)上传失败！",
       "上传失败详情:\r\n文件夹: C:\\x （原因：消息-1)\r\n文件: C:\\y.txt （原因：消息9000)\r\n"},
      {"a quota code adds its message to the summary",
       {Item("C:\\big.iso", false, 204009424)},
       {},
       true,
       "上传完成, 共有1个文件(文件夹)上传失败！消息204009424！",
       "上传失败详情:\r\n文件: C:\\big.iso （原因：消息204009424)\r\n"},
      {"9470 only as itself",
       {Item("C:\\p", false, 19470), Item("C:\\q", false, 9470)},
       {},
       true,
       "上传完成, 共有2个文件(文件夹)上传失败！消息9470！",
       "上传失败详情:\r\n文件: C:\\p （原因：消息19470)\r\n文件: C:\\q （原因：消息9470)\r\n"},
  };
  for (const auto& c : cases) {
    const auto report = BuildUploadReport(c.results, c.sameName, Message);
    ASSERT_EQ(report.has_value(), c.shown) << c.name;
    if (!report) continue;
    EXPECT_EQ(U8(report->summary), c.summary) << c.name;
    EXPECT_EQ(U8(report->details), c.details) << c.name;
  }
}

TEST(UploadReport, ReplacedFilesNoticeForOneTwoAndMany) {
  const std::string tail = "个文件，原有文件已自动保存为历史版本，您可以通过右键菜单查看历史版本";
  EXPECT_EQ(U8(ReplacedFilesText({})), "");
  EXPECT_EQ(U8(ReplacedFilesText({"a.txt"})), "此文件夹中已有a.txt 1" + tail);
  EXPECT_EQ(U8(ReplacedFilesText({"a.txt", "b.txt"})), "此文件夹中已有a.txt,b.txt 2" + tail);
  EXPECT_EQ(U8(ReplacedFilesText({"a.txt", "b.txt", "c.txt"})), "此文件夹中已有a.txt,b.txt等 3 " + tail);
}

TEST(UploadRules, GzipTreeCountsNamesAndTypes) {
  struct Gzip {
    std::string list;
    std::uint64_t size;
    std::string ext;
    bool want;
  } gzips[] = {
      {".txt;.log", 2049, ".txt", true},
      {".txt;.log", 2048, ".txt", false},  // not above 2048 bytes
      {".txt;.log", 1 << 20, ".doc", false},
      {".txt;.log", 1 << 20, "txt", true},  // the one-file path passes no dot
      {"", 1 << 20, ".txt", false},
      {".txt", 1 << 20, "", false},
      {std::string(259, ';') + ".txt", 1 << 20, ".txt", false},  // past 259 characters
  };
  for (const auto& g : gzips) EXPECT_EQ(GzipApplies(g.list, g.size, g.ext), g.want) << g.list.size() << g.ext;

  UploadDirNode root;
  root.files = {"a", "b"};
  UploadDirNode sub;
  sub.localPath = "C:\\s";
  sub.files = {"C:\\s\\c"};
  sub.subdirs.resize(2);
  root.subdirs.push_back(sub);
  EXPECT_EQ(CVDUploadFileTask::StatisticsTask(root), 6) << "2 files, 1 folder, and its 1 file and 2 folders";
  EXPECT_EQ(CVDUploadFileTask::StatisticsTask(UploadDirNode{}), 0);

  EXPECT_EQ(LeafName("C:\\目录\\文件.txt"), "文件.txt");
  EXPECT_EQ(LeafName("plain"), "plain");
  EXPECT_EQ(ExtensionTypeCode("a.JPG"), 1);
  EXPECT_EQ(ExtensionTypeCode("a.mp3"), 2);
  EXPECT_EQ(ExtensionTypeCode("x.tar.mkv"), 3);
  EXPECT_EQ(ExtensionTypeCode("readme"), 0);
  const std::string now = LocalTimeText();
  ASSERT_EQ(now.size(), 14u) << now;
  EXPECT_EQ(now.find_first_not_of("0123456789"), std::string::npos);
}

TEST(UploadChecker, AFileIsClaimedByOneTaskUntilItGivesItBack) {
  auto& checker = CVDUploadChecker::GetInstance();
  UploadDirNode first;
  first.files = {"C:\\t\\same.bin", "C:\\t\\one.bin"};
  first.subdirs.resize(1);
  first.subdirs[0].files = {"C:\\t\\d\\deep.bin"};
  UploadDirNode second;
  second.files = {"C:\\t\\same.bin", "C:\\t\\two.bin"};
  second.subdirs.resize(1);
  second.subdirs[0].files = {"C:\\t\\d\\deep.bin", "C:\\t\\d\\other.bin"};

  checker.AssertUploadfiles(first);
  checker.AssertUploadfiles(second);
  EXPECT_EQ(first.files.size(), 2u);
  EXPECT_EQ(second.files, std::vector<std::string>{"C:\\t\\two.bin"});
  EXPECT_EQ(second.subdirs[0].files, std::vector<std::string>{"C:\\t\\d\\other.bin"});

  checker.RomeveUploadfiles(first);
  EXPECT_FALSE(checker.Holds("C:\\t\\same.bin"));
  EXPECT_FALSE(checker.Holds("C:\\t\\d\\deep.bin"));
  EXPECT_TRUE(checker.Holds("C:\\t\\two.bin")) << "the second task's own files stay claimed";
  checker.RomeveUploadfiles(second);
  EXPECT_FALSE(checker.Holds("C:\\t\\two.bin"));

  // Racing claims of one file: exactly one task gets it.
  std::vector<UploadDirNode> trees(8);
  for (auto& t : trees) t.files = {"C:\\race.bin"};
  std::vector<std::thread> threads;
  for (auto& t : trees) threads.emplace_back([&t, &checker] { checker.AssertUploadfiles(t); });
  for (auto& t : threads) t.join();
  int owners = 0;
  for (const auto& t : trees) owners += static_cast<int>(t.files.size());
  EXPECT_EQ(owners, 1);
  for (const auto& t : trees) checker.RomeveUploadfiles(t);
  EXPECT_FALSE(checker.Holds("C:\\race.bin"));
}

}  // namespace
}  // namespace vdtransfer
