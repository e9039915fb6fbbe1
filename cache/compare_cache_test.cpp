#include "compare_cache.h"

#include <gtest/gtest.h>

#include <functional>

#include "test_support.h"

namespace vdcache {
namespace {

using test::MakeCatalog;
using test::MakeContent;

struct Tree {
  std::vector<CatalogInfo> catalogs;
  std::vector<ContentInfo> contents;
};

Tree Base() {
  return {{MakeCatalog("C1", "docs", "20240101000000"), MakeCatalog("C2", "work", "20240101000000")},
          {MakeContent("F1", "a.txt", "20240101000000"), MakeContent("F2", "b.txt", "20240101000000"),
           MakeContent("F3", "c.txt", "20240101000000")}};
}

TEST(CompareCache, DetectsAddRenameDeleteMoveAndShareChanges) {
  struct Case {
    const char* what;
    std::function<void(Tree&)> edit;
    bool changed;
  } cases[] = {
      {"unchanged", [](Tree&) {}, false},
      {"reordered", [](Tree& t) { std::swap(t.contents[0], t.contents[2]); }, false},
      {"content added", [](Tree& t) { t.contents.push_back(MakeContent("F4", "d.txt")); }, true},
      {"catalog added", [](Tree& t) { t.catalogs.push_back(MakeCatalog("C3", "new")); }, true},
      {"content deleted", [](Tree& t) { t.contents.pop_back(); }, true},
      {"catalog deleted", [](Tree& t) { t.catalogs.erase(t.catalogs.begin()); }, true},
      // A move out and a move in keep the counts: only the IDs differ.
      {"content moved out, another moved in", [](Tree& t) { t.contents[1] = MakeContent("F9", "b.txt"); }, true},
      {"catalog moved out, another moved in", [](Tree& t) { t.catalogs[1] = MakeCatalog("C9", "work"); }, true},
      {"content renamed with new time",
       [](Tree& t) { t.contents[2] = MakeContent("F3", "renamed.txt", "20240202000000"); }, true},
      {"catalog renamed with new time", [](Tree& t) { t.catalogs[0].updatetime = "20240202000000"; }, true},
      {"rename without a new time is not seen", [](Tree& t) { t.contents[0].contentName = "x.txt"; }, false},
      {"size change alone is not seen", [](Tree& t) { t.contents[0].contentSize = "99"; }, false},
      {"catalog share type", [](Tree& t) { t.catalogs[1].shareType = "1"; }, true},
      {"content share type", [](Tree& t) { t.contents[1].shareType = "2"; }, true},
      {"catalog turned into content keeps counts apart",
       [](Tree& t) {
         t.catalogs.pop_back();
         t.contents.push_back(MakeContent("C2", "work"));
       },
       true},
  };
  const Tree stored = Base();
  for (const Case& c : cases) {
    Tree listed = Base();
    c.edit(listed);
    EXPECT_EQ(CompareCache(stored.catalogs, stored.contents, listed.catalogs, listed.contents), c.changed)
        << c.what;
  }
  EXPECT_FALSE(CompareCache({}, {}, {}, {}));
}

TEST(CompareCache, DuplicateIdsInTheListingMatchTheFirstOne) {
  // Same count, stored {F1 old, F2}, listed {F1 old, F1 new}: F2 is missing.
  std::vector<ContentInfo> stored = {MakeContent("F1", "a", "1"), MakeContent("F2", "b", "1")};
  std::vector<ContentInfo> listed = {MakeContent("F1", "a", "1"), MakeContent("F1", "a", "2")};
  EXPECT_TRUE(CompareCache({}, stored, {}, listed));
  std::vector<ContentInfo> same = {MakeContent("F1", "a", "1"), MakeContent("F1", "a", "1")};
  EXPECT_FALSE(CompareCache({}, same, {}, same));
}

TEST(CompareShareCache, NodesAreMatchedByBothParts) {
  auto node = [](const std::string& cat, const std::string& con, const std::string& time) {
    ShareEntry e;
    e.catalog.catalogID = cat;
    e.catalog.updatetime = time;
    e.content.contentID = con;
    e.content.contentName = con.empty() ? "" : "n";
    e.content.updateTime = time;
    return e;
  };
  const std::vector<ShareEntry> stored = {node("C1", "", "1"), node("", "F1", "1")};
  struct Case {
    const char* what;
    std::vector<ShareEntry> listed;
    bool changed;
  } cases[] = {
      {"same", {node("", "F1", "1"), node("C1", "", "1")}, false},
      {"time", {node("C1", "", "2"), node("", "F1", "1")}, true},
      {"other id", {node("C1", "", "1"), node("", "F2", "1")}, true},
      {"one more", {node("C1", "", "1"), node("", "F1", "1"), node("", "F2", "1")}, true},
  };
  for (const Case& c : cases) EXPECT_EQ(CompareShareCache(stored, c.listed), c.changed) << c.what;
}

}  // namespace
}  // namespace vdcache
