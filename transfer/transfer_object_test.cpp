// The transfer object on its own: what opening tells, the status word and
// its event, the byte counts, on both platforms.
#include "transfer_object.h"

#include <gtest/gtest.h>

#include <future>
#include <string>

#include "platform/text.h"
#include "temp_dir.h"

namespace vdtransfer {
namespace {

using vd::testing::TempDir;

// Drops the test's reference at scope end.
struct Held {
  TransferObject* object;
  ~Held() { object->Release(); }
  TransferObject* operator->() const { return object; }
};

std::string AnsiPath(const TempDir& dir, std::u16string_view name) {
  return platform::WideToAnsi(platform::JoinPath(dir.path().u16string(), name));
}

TEST(TransferObject, OpeningSetsTheStatusButNeverTheEvent) {
  TempDir dir;
  const std::string source = AnsiPath(dir, u"上传 源.bin");
  ASSERT_EQ(platform::SystemFileSystem().WriteFileAtomic(platform::AnsiToWide(source), std::string(70000, 'u')),
            platform::kOk);
  struct Case {
    const char* what;
    std::string path;
    bool readMode;
    bool opens;
    std::uint64_t size;
  } cases[] = {
      {"an upload's source", source, true, true, 70000},
      {"a missing source", AnsiPath(dir, u"没有.bin"), true, false, 0},
      {"a download's new target", AnsiPath(dir, u"下载.bin"), false, true, 0},
      {"a target in a missing folder",
       platform::WideToAnsi(platform::JoinPath(platform::JoinPath(dir.path().u16string(), u"没有"), u"下载.bin")), false,
       false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Held t{TransferObject::Create(c.path, 0, c.readMode, kNormalAttributes)};
    EXPECT_EQ(t->IsFileOpen(), c.opens);
    EXPECT_EQ(t->GetStatus(), c.opens ? 0u : static_cast<std::uint32_t>(kTransferStatusFailed));
    EXPECT_EQ(t->IsEnded(), !c.opens);
    EXPECT_EQ(t->OpenError() == platform::kOk, c.opens);
    EXPECT_EQ(t->GetFileSize(), c.size);
    EXPECT_EQ(t->IsReadMode(), c.readMode);
    EXPECT_EQ(t->GetLocalPath(), c.path);
    std::uint32_t status = 0;
    EXPECT_FALSE(t->WaitSignalled(0, &status)) << "opening is no status write";
    // A status write signals, whatever came before.
    t->SetStatus(kTransferStatusCancel);
    EXPECT_TRUE(t->WaitSignalled(0, &status));
    EXPECT_EQ(status, static_cast<std::uint32_t>(kTransferStatusCancel));
    EXPECT_FALSE(t->IsEnded()) << "a cancel is not an end";
  }
}

TEST(TransferObject, ACancelWakesTheWaiterAtOnce) {
  TempDir dir;
  Held t{TransferObject::Create(AnsiPath(dir, u"target.bin"), 0, false, kNormalAttributes)};
  ASSERT_TRUE(t->IsFileOpen());
  std::promise<void> waiting;
  auto waiter = std::async(std::launch::async, [&] {
    waiting.set_value();
    std::uint32_t status = 0;
    const bool signalled = t->WaitSignalled(30000, &status);
    return std::make_pair(signalled, status);
  });
  waiting.get_future().wait();
  t->Cancel();
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  const auto [signalled, status] = waiter.get();
  EXPECT_TRUE(signalled);
  EXPECT_EQ(status, static_cast<std::uint32_t>(kTransferStatusCancel));
}

TEST(TransferObject, TheFileAndItsCountsGoWhereTheModeSays) {
  TempDir dir;
  const std::string target = AnsiPath(dir, u"下载.part");
  {
    Held t{TransferObject::Create(target, 0, false, kNormalAttributes)};
    ASSERT_TRUE(t->IsFileOpen());
    ASSERT_TRUE(t->WriteFile(4, "tail", 4));
    ASSERT_TRUE(t->WriteFile(0, "head", 4));
    t->SetFileSize(8);
    t->SetTransferred(8);
    EXPECT_EQ(t->GetFileSize(), 8u);
    EXPECT_EQ(t->GetTransferred(), 8u);
#ifdef _WIN32
    // A download's target is its own: nobody else opens it meanwhile.
    Held other{TransferObject::Create(target, 0, true, kNormalAttributes)};
    EXPECT_FALSE(other->IsFileOpen());
#endif
  }
  Held source{TransferObject::Create(target, 0, true, kNormalAttributes)};
  ASSERT_TRUE(source->IsFileOpen());
  EXPECT_EQ(source->GetFileSize(), 8u);
  char bytes[8] = {};
  EXPECT_EQ(source->ReadFile(0, bytes, sizeof bytes), 8);
  EXPECT_EQ(std::string(bytes, 8), "headtail");
  EXPECT_EQ(source->ReadFile(8, bytes, sizeof bytes), 0);
  EXPECT_FALSE(source->WriteFile(0, "x", 1)) << "an upload's source is never written";
  EXPECT_FALSE(source->TruncateFile(0));
  // An upload's source may be read by another at the same time.
  Held second{TransferObject::Create(target, 0, true, kNormalAttributes)};
  EXPECT_TRUE(second->IsFileOpen());
}

}  // namespace
}  // namespace vdtransfer
