// A downloaded file's path must fit the ANSI file calls whole, suffixes and
// all; a name is shortened to fit, or refused when its folder is too deep.
#include <gtest/gtest.h>

#include <string>

#include "download_task.h"
#include "platform/text.h"

namespace vdtransfer {
namespace {

TEST(DownloadNames, TheWholePathFitsTheAnsiLimitOrTheNameIsRefused) {
  const auto folderOf = [](std::size_t units) { return "C:\\" + std::string(units - 3, 'd'); };
  struct Case {
    const char* what;
    std::size_t folderUnits;
    std::string name;
    std::size_t room;
    std::size_t wantNameUnits;  // 0: refused
  } cases[] = {
      {"a short name in a short folder is kept", 20, platform::WideToAnsi(u"报告.txt"), kDownloadNameRoom, 6},
      {"a long name keeps the room for its suffixes", 10, std::string(300, 'x'), kDownloadNameRoom, 239},
      {"a catalog needs no room", 10, std::string(300, 'x'), 0, 248},
      {"a deep folder shortens the name further", 200, std::string(100, 'x'), kDownloadNameRoom, 49},
      {"a short name still fits a deep folder", 230, "short.txt", kDownloadNameRoom, 9},
      {"too deep for a recognisable name", 230, std::string(100, 'x'), kDownloadNameRoom, 0},
      {"a folder that leaves nothing", 258, "a", 0, 0},
      {"a parent is never a name", 10, "..", kDownloadNameRoom, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = folderOf(c.folderUnits);
    const std::optional<std::string> path = JoinWithinPathLimit(folder, c.name, '\\', c.room);
    if (c.wantNameUnits == 0) {
      EXPECT_FALSE(path.has_value()) << *path;
      continue;
    }
    ASSERT_TRUE(path.has_value());
    ASSERT_EQ(path->rfind(folder + "\\", 0), 0u) << "directly below its folder";
    const std::u16string name = platform::AnsiToWide(path->substr(folder.size() + 1));
    EXPECT_EQ(name.size(), c.wantNameUnits);
    EXPECT_LE(platform::AnsiToWide(*path).size() + c.room, kMaxAnsiPathUnits);
  }
}

}  // namespace
}  // namespace vdtransfer
