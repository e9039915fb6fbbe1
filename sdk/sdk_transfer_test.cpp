// Uploads and downloads through transfer records against the real service
// program, including a service killed in the middle and restarted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "cloud_sdk_impl.h"
#include "md5.h"
#include "tests/sdk_test_support.h"

namespace corbel {
namespace {

using test::FileRecord;

constexpr std::uint32_t kChunk = 1u << 20;

// Drops the test's reference at scope end, like the product does.
struct RecordHolder {
  FileRecord* record;
  explicit RecordHolder(FileRecord* r) : record(r) {}
  ~RecordHolder() { record->Release(); }
  FileRecord* operator->() const { return record; }
};

// True once the SDK has dropped its reference (only the test's is left).
bool ReleasedBySdk(FileRecord* record, int timeoutMs = 10000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (record->refs() != 1) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

class SdkTransfer : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = std::make_unique<test::ServerProcess>(dir_.path() / "data");
    ASSERT_TRUE(server_->Start());
    ASSERT_TRUE(test::SignIn(server_->port(), "alice", "alice-pass", &alice_));
    test::WriteSdkConfig(dir_.path(), server_->port(), 2, 3000, kChunk);
    ASSERT_TRUE(sdk_.init("", 0, dir_.path().string(), 1));
    ASSERT_EQ(sdk_.SetTokenInfo("alice", alice_.token, alice_.opToken), kSdkOk);
  }

  // A killed service comes back on a port of its own choosing (another
  // process may have taken the old one meanwhile); the SDK follows it.
  bool RestartService() {
    if (!server_->Start()) return false;
    test::WriteSdkConfig(dir_.path(), server_->port(), 2, 3000, kChunk);
    return sdk_.init("", 0, dir_.path().string(), 1);
  }

  UploadFileResult Request(const std::string& path, const std::string& name, std::uint64_t size) {
    std::string md5;
    UploadFileResult result;
    EXPECT_EQ(test::RequestUpload(sdk_, "alice", alice_.root, path, name, size, &result, &md5), kSdkOk);
    EXPECT_EQ(md5, Md5::HexOf(test::ReadWholeFile(path)));
    EXPECT_EQ(result.entries.size(), 1u);
    return result;
  }

  std::string UploadHeader(const UploadFileResult& task, std::uint64_t from, std::uint64_t size) {
    UploadHeaderRequest h;
    h.account = "alice";
    h.contentName = task.entries.at(0).contentName;
    h.rangeStart = std::to_string(from);
    h.rangeEnd = std::to_string(size - 1);
    h.totalSize = std::to_string(size);
    h.uploadTaskID = task.uploadTaskID;
    h.contentLength = std::to_string(size - from);
    std::string header;
    EXPECT_EQ(sdk_.makeUploadFileHttpHeader(h, &header), kSdkOk);
    return header;
  }

  // Whole upload of a local file; the content ID.
  std::string Upload(const std::string& path, const std::string& name, std::uint64_t size) {
    UploadFileResult task = Request(path, name, size);
    if (task.entries.at(0).isNeedUpload == "0") return task.entries[0].contentID;
    RecordHolder record(FileRecord::Create(path, true));
    record->url = task.uploadURL;
    record->header = UploadHeader(task, 0, size);
    EXPECT_EQ(sdk_.uploadFile(record.record), kSdkOk);
    EXPECT_EQ(record->Wait(60000), kTransferStatusDone);
    EXPECT_TRUE(ReleasedBySdk(record.record));
    EXPECT_EQ(record->EndWrites(), 1);
    EXPECT_EQ(record->GetTransferred(), size);
    return task.entries[0].contentID;
  }

  std::uint32_t Download(const std::string& contentID, const std::string& path) {
    RecordHolder record(FileRecord::Create(path, false));
    DownloadFileRequest request;
    request.account = "alice";
    request.contentID = contentID;
    EXPECT_EQ(sdk_.pcDownloadFileRequest(request, record.record), kSdkOk);
    std::uint32_t status = record->Wait(60000);
    EXPECT_TRUE(ReleasedBySdk(record.record));
    return status;
  }

