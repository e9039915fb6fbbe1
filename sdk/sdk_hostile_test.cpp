// Transfers against a service that lies about them (fault injection on a
// loopback HTTP server of the test's own): every transfer ends, with a
// failure, after a bounded number of requests, and no file grows past the
// size the service announced.
#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "cloud_sdk_impl.h"
#include "tests/sdk_test_support.h"

namespace corbel {
namespace {

using test::FileRecord;

constexpr std::uint32_t kChunk = 64 * 1024;
constexpr int kRetries = 2;

class LyingService {
 public:
  using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;
  LyingService(Handler put, Handler get) {
    server_.Put(R"(/blob/.*)", [this, put](const httplib::Request& q, httplib::Response& r) {
      ++puts;
      put(q, r);
    });
    server_.Get(R"(/blob/.*)", [this, get](const httplib::Request& q, httplib::Response& r) {
      ++gets;
      get(q, r);
    });
    server_.Post("/api/pcDownloadFileRequest", [](const httplib::Request&, httplib::Response& r) {
      r.set_content(R"({"code":0,"contentSize":"1000","downloadURL":"/blob/content"})", "application/json");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }
  ~LyingService() {
    server_.stop();
    thread_.join();
  }
  int port() const { return port_; }
  std::atomic<int> puts{0}, gets{0};

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
};

void Json(httplib::Response& r, int status, const std::string& body) {
  r.status = status;
  r.set_content(body, "application/json");
}

// Drops the test's reference at scope end, like the product does.
struct RecordHolder {
  FileRecord* record;
  explicit RecordHolder(FileRecord* r) : record(r) {}
  ~RecordHolder() { record->Release(); }
  FileRecord* operator->() const { return record; }
};

TEST(HostileTransfers, UploadsToALyingServiceEndWithAFailure) {
  struct Case {
    const char* what;
    LyingService::Handler put;
    int maxPuts;
  };
  std::atomic<int> turn{0};
  const Case cases[] = {
      {"holds more than the file has",
       [](const httplib::Request&, httplib::Response& r) { Json(r, 200, R"({"storedBytes":"999999999"})"); }, 1},
      {"accepts every chunk and never holds a byte",
       [](const httplib::Request&, httplib::Response& r) { Json(r, 200, R"({"storedBytes":"0"})"); }, kRetries + 1},
      {"takes a chunk, then loses it again",
       [&turn](const httplib::Request&, httplib::Response& r) {
         if (turn++ % 2 == 0) {
           Json(r, 200, R"({"storedBytes":"65536"})");
         } else {
           Json(r, 416, R"({"storedBytes":"0"})");
         }
       },
       2 * (kRetries + 1) + 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    turn = 0;
    LyingService service(c.put, [](const httplib::Request&, httplib::Response& r) { r.status = 404; });
    test::TempDir dir;
    test::WriteSdkConfig(dir.path(), service.port(), kRetries, 3000, kChunk);
    CloudSdk sdk;
    ASSERT_TRUE(sdk.init("", 0, dir.path().string(), 1));
    const std::string src = dir.File("up");
    test::WriteRandomFile(src, 3 * kChunk, 5);
    RecordHolder record(FileRecord::Create(src, true));
    record->url = "/blob/upload/task/content";
    ASSERT_EQ(sdk.uploadFile(record.record), kSdkOk);
    EXPECT_EQ(record->Wait(60000), kTransferStatusFailed);
    EXPECT_LE(service.puts.load(), c.maxPuts);
  }
}

TEST(HostileTransfers, ADownloadNeverWritesPastTheAnnouncedSize) {
  // 1,000 bytes announced, 200,000 sent.
  LyingService service([](const httplib::Request&, httplib::Response& r) { r.status = 404; },
                       [](const httplib::Request&, httplib::Response& r) {
                         r.status = 200;
                         r.set_content(std::string(200000, 'x'), "application/octet-stream");
                       });
  test::TempDir dir;
  test::WriteSdkConfig(dir.path(), service.port(), kRetries, 3000, kChunk);
  CloudSdk sdk;
  ASSERT_TRUE(sdk.init("", 0, dir.path().string(), 1));
  ASSERT_EQ(sdk.SetTokenInfo("alice", "token", "op"), kSdkOk);
  const std::string dst = dir.File("down");
  {
    RecordHolder record(FileRecord::Create(dst, false));
    DownloadFileRequest request;
    request.account = "alice";
    request.contentID = "C1";
    ASSERT_EQ(sdk.pcDownloadFileRequest(request, record.record), kSdkOk);
    EXPECT_EQ(record->Wait(60000), kTransferStatusFailed);
  }
  EXPECT_LE(std::filesystem::file_size(dst), 1000u);
  EXPECT_EQ(service.gets.load(), 1);
}

}  // namespace
}  // namespace corbel
