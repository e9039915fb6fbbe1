// The clipboard layouts byte for byte, and their readers against blocks
// another process may have cut short or filled with garbage.
#include "drop_blocks.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vdtransfer {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// A list of raw elements of the given sizes (the builder measures, it does not judge).
std::vector<std::uint8_t> RawList(std::initializer_list<std::uint16_t> sizes) {
  std::vector<std::uint8_t> list;
  for (std::uint16_t cb : sizes) {
    const std::size_t at = list.size();
    list.resize(at + cb, 0xAB);
    std::memcpy(list.data() + at, &cb, 2);
  }
  list.insert(list.end(), 2, 0);
  return list;
}

TEST(NseDragDrop, BlocksMeasureEachListAsItsItemsPlusThree) {
  const auto a = RawList({14}), b = RawList({12, 8}), none = RawList({});
  const vd::PcPidl two[] = {a.data(), b.data()};
  const auto block = BuildNseDragDrop(two);
  ASSERT_EQ(block.size(), 44u) << "4 + 17 + 23";
  EXPECT_EQ(U32(block, 0), 44u);
  EXPECT_EQ(std::memcmp(block.data() + 4, a.data(), 14), 0);
  EXPECT_EQ(block[18] | block[19] | block[20], 0) << "terminator and padding";
  EXPECT_EQ(std::memcmp(block.data() + 21, b.data(), 20), 0);
  const vd::PcPidl empty[] = {none.data()};
  EXPECT_EQ(BuildNseDragDrop(empty).size(), 7u) << "an empty list counts 3";
  EXPECT_EQ(BuildNseDragDrop({}).size(), 4u);
}

TEST(NseDragDrop, TheReaderFindsEveryListAndRefusesBrokenBlocks) {
  vd::VDPidlMgr mgr;
  vd::UniquePidl docs = mgr.Own(mgr.Create(vd::kKindCatalog, u"我的文档", u"00019700101000000051", 0, 0, 0, {}, 0));
  vd::UniquePidl file = mgr.Own(mgr.Create(vd::kKindContent, u"说明.txt", u"C0001", 0, 21, 0, {}, 0));
  vd::UniquePidl both = mgr.Own(mgr.Concatenate(docs.get(), file.get()));
  const vd::PcPidl lists[] = {file.get(), both.get(), docs.get()};
  const auto block = BuildNseDragDrop(lists);
  const auto offsets = ReadNseDragDrop(block.data(), block.size());
  ASSERT_TRUE(offsets.has_value());
  ASSERT_EQ(offsets->size(), 3u);
  EXPECT_EQ((*offsets)[0], 4u);
  EXPECT_TRUE(vd::VDPidlMgr::IsSameId(block.data() + (*offsets)[0], file.get()));
  EXPECT_EQ(vd::VDPidlMgr::GetName(vd::VDPidlMgr::GetLastItem(block.data() + (*offsets)[1])), u"说明.txt");
  EXPECT_EQ((*offsets)[2], 4 + ListBlockBytes(file.get()) + ListBlockBytes(both.get()));

  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
    std::size_t held;  // bytes the reader is told it has; 0: all
  } cases[] = {
      {"total larger than the block", [](auto& b) { b[0] += 1; }, 0},
      {"total below its own field", [](auto& b) { std::memset(b.data(), 0, 4); b[0] = 3; }, 0},
      {"cut inside the last list", [](auto& b) { std::uint32_t t = static_cast<std::uint32_t>(b.size() - 10); std::memcpy(b.data(), &t, 4); }, 0},
      {"an element runs past the total", [&](auto& b) { b[4] = 0xFF; b[5] = 0x7F; }, 0},
      {"an empty list in the middle", [&](auto& b) { b[4] = 0; b[5] = 0; }, 0},
      {"a kind that does not exist", [&](auto& b) { b[4 + 2] = 9; }, 0},
      {"fewer bytes held than the total", [](auto&) {}, 100},
      {"three bytes", [](auto&) {}, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> broken = block;
    c.damage(broken);
    EXPECT_FALSE(ReadNseDragDrop(broken.data(), c.held ? c.held : broken.size()).has_value());
  }
  EXPECT_FALSE(ReadNseDragDrop(nullptr, 100).has_value());
}

TEST(DropFiles, WidePathsRoundTripAndBrokenBlocksAreRefused) {
  const std::vector<std::u16string> paths = {u"C:\\users\\me\\Temp\\$VD$SLDL$\\$$PandrelDownload", u"D:\\下载\\a b.txt"};
  const auto block = BuildDropFiles(paths);
  std::size_t expected = 20 + 2;
  for (const auto& p : paths) expected += (p.size() + 1) * 2;
  ASSERT_EQ(block.size(), expected);
  EXPECT_EQ(U32(block, 0), 20u) << "pFiles";
  EXPECT_EQ(U32(block, 4) | U32(block, 8) | U32(block, 12), 0u) << "point and fNC";
  EXPECT_EQ(U32(block, 16), 1u) << "fWide";
  EXPECT_EQ(ReadDropFiles(block.data(), block.size()), paths);

  std::vector<std::uint8_t> narrow(20, 0);
  narrow[0] = 20;
  for (const char* p : {"C:\\a.txt", "C:\\b"}) narrow.insert(narrow.end(), p, p + std::strlen(p) + 1);
  narrow.push_back(0);
  EXPECT_EQ(ReadDropFiles(narrow.data(), narrow.size()), (std::vector<std::u16string>{u"C:\\a.txt", u"C:\\b"}));

  struct Case {
    const char* what;
    std::size_t held;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  } cases[] = {
      {"no closing zero", block.size() - 2, [](auto&) {}},
      {"cut inside a path", 30, [](auto&) {}},
      {"header only", 20, [](auto&) {}},
      {"pFiles inside the header", block.size(), [](auto& b) { b[0] = 8; }},
      {"pFiles past the end", block.size(), [](auto& b) { b[0] = 0xFF; b[1] = 0xFF; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> broken = block;
    c.damage(broken);
    EXPECT_FALSE(ReadDropFiles(broken.data(), c.held).has_value());
  }
  EXPECT_FALSE(ReadDropFiles(block.data(), block.size(), 10).has_value()) << "a path above the limit";
}

TEST(IdListArray, OneItemAfterItsParent) {
  const auto parent = RawList({20, 30}), item = RawList({14});
  const auto cida = BuildIdListArray(parent.data(), item.data());
  ASSERT_EQ(cida.size(), 12u + 53 + 17);
  EXPECT_EQ(U32(cida, 0), 1u);
  EXPECT_EQ(U32(cida, 4), 12u);
  EXPECT_EQ(U32(cida, 8), 12u + 53);
  EXPECT_EQ(std::memcmp(cida.data() + 12, parent.data(), 50), 0);
  EXPECT_EQ(std::memcmp(cida.data() + 65, item.data(), 14), 0);
}

}  // namespace
}  // namespace vdtransfer
