#include "local_name.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/text.h"

namespace vd::localname {
namespace {

bool Everything(std::u16string_view) { return true; }
bool NoAccents(std::u16string_view piece) { return piece.find(u'é') == std::u16string_view::npos; }

std::u16string Repeat(std::u16string_view unit, std::size_t n) {
  std::u16string out;
  for (std::size_t i = 0; i < n; ++i) out += unit;
  return out;
}

TEST(LocalName, EachHostileNameBecomesASafeComponentOrIsRefused) {
  struct Case {
    const char* what;
    std::u16string in;
    Verdict verdict;
    std::u16string out;
  };
  const Case cases[] = {
      {"plain Chinese name", u"报告.docx", Verdict::Kept, u"报告.docx"},
      {"leading space", u" a.txt", Verdict::Kept, u" a.txt"},
      {"empty", u"", Verdict::Refused, u""},
      {"the folder itself", u".", Verdict::Refused, u""},
      {"the parent", u"..", Verdict::Refused, u""},
      {"only dots", u"...", Verdict::Refused, u""},
      {"spaces and dots", u"  . .", Verdict::Refused, u""},
      {"slash", u"a/b", Verdict::Changed, u"a_b"},
      {"backslash climb", u"..\\..\\evil", Verdict::Changed, u".._.._evil"},
      {"reserved characters", u"x:y*z?\"<>|", Verdict::Changed, u"x_y_z_____"},
      {"control characters", u"a\tb\x01", Verdict::Changed, u"a_b_"},
      {"NUL inside", std::u16string(u"a\0b", 3), Verdict::Changed, u"a_b"},
      {"lone high surrogate", std::u16string(u"a") + char16_t(0xD800) + u"b", Verdict::Changed, u"a_b"},
      {"lone low surrogate", std::u16string(1, char16_t(0xDC00)), Verdict::Changed, u"_"},
      {"trailing dots and spaces", u"name. . ", Verdict::Changed, u"name"},
      {"device", u"CON", Verdict::Changed, u"_CON"},
      {"device, any case, extension", u"con.txt", Verdict::Changed, u"_con.txt"},
      {"device, two extensions", u"COM1.tar.gz", Verdict::Changed, u"_COM1.tar.gz"},
      {"device, space before the dot", u"NUL .txt", Verdict::Changed, u"_NUL .txt"},
      {"device, superscript digit", u"LPT\u00B2", Verdict::Changed, u"_LPT\u00B2"},
      {"LPT9", u"lpt9", Verdict::Changed, u"_lpt9"},
      {"COM0 is no device", u"COM0", Verdict::Kept, u"COM0"},
      {"CONSOLE is no device", u"CONSOLE.log", Verdict::Kept, u"CONSOLE.log"},
      {"too long, extension kept", Repeat(u"长", 300) + u".txt", Verdict::Changed, Repeat(u"长", 251) + u".txt"},
      {"too long, pairs kept whole", Repeat(u"\U0001F600", 200), Verdict::Changed, Repeat(u"\U0001F600", 127)},
      {"exactly the longest", Repeat(u"a", 255), Verdict::Kept, Repeat(u"a", 255)},
      {"too long, only spaces before the cut", Repeat(u" ", 300) + u"x", Verdict::Refused, u""},
      {"too long, spaces then an extension", Repeat(u" ", 300) + u".txt", Verdict::Changed, u".txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const LocalName local = MakeLocalName(c.in, Everything);
    EXPECT_EQ(local.verdict, c.verdict);
    EXPECT_EQ(local.name, c.out);
    EXPECT_EQ(local.reason == nullptr, c.verdict == Verdict::Kept);
    if (c.verdict != Verdict::Refused) {
      const LocalName again = MakeLocalName(local.name, Everything);
      EXPECT_EQ(again.verdict, Verdict::Kept) << "a guarded name passes unchanged";
    }
  }
}

TEST(LocalName, CharactersTheCodePageCannotHoldAreReplaced) {
  const LocalName local = MakeLocalName(u"café.txt", NoAccents);
  EXPECT_EQ(local.verdict, Verdict::Changed);
  EXPECT_EQ(local.name, u"caf_.txt");
  // Whatever the host's code page, Chinese and ASCII names survive it.
  EXPECT_EQ(MakeLocalName(u"我的文档 2024").verdict, Verdict::Kept);
}

TEST(LocalName, AJoinedPathStaysDirectlyBelowItsBase) {
  struct Case {
    std::u16string base;
    std::u16string name;
    std::optional<std::u16string> path;
  };
  const Case cases[] = {
      {u"C:\\thumbs", u"a.jpg", u"C:\\thumbs\\a.jpg"},
      {u"C:\\thumbs\\", u"a.jpg", u"C:\\thumbs\\a.jpg"},
      {u"C:\\thumbs", u"..", std::nullopt},
      {u"C:\\thumbs", u"..\\..\\Windows\\x.dll", u"C:\\thumbs\\.._.._Windows_x.dll"},
      {u"C:\\thumbs", u"C:\\x", u"C:\\thumbs\\C__x"},
      {u"", u"a.jpg", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JoinUnder(c.base, c.name, u'\\', Everything), c.path);
  }
  EXPECT_EQ(JoinUnderAnsi("/tmp/thumbs", "../../etc/passwd", '/'), std::optional<std::string>("/tmp/thumbs/.._.._etc_passwd"));
  EXPECT_EQ(JoinUnderAnsi("/tmp/thumbs", "..", '/'), std::nullopt);
  EXPECT_EQ(MakeLocalNameAnsi("aux.png"), std::optional<std::string>("_aux.png"));

  // A caller that appends to the name later asks for room; too little room is not granted.
  const std::string longName = std::string(300, 'x') + ".pdf";
  EXPECT_EQ(MakeLocalNameAnsi(longName)->size(), kMaxNameUnits);
  const std::optional<std::string> roomy = MakeLocalNameAnsi(longName, kMaxNameUnits - 9);
  ASSERT_TRUE(roomy);
  EXPECT_EQ(roomy->size(), kMaxNameUnits - 9);
  EXPECT_EQ(roomy->substr(roomy->size() - 4), ".pdf");
  EXPECT_EQ(MakeLocalNameAnsi(longName, 3)->size(), kMaxNameUnits);
  EXPECT_EQ(MakeLocalNameAnsi("short.txt", kMaxNameUnits - 9), std::optional<std::string>("short.txt"));
}

// A file's path must fit the ANSI file calls whole, suffixes and all.
TEST(JoinUnderAnsiWithinPath, TheWholePathFitsTheAnsiLimitOrTheNameIsRefused) {
  constexpr std::size_t kRoom = 9;  // " (99)" and ".tmp"
  const auto folderOf = [](std::size_t units) { return "C:\\" + std::string(units - 3, 'd'); };
  struct Case {
    const char* what;
    std::size_t folderUnits;
    std::string name;
    std::size_t room;
    std::size_t wantNameUnits;  // 0: refused
  } cases[] = {
      {"a short name in a short folder is kept", 20, platform::WideToAnsi(u"报告.txt"), kRoom, 6},
      {"a long name keeps the room for its suffixes", 10, std::string(300, 'x'), kRoom, 239},
      {"a catalog needs no room", 10, std::string(300, 'x'), 0, 248},
      {"a deep folder shortens the name further", 200, std::string(100, 'x'), kRoom, 49},
      {"a short name still fits a deep folder", 230, "short.txt", kRoom, 9},
      {"too deep for a recognisable name", 230, std::string(100, 'x'), kRoom, 0},
      {"a folder that leaves nothing", 258, "a", 0, 0},
      {"a parent is never a name", 10, "..", kRoom, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = folderOf(c.folderUnits);
    const std::optional<std::string> path = JoinUnderAnsiWithinPath(folder, c.name, '\\', c.room);
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
}  // namespace vd::localname
