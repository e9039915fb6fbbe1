// The upload rules against real local trees: what a drop takes, what it
// skips without a word, and the single message that refuses it.
#include "drop_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/text.h"
#include "string_table.h"
#include "temp_dir.h"
#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#endif

namespace vdtransfer {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, std::size_t bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

// A sparse file of `bytes`: no disk is spent on the 20 GiB cases. Windows
// allocates what a file grows by unless it is marked sparse first.
void Sparse(const fs::path& path, std::uint64_t bytes) {
  Write(path, 0);
#ifdef _WIN32
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(bytes);
  const bool sized = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  ::CloseHandle(file);
  ASSERT_TRUE(sized) << "error " << ::GetLastError();
#else
  fs::resize_file(path, bytes);
#endif
}

std::u16string W(const fs::path& p) { return p.u16string(); }
std::string A(const fs::path& p) { return platform::WideToAnsi(p.u16string()); }

std::vector<std::string> AllFiles(const UploadDirNode& node) {
  std::vector<std::string> out = node.files;
  for (const UploadDirNode& sub : node.subdirs) {
    auto more = AllFiles(sub);
    out.insert(out.end(), more.begin(), more.end());
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(DropRules, SuffixFilter) {
  struct Case {
    const char* path;
    std::u16string list;
    bool forbidden;
  } cases[] = {
      {"C:\\a\\report.tmp", u".tmp;.bak", true},
      {"C:\\a\\report.TMP", u".tmp;.bak", false},
      {"C:\\a\\archive.tar.bak", u".tmp;.bak", true},
      {"C:\\a\\Makefile", u".tmp;Makefile", false},
      {"C:\\a.tmp\\readme", u".tmp", false},
      {"C:\\a\\x.tm", u".tmp", true},  // a substring of the list is enough
      {"C:\\a\\x.tmp", u"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsForbidSuffix(c.path, c.list), c.forbidden) << c.path;
}

TEST(DropRules, AFolderTreeIsTakenWithoutDotNamesFilteredSuffixesOrHiddenEntries) {
  vd::testing::TempDir dir("vd-drop");
  const fs::path tree = dir.path() / fs::u8path("资料");
  Write(tree / "a.txt", 10);
  Write(tree / fs::u8path("子目录") / "b.bin", 2000);
  Write(tree / fs::u8path("子目录") / "empty.dat", 0);
  Write(tree / ".git" / "config", 5);
  Write(tree / ".profile", 5);
  Write(tree / "lock.tmp", 5);
  Write(tree / "deep" / "er" / "c.txt", 3);
  Sparse(tree / "huge.iso", kMaxUploadFileBytes + 1);
#ifdef _WIN32
  Write(tree / "thumbs.db", 7);
  ASSERT_TRUE(::SetFileAttributesW((tree / "thumbs.db").c_str(), FILE_ATTRIBUTE_HIDDEN));
  Write(tree / "sys" / "x", 7);
  ASSERT_TRUE(::SetFileAttributesW((tree / "sys").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY));
#endif
  const fs::path lone = dir.path() / "lone.txt";
  Write(lone, 0);

  const DropCollection drop = CollectDrop({W(tree), W(lone)}, {"图片"}, u".tmp");
  EXPECT_FALSE(drop.hidden || drop.forbidden || drop.openFailure || drop.sameName || drop.tooLarge);
  EXPECT_EQ(AllFiles(drop.root),
            (std::vector<std::string>{A(lone), A(tree / "a.txt"), A(tree / "deep" / "er" / "c.txt"),
                                      A(tree / fs::u8path("子目录") / "b.bin"),
                                      A(tree / fs::u8path("子目录") / "empty.dat")}));
  EXPECT_EQ(drop.root.files, std::vector<std::string>{A(lone)});
  ASSERT_EQ(drop.root.subdirs.size(), 1u);
  EXPECT_EQ(drop.root.subdirs[0].localPath, A(tree));
  EXPECT_EQ(drop.itemCount, 5u);
  EXPECT_EQ(drop.byteTotal, 10u + 2000 + 3);
  EXPECT_EQ(drop.emptyCount, 2);
  EXPECT_EQ(drop.over20Count, 1u) << "the big file inside the folder";
  const std::u16string expected = platform::Utf8ToUtf16("有1个文件超20G。");
  ASSERT_TRUE(DropRefusal(drop, false, kDropLocalFiles).has_value());
  EXPECT_EQ(DropRefusal(drop, false, kDropLocalFiles)->text, expected);
}

TEST(DropRules, EachRefusalInItsOrder) {
  using namespace vd::resources;
  vd::testing::TempDir dir("vd-drop");
  const fs::path ok = dir.path() / "ok.txt", limit = dir.path() / "limit.bin", over = dir.path() / "over.bin",
                 skipped = dir.path() / "x.tmp", folder = dir.path() / fs::u8path("图片"), missing = dir.path() / "gone";
  Write(ok, 4);
  Sparse(limit, kMaxUploadFileBytes);
  Sparse(over, kMaxUploadFileBytes + 1);
  Write(skipped, 4);
  Write(folder / "p.jpg", 4);
#ifdef _WIN32
  const fs::path hidden = dir.path() / "hidden.txt";
  Write(hidden, 4);
  ASSERT_TRUE(::SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
  auto text = [](int id) { return platform::Utf8ToUtf16(LoadText(id)); };
  struct Case {
    const char* what;
    std::vector<std::u16string> paths;
    bool shareRoot;
    int mode;
    std::u16string message;  // empty: the drop goes ahead
  } cases[] = {
      {"a file of exactly the limit", {W(limit)}, false, kDropLocalFiles, u""},
      {"one byte more, alone", {W(over)}, false, kDropLocalFiles, text(IDS_FILE_TOO_LARGE)},
      {"one byte more, with others", {W(over), W(ok)}, false, kDropLocalFiles, platform::Utf8ToUtf16("有1个文件超20G。")},
      {"a filtered suffix refuses everything", {W(ok), W(skipped)}, false, kDropLocalFiles, text(IDS_DROP_FORBIDDEN_SUFFIX)},
      {"a folder the target has, alone", {W(folder)}, false, kDropLocalFiles, text(IDS_SAME_NAME_FOLDER_EXISTS)},
      {"a folder the target has, with a file", {W(folder), W(ok)}, false, kDropLocalFiles, u""},
      {"an unreadable path", {W(ok), W(missing)}, false, kDropLocalFiles,
       text(IDS_FILE_PREFIX) + W(missing) + text(IDS_OPEN_FAILED_TAIL)},
      {"the received-shares root, dragged", {W(ok)}, true, kDropLocalFiles,
       u"不能往收到的分享根目录拖曳上传文件(夹)，可尝试拖曳到其他目录"},
      {"the received-shares root, pasted", {W(ok)}, true, kDropPaste,
       u"不能往收到的分享根目录上传文件(夹)，可尝试粘贴到其他目录"},
#ifdef _WIN32
      {"a hidden file with plain ones", {W(ok), W(hidden), W(skipped)}, false, kDropLocalFiles, text(IDS_DROP_HIDDEN)},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const DropCollection drop = CollectDrop(c.paths, {platform::WideToAnsi(u"图片")}, u".tmp");
    const auto refusal = DropRefusal(drop, c.shareRoot, c.mode);
    EXPECT_EQ(refusal ? refusal->text : u"", c.message);
  }
  const DropCollection exact = CollectDrop({W(limit)}, {}, u"");
  EXPECT_EQ(exact.byteTotal, kMaxUploadFileBytes);
  EXPECT_EQ(exact.title, A(limit));
  const auto unreadable = DropRefusal(CollectDrop({W(missing)}, {}, u""), false, kDropLocalFiles);
  ASSERT_TRUE(unreadable.has_value());
  EXPECT_EQ(unreadable->captionId, IDS_UPLOAD_FAILED_CAPTION);
  EXPECT_TRUE(unreadable->handIcon);
}

}  // namespace
}  // namespace vdtransfer