  test::TempDir dir_;
  std::unique_ptr<test::ServerProcess> server_;
  test::Account alice_;
  CloudSdk sdk_;
};

TEST_F(SdkTransfer, RoundTripsAtChunkEdges) {
  const std::uint64_t sizes[] = {1, kChunk - 1, kChunk, kChunk + 1, 3 * kChunk + 12345};
  int n = 0;
  for (std::uint64_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string src = dir_.File("src" + std::to_string(n)), dst = dir_.File("dst" + std::to_string(n));
    test::WriteRandomFile(src, size, 100 + n);
    const std::string id = Upload(src, "文件" + std::to_string(n) + ".bin", size);
    ASSERT_EQ(Download(id, dst), kTransferStatusDone);
    EXPECT_TRUE(test::ReadWholeFile(src) == test::ReadWholeFile(dst));
    ++n;
  }
  // The listing carries the size and MD5 the service computed.
  ListRequest list;
  list.account = "alice";
  list.catalogID = alice_.root;
  ListResult root;
  ASSERT_EQ(sdk_.SyncLs(list, &root), kSdkOk);
  bool found = false;
  for (const auto& c : root.contents)
    if (c.contentName == "文件4.bin") {
      found = true;
      EXPECT_EQ(c.contentSize, std::to_string(sizes[4]));
      EXPECT_EQ(c.digest, Md5::HexOf(test::ReadWholeFile(dir_.File("src4"))));
    }
  EXPECT_TRUE(found);
}

TEST_F(SdkTransfer, InstantUploadSkipsTheBytes) {
  const std::string src = dir_.File("same");
  test::WriteRandomFile(src, 2 * kChunk, 7);
  const std::string first = Upload(src, "one.bin", 2 * kChunk);
  UploadFileResult again = Request(src, "two.bin", 2 * kChunk);
  ASSERT_EQ(again.entries.at(0).isNeedUpload, "0");
  EXPECT_NE(again.entries[0].contentID, first);
  // Already complete: the copy downloads without any byte being sent.
  ASSERT_EQ(Download(again.entries[0].contentID, dir_.File("copy")), kTransferStatusDone);
  EXPECT_TRUE(test::ReadWholeFile(src) == test::ReadWholeFile(dir_.File("copy")));
}

TEST_F(SdkTransfer, UploadResumesAfterServiceRestart) {
  const std::uint64_t size = 8 * kChunk + 777;
  const std::string src = dir_.File("big");
  test::WriteRandomFile(src, size, 11);
  UploadFileResult task = Request(src, "resume.bin", size);
  ASSERT_EQ(task.entries.at(0).isNeedUpload, "1");

  // Kill the service while the fourth chunk is being read.
  std::promise<void> reached, killed;
  std::shared_future<void> killedFuture = killed.get_future().share();
  std::atomic<bool> fired{false};
  {
    RecordHolder record(FileRecord::Create(src, true));
    record->url = task.uploadURL;
    record->header = UploadHeader(task, 0, size);
    record->onIo = [&](std::uint64_t offset) {
      if (offset >= 3 * kChunk && !fired.exchange(true)) {
        reached.set_value();
        killedFuture.wait_for(std::chrono::seconds(60));
      }
    };
    ASSERT_EQ(sdk_.uploadFile(record.record), kSdkOk);
    ASSERT_EQ(reached.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    server_->Kill();
    killed.set_value();
    EXPECT_EQ(record->Wait(30000), kTransferStatusFailed);
    EXPECT_TRUE(ReleasedBySdk(record.record));
  }
  ASSERT_TRUE(RestartService());

  UploadTaskInfoRequest info;
  info.account = "alice";
  info.uploadTaskID = task.uploadTaskID;
  info.contentID = task.entries[0].contentID;
  UploadTaskInfoResult stored;
  ASSERT_EQ(sdk_.getUploadTaskInfoN(info, &stored), kSdkOk);
  ASSERT_EQ(stored.taskInfos.size(), 1u);
  const std::uint64_t have = std::stoull(stored.taskInfos[0].blocks.at(0).uploadedSize);
  EXPECT_EQ(have, 3 * kChunk);  // the confirmed chunks survived the kill

  RecordHolder record(FileRecord::Create(src, true));
  // The task's address on the service as it runs now: the same path, its new port.
  const std::string path = task.uploadURL.substr(task.uploadURL.find('/', task.uploadURL.find("//") + 2));
  record->url = path;
  record->header = UploadHeader(task, have, size);
  std::atomic<std::uint64_t> lowest{~0ull};
  record->onIo = [&](std::uint64_t offset) {
    for (auto v = lowest.load(); offset < v && !lowest.compare_exchange_weak(v, offset);) {
    }
  };
  ASSERT_EQ(sdk_.uploadFile(record.record), kSdkOk);
  ASSERT_EQ(record->Wait(60000), kTransferStatusDone);
  EXPECT_EQ(lowest.load(), have);  // nothing before the stored bytes was sent again
  ASSERT_EQ(Download(task.entries[0].contentID, dir_.File("back")), kTransferStatusDone);
  EXPECT_TRUE(test::ReadWholeFile(src) == test::ReadWholeFile(dir_.File("back")));
}

TEST_F(SdkTransfer, DownloadResumesAfterServiceRestart) {
  // Far more than loopback socket buffers hold, so that the kill really
  // cuts the stream instead of leaving the rest buffered for the client.
  const std::uint64_t size = 64 * kChunk + 5;
  const std::string src = dir_.File("big"), dst = dir_.File("partial");
  test::WriteRandomFile(src, size, 12);
  const std::string id = Upload(src, "down.bin", size);

  std::promise<void> reached, killed;
  std::shared_future<void> killedFuture = killed.get_future().share();
  std::atomic<bool> fired{false};
  std::uint64_t partial = 0;
  {
    RecordHolder record(FileRecord::Create(dst, false));
    record->onIo = [&](std::uint64_t offset) {
      if (offset >= 5 * kChunk && !fired.exchange(true)) {
        reached.set_value();
        killedFuture.wait_for(std::chrono::seconds(60));
      }
    };
    DownloadFileRequest request;
    request.account = "alice";
    request.contentID = id;
    ASSERT_EQ(sdk_.pcDownloadFileRequest(request, record.record), kSdkOk);
    ASSERT_EQ(reached.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);
    server_->Kill();
    killed.set_value();
    EXPECT_EQ(record->Wait(30000), kTransferStatusFailed);
    EXPECT_TRUE(ReleasedBySdk(record.record));
    EXPECT_EQ(record->GetFileSize(), size);
    partial = record->GetTransferred();
  }
  ASSERT_GE(partial, 5 * kChunk);
  ASSERT_LT(partial, size);
  ASSERT_EQ(std::filesystem::file_size(dst), partial);  // what was counted is on disk
  ASSERT_TRUE(RestartService());

  DownloadHeaderRequest fields;
  fields.account = "alice";
  fields.contentID = id;
  fields.rangeStart = std::to_string(partial);
  fields.rangeEnd = std::to_string(size - 1);
  fields.totalSize = std::to_string(size);
  RecordHolder record(FileRecord::Create(dst, false));
  ASSERT_EQ(sdk_.makeDownloadFileHttpHeader(fields, &record->header), kSdkOk);
  record->fields = fields;
  std::atomic<std::uint64_t> lowest{~0ull};
  record->onIo = [&](std::uint64_t offset) {
    for (auto v = lowest.load(); offset < v && !lowest.compare_exchange_weak(v, offset);) {
    }
  };
  DownloadFileRequest request;
  request.account = "alice";
  request.contentID = id;
  request.offset = "-1";
  ASSERT_EQ(sdk_.pcDownloadFileRequest(request, record.record), kSdkOk);
  ASSERT_EQ(record->Wait(60000), kTransferStatusDone);
  EXPECT_EQ(lowest.load(), partial);
  EXPECT_TRUE(test::ReadWholeFile(src) == test::ReadWholeFile(dst));
}

TEST_F(SdkTransfer, CancelStopsPromptlyWithoutAnEndStatus) {
  const std::uint64_t size = 16 * kChunk;
  const std::string src = dir_.File("slow");
  test::WriteRandomFile(src, size, 13);
  const std::string id = Upload(src, "for-download.bin", size);
  UploadFileResult task = Request(src, "slow-upload.bin", size);
  ASSERT_EQ(task.entries.at(0).isNeedUpload, "0");  // same bytes; use a fresh file for the upload
  const std::string other = dir_.File("slow2");
  test::WriteRandomFile(other, size, 14);
  task = Request(other, "slow-upload.bin", size);

  for (bool upload : {true, false}) {
    SCOPED_TRACE(upload ? "upload" : "download");
    RecordHolder record(FileRecord::Create(upload ? other : dir_.File("cancelled"), upload));
    std::atomic<int> ios{0};
    record->onIo = [&](std::uint64_t) {
      ++ios;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));  // a slow disk keeps the transfer running
    };
    if (upload) {
      record->url = task.uploadURL;
      record->header = UploadHeader(task, 0, size);
      ASSERT_EQ(sdk_.uploadFile(record.record), kSdkOk);
    } else {
      DownloadFileRequest request;
      request.account = "alice";
      request.contentID = id;
      ASSERT_EQ(sdk_.pcDownloadFileRequest(request, record.record), kSdkOk);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ios.load() < 5 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_GE(ios.load(), 5) << "the transfer never got going";
    record->Cancel();
    // Once the SDK has let go, the record is freed at the end of this scope:
    // a file access after that is a use after free the sanitizer reports.
    EXPECT_TRUE(ReleasedBySdk(record.record, 5000));
    EXPECT_EQ(record->GetStatus(), kTransferStatusCancel);  // the SDK wrote no end status
    EXPECT_EQ(record->EndWrites(), 0);
    EXPECT_LT(record->GetTransferred(), size);
  }
}

TEST_F(SdkTransfer, FourTransfersAtOnce) {
  constexpr int kCount = 4;
  const std::uint64_t size = 3 * kChunk + 3;
  std::vector<UploadFileResult> tasks;
  std::vector<FileRecord*> records;
  for (int i = 0; i < kCount; ++i) {
    const std::string src = dir_.File("p" + std::to_string(i));
    test::WriteRandomFile(src, size, 200 + i);
    tasks.push_back(Request(src, "p" + std::to_string(i), size));
    records.push_back(FileRecord::Create(src, true));
    records.back()->url = tasks.back().uploadURL;
    records.back()->header = UploadHeader(tasks.back(), 0, size);
  }
  for (auto* r : records) ASSERT_EQ(sdk_.uploadFile(r), kSdkOk);
  for (auto* r : records) {
    EXPECT_EQ(r->Wait(60000), kTransferStatusDone);
    EXPECT_TRUE(ReleasedBySdk(r));
    r->Release();
  }
  records.clear();
  for (int i = 0; i < kCount; ++i) {
    records.push_back(FileRecord::Create(dir_.File("q" + std::to_string(i)), false));
    DownloadFileRequest request;
    request.account = "alice";
    request.contentID = tasks[i].entries.at(0).contentID;
    ASSERT_EQ(sdk_.pcDownloadFileRequest(request, records.back()), kSdkOk);
  }
  for (int i = 0; i < kCount; ++i) {
    EXPECT_EQ(records[i]->Wait(60000), kTransferStatusDone);
    EXPECT_TRUE(ReleasedBySdk(records[i]));
    records[i]->Release();
    EXPECT_TRUE(test::ReadWholeFile(dir_.File("p" + std::to_string(i))) ==
                test::ReadWholeFile(dir_.File("q" + std::to_string(i))));
  }
}

TEST_F(SdkTransfer, FailuresEndWithOneFailedStatus) {
  const std::string src = dir_.File("f");
  test::WriteRandomFile(src, kChunk, 15);
  UploadFileResult task = Request(src, "f.bin", kChunk);

  struct Case {
    const char* what;
    std::string file;
    bool read;
    std::string url;
    std::string contentID;  // download when set
  } cases[] = {
      {"unknown upload task", src, true, "/blob/upload/" + std::string(32, 'a') + "/" + task.entries[0].contentID, ""},
      {"local file missing", dir_.File("missing/none"), true, task.uploadURL, ""},
      {"content missing", dir_.File("d1"), false, "", alice_.userID + "00120990101000000001"},
      {"download target unopened", dir_.File("missing/d2"), false, "", task.entries[0].contentID},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RecordHolder record(FileRecord::Create(c.file, c.read));
    record->url = c.url;
    if (c.contentID.empty()) {
      record->header = UploadHeader(task, 0, kChunk);
      ASSERT_EQ(sdk_.uploadFile(record.record), kSdkOk);
    } else {
      DownloadFileRequest request;
      request.account = "alice";
      request.contentID = c.contentID;
      ASSERT_EQ(sdk_.pcDownloadFileRequest(request, record.record), kSdkOk);
    }
    EXPECT_EQ(record->Wait(30000), kTransferStatusFailed);
    EXPECT_TRUE(ReleasedBySdk(record.record));
    EXPECT_EQ(record->EndWrites(), 1);
  }

  // The upload task dropped: its URL no longer takes bytes.
  ASSERT_EQ(sdk_.SyncDelUploadTask("alice", task, "f.bin", ""), kSdkOk);
  RecordHolder record(FileRecord::Create(src, true));
  record->url = task.uploadURL;
  record->header = UploadHeader(task, 0, kChunk);
  ASSERT_EQ(sdk_.uploadFile(record.record), kSdkOk);
  EXPECT_EQ(record->Wait(30000), kTransferStatusFailed);
}

TEST_F(SdkTransfer, DownloadByPathAndByUrl) {
  const std::string src = dir_.File("x");
  test::WriteRandomFile(src, kChunk + 9, 16);
  const std::string id = Upload(src, "x.bin", kChunk + 9);

  // downloadFileEx, synchronous and asynchronous; the full ID is an ID path.
  const std::string target = dir_.File("byPath");
  ASSERT_EQ(sdk_.downloadFileEx(alice_.userID, alice_.root + "/" + id, target, alice_.token, nullptr, nullptr), kSdkOk);
  EXPECT_TRUE(test::ReadWholeFile(src) == test::ReadWholeFile(target));
  EXPECT_FALSE(std::filesystem::exists(target + ".part"));
  test::CallbackBox<DownloadFileExResult> box;
  ASSERT_EQ(sdk_.downloadFileEx(alice_.userID, id, dir_.File("async"), "", &test::CallbackBox<DownloadFileExResult>::Invoke,
                                &box),
            kSdkOk);
  ASSERT_TRUE(box.Wait());
  EXPECT_EQ(box.code, kSdkOk);
  EXPECT_EQ(box.result.localPath, dir_.File("async"));
  EXPECT_NE(sdk_.downloadFileEx(alice_.userID, alice_.userID + "00120990101000000001", dir_.File("none"), "", nullptr,
                                nullptr),
            kSdkOk);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("none")));

  // A thumbnail by its service URL, with the account's token.
  ListRequest list;
  list.account = "alice";
  list.catalogID = alice_.root;
  ListResult root;
  ASSERT_EQ(sdk_.SyncLs(list, &root), kSdkOk);
  std::string pictures;
  for (const auto& c : root.catalogs)
    if (c.catalogName == "图片") pictures = c.catalogID;
  list.catalogID = pictures;
  ListResult images;
  ASSERT_EQ(sdk_.SyncLs(list, &images), kSdkOk);
  ASSERT_FALSE(images.contents.empty());
  const std::string thumbUrl = images.contents[0].thumbnailURL;
  ASSERT_EQ(thumbUrl.rfind("/thumb/", 0), 0u);
  RecordHolder record(FileRecord::Create(dir_.File("thumb"), false));
  record->url = thumbUrl + "?edge=32";
  record->fields.account = "alice";
  ASSERT_EQ(sdk_.downloadFile(record.record), kSdkOk);
  ASSERT_EQ(record->Wait(30000), kTransferStatusDone);
  std::string bytes = test::ReadWholeFile(dir_.File("thumb"));
  ASSERT_GT(bytes.size(), 4u);
  EXPECT_EQ(record->GetFileSize(), bytes.size());
  const bool jpeg = static_cast<unsigned char>(bytes[0]) == 0xFF, png = bytes.compare(1, 3, "PNG") == 0;
  EXPECT_TRUE(jpeg || png);
}

}  // namespace
}  // namespace corbel
