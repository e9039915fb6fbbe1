// The pictures' cache under Wine: keys, one set per extension, thumbnails
// from files, and their expiry and slot reuse.
#include "shell_image_lists.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "temp_dir.h"

namespace {

using namespace vdview;
namespace fs = std::filesystem;

// A 24-bit bottom-up BMP of one colour, which GDI+ reads.
void WriteBmp(const fs::path& path, int width, int height, std::uint8_t shade) {
    const int stride = (width * 3 + 3) & ~3;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + stride * height;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    const std::string row(stride, static_cast<char>(shade));
    for (int y = 0; y < height; ++y) out.write(row.data(), row.size());
}

class ImageCache : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ShellViewHelper::Instance().InitShellViewHelper();
    }
    vd::UniquePidl File(std::u16string_view name, std::u16string_view id = u"c1") {
        return mgr.Own(mgr.Create(vd::kKindContent, name, id, 0, 1, 1, std::nullopt, 0));
    }
    vd::VDPidlMgr mgr;
    ShellViewHelper& helper = ShellViewHelper::Instance();
};

TEST_F(ImageCache, KeysAreTheExtensionAsWrittenOrTheKindOfFolder) {
    struct Case {
        std::u16string name;
        std::wstring key;
    };
    const Case files[] = {{u"a.JPG", L".JPG"},   {u"b.jpg", L".jpg"},     {u"noext", L".null"}, {u".null", L".null"},
                          {u"x.", L".null"},     {u"a.b.txt", L".txt"},   {u"报告.docx", L".docx"}};
    for (const Case& c : files) EXPECT_EQ(ImageKeyOf(File(c.name).get()), c.key) << std::string(c.name.begin(), c.name.end());
    vd::UniquePidl catalog = mgr.Own(mgr.Create(vd::kKindCatalog, u"x.jpg", u"k", 0, 0, 0, std::nullopt, 0));
    EXPECT_EQ(ImageKeyOf(catalog.get()), kOrdinaryFolderKey) << "a folder named like a file";
    const std::pair<int, std::wstring> nodes[] = {{1, L".#$%INTERNAL_CALENDER#$%"}, {4, L".#$%INTERNAL_MYFILE#$%"},
                                                  {6, L".#$%INTERNAL_CELLPHONEBACKUP#$%"},
                                                  {8, L".#$%INTERNAL_SYNCDIR#$%"}, {10, L".#$%INTERNAL_SHAREFILE#$%"},
                                                  {11, kOrdinaryFolderKey}, {0, kOrdinaryFolderKey}};
    for (const auto& [index, key] : nodes) {
        vd::UniquePidl node = mgr.Own(mgr.CreateNode(index, u"n"));
        EXPECT_EQ(ImageKeyOf(node.get()), key) << index;
    }
    EXPECT_EQ(InternalIconOf(L".#$%INTERNAL_SHAREFILE#$%"), 236);
    EXPECT_EQ(InternalIconOf(L".jpg"), 0);
    const std::uint8_t empty[2] = {0, 0};
    EXPECT_EQ(ImageKeyOf(empty), L".null");
}

TEST_F(ImageCache, OnePictureSetPerExtensionNotPerFile) {
    const std::size_t before = helper.EntryCount();
    const int a = helper.GetImage(File(u"one.zz1").get());
    ASSERT_GE(a, 0);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(helper.GetImage(File(u"file" + std::u16string(1, u'a' + i % 26) + u".zz1").get()), a);
    EXPECT_EQ(helper.EntryCount(), before + 1) << "fifty files of one extension, one entry";
    const int b = helper.GetImage(File(u"other.ZZ1").get());
    EXPECT_NE(b, a) << "the extension as written is the key";
    EXPECT_EQ(helper.GetImage(File(u"noext").get()), helper.GetImage(File(u".null").get()));
    EXPECT_EQ(ImageList_GetImageCount(helper.SmallList()), ImageList_GetImageCount(helper.ThumbList()))
        << "both lists keep one index for a key";
}

TEST_F(ImageCache, ThumbnailsThatWereNotPaintedGoAndTheirSlotsAreReused) {
    vd::testing::TempDir dir;
    const fs::path one = dir.path() / "one.bmp", two = dir.path() / "two.bmp", text = dir.path() / "note.bmp";
    WriteBmp(one, 64, 48, 0x40);
    WriteBmp(two, 30, 90, 0xC0);
    std::ofstream(text) << "not a picture";

    const int first = helper.InsertThumbnail(L"id-one", one.wstring(), L".bmp");
    ASSERT_GE(first, 0);
    EXPECT_EQ(helper.FindThumbnail(L"id-one"), first);
    EXPECT_TRUE(helper.IsThumbnailSlot(first));
    EXPECT_EQ(helper.InsertThumbnail(L"id-one", one.wstring(), L".bmp"), first) << "the same content keeps its slot";
    EXPECT_EQ(helper.InsertThumbnail(L"id-text", text.wstring(), L".bmp"), -1) << "a file that is no picture";
    EXPECT_EQ(helper.FindThumbnail(L"id-text"), -1);

    EXPECT_EQ(helper.ClearTimesOutThumbnailImg(60000), 0) << "used just now";
    // Painted again just before the clock is read: it stays.
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    helper.Touch(L"id-one");
    EXPECT_EQ(helper.ClearTimesOutThumbnailImg(50), 0);
    EXPECT_EQ(helper.ClearTimesOutThumbnailImg(0), 1);
    EXPECT_EQ(helper.FindThumbnail(L"id-one"), -1) << "gone, built again from its file when painted";
    EXPECT_TRUE(helper.IsThumbnailSlot(first)) << "a gone thumbnail's slot is still told apart from type pictures";

    const int count = ImageList_GetImageCount(helper.ThumbList());
    const int second = helper.InsertThumbnail(L"id-two", two.wstring(), L".bmp");
    EXPECT_EQ(second, first) << "the free slot is taken before the lists grow";
    EXPECT_EQ(ImageList_GetImageCount(helper.ThumbList()), count);
    const int third = helper.InsertThumbnail(L"id-one", one.wstring(), L".bmp");
    EXPECT_GE(third, 0);
    EXPECT_NE(third, second);
    EXPECT_EQ(ImageList_GetImageCount(helper.SmallList()), ImageList_GetImageCount(helper.ThumbList()));
    const int typePicture = helper.GetImage(File(u"pic.bmp").get());
    EXPECT_FALSE(helper.IsThumbnailSlot(typePicture));
}

}  // namespace
