// The transfer object as the SDK uses it, against the real service program:
// an upload and a download byte for byte, and a cancel in the middle.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "cloud_sdk_impl.h"
#include "md5.h"
#include "tests/sdk_test_support.h"
#include "transfer_object.h"

namespace vdtransfer {
namespace {

using corbel::test::TempDir;

constexpr std::uint32_t kChunk = 1u << 20;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

struct Held {
  TransferObject* object;
  ~Held() { object->Release(); }
  TransferObject* operator->() const { return object; }
};

// The status once an end or cancel bit is in, or whatever it is after the deadline.
std::uint32_t WaitEnd(TransferObject* t, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::uint32_t status = t->GetStatus();
  while ((status & kTransferStopMask) == 0 && std::chrono::steady_clock::now() < until) t->WaitSignalled(200, &status);
  return status;
}

class TransferObjectLive : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<corbel::test::ServerProcess>(dir_.path() / "data");
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(corbel::test::SignIn(server_->port(), "alice", "alice-pass", &alice_));
    corbel::test::WriteSdkConfig(dir_.path(), server_->port(), 2, 3000, kChunk);
    ASSERT_TRUE(sdk_.init("", 0, dir_.path().string(), 1));
    ASSERT_EQ(sdk_.SetTokenInfo("alice", alice_.token, alice_.opToken), kSdkOk);
  }

  // Uploads a local file through a transfer object; the content ID.
  std::string Upload(const std::string& path, const std::string& name, std::uint64_t size) {
    std::string md5;
    UploadFileResult task;
    EXPECT_EQ(corbel::test::RequestUpload(sdk_, "alice", alice_.root, path, name, size, &task, &md5), kSdkOk);
    if (task.entries.size() != 1) return "";
    Held t{TransferObject::Create(path, 0, true, kNormalAttributes)};
    EXPECT_EQ(t->GetFileSize(), size);
    t->SetUrl(task.uploadURL);
    EXPECT_EQ(sdk_.uploadFile(t.object), kSdkOk);
    EXPECT_EQ(WaitEnd(t.object, 60), static_cast<std::uint32_t>(kTransferStatusDone));
    EXPECT_EQ(t->GetTransferred(), size);
    return task.entries[0].contentID;
  }

  TempDir dir_;
  std::unique_ptr<corbel::test::ServerProcess> server_;
  corbel::test::Account alice_;
  corbel::CloudSdk sdk_;
};

TEST_F(TransferObjectLive, AFileGoesUpAndComesBackByteForByte) {
  std::string bytes(3 * kChunk + 12345, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  const std::string source = dir_.File("上传 源.bin");
  WriteFile(source, bytes);
  const std::string id = Upload(source, "往返.bin", bytes.size());
  ASSERT_FALSE(id.empty());

  const std::string target = dir_.File("下载.bin");
  Held t{TransferObject::Create(target, 0, false, kNormalAttributes)};
  ASSERT_TRUE(t->IsFileOpen());
  DownloadFileRequest request;
  request.account = "alice";
  request.contentID = id;
  ASSERT_EQ(sdk_.pcDownloadFileRequest(request, t.object), kSdkOk);
  EXPECT_EQ(WaitEnd(t.object, 60), static_cast<std::uint32_t>(kTransferStatusDone));
  EXPECT_EQ(t->GetFileSize(), bytes.size());
  EXPECT_EQ(t->GetTransferred(), bytes.size());
  EXPECT_EQ(corbel::Md5::HexOf(corbel::test::ReadWholeFile(target)), corbel::Md5::HexOf(bytes));
}

TEST_F(TransferObjectLive, ACancelStopsTheSdkWithoutAnEndStatus) {
  std::string bytes(24 * kChunk, 'c');
  const std::string source = dir_.File("big.bin");
  WriteFile(source, bytes);
  const std::string id = Upload(source, "big.bin", bytes.size());
  ASSERT_FALSE(id.empty());

  Held t{TransferObject::Create(dir_.File("cancelled.bin"), 0, false, kNormalAttributes)};
  DownloadFileRequest request;
  request.account = "alice";
  request.contentID = id;
  ASSERT_EQ(sdk_.pcDownloadFileRequest(request, t.object), kSdkOk);
  t->Cancel();
  EXPECT_EQ(WaitEnd(t.object, 30), static_cast<std::uint32_t>(kTransferStatusCancel));
  // The SDK's last touch drops its reference; it wrote no end over the cancel.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (t->References() > 1 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(t->References(), 1) << "the SDK kept the object";
  EXPECT_EQ(t->GetStatus(), static_cast<std::uint32_t>(kTransferStatusCancel));
  EXPECT_LT(t->GetTransferred(), bytes.size());
}

}  // namespace
}  // namespace vdtransfer
