// The SDK's parts that need no service: configuration, header texts, the
// worker pool, record conversion, and argument checks of the calls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "cloud_sdk_impl.h"
#include "http/http_client.h"
#include "sdk_config.h"
#include "transfers.h"
#include "wire.h"
#include "worker_pool.h"

namespace corbel {
namespace {

TEST(SdkConfig, ParsesAndRejects) {
  struct Case {
    const char* text;
    bool ok;
    int port;
    int retries;
    std::uint32_t chunk;
  } cases[] = {
      {"[Service]\nHost=127.0.0.1\nPort=8080\n", true, 8080, 3, 16u << 20},
      {"\xEF\xBB\xBF; comment\r\n[service]\r\nhost = 127.0.0.1\r\nport= 1\r\nRetries=0\r\nChunkBytes=65536\r\n", true, 1,
       0, 65536},
      {"[Other]\nHost=127.0.0.1\nPort=8080\n", false, 0, 0, 0},      // keys outside the section
      {"[Service]\nHost=127.0.0.1\n", false, 0, 0, 0},               // no port
      {"[Service]\nHost=127.0.0.1\nPort=65536\n", false, 0, 0, 0},   // out of range
      {"[Service]\nHost=127.0.0.1\nPort=80x\n", false, 0, 0, 0},     // not a number
      {"[Service]\nHost=h\nPort=1\nChunkBytes=99999999\n", false, 0, 0, 0},  // beyond what one PUT may carry
      {"[Service]\nHost=h\nPort=1\nRetries=-1\n", false, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto config = ParseSdkConfig(c.text);
    ASSERT_EQ(config.has_value(), c.ok) << c.text;
    if (!config) continue;
    EXPECT_EQ(config->port, c.port);
    EXPECT_EQ(config->retries, c.retries);
    EXPECT_EQ(config->chunkBytes, c.chunk);
    EXPECT_EQ(config->BaseUrl(), "http://127.0.0.1:" + std::to_string(c.port));
  }
}

TEST(SdkHeaders, RangesRoundTripAndBadOnesAreRefused) {
  auto up = FindContentRange(MakeUploadHeader(ByteRange{5, 9, 10}));
  ASSERT_TRUE(up);
  EXPECT_EQ(up->first, 5u);
  EXPECT_EQ(up->last, 9u);
  EXPECT_EQ(up->total, 10u);
  EXPECT_EQ(FindRangeStart(MakeDownloadHeader(123, std::nullopt)), 123u);
  EXPECT_EQ(FindRangeStart("X: y\r\nrange: bytes=7-9\r\n"), 7u);
  for (const char* bad : {"Content-Range: bytes 5-4/10", "Content-Range: bytes 0-10/10", "Content-Range: 0-1/2",
                          "Content-Range: bytes 1-2", "Content-Range: bytes a-2/3", ""})
    EXPECT_FALSE(FindContentRange(bad)) << bad;
  for (const char* bad : {"Range: bytes=9-3", "Range: items=1-2", "Range: bytes=-5", "Range: bytes=x-"})
    EXPECT_FALSE(FindRangeStart(bad)) << bad;

  auto lines = http::ParseHeaderLines("A: 1\r\nnot a header\r\n: empty\r\nB:two words \r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].first, "B");
  EXPECT_EQ(lines[1].second, "two words");

  CloudSdk sdk;
  std::string header;
  UploadHeaderRequest u;
  u.rangeStart = "0";
  u.rangeEnd = "99";
  u.totalSize = "100";
  EXPECT_EQ(sdk.makeUploadFileHttpHeader(u, &header), kSdkOk);
  EXPECT_EQ(header, "Content-Range: bytes 0-99/100\r\n");
  for (auto [s, e, t] : {std::tuple{"5", "4", "10"}, {"0", "10", "10"}, {"", "1", "2"}, {"0", "1", "2x"}}) {
    u.rangeStart = s;
    u.rangeEnd = e;
    u.totalSize = t;
    EXPECT_EQ(sdk.makeUploadFileHttpHeader(u, &header), kSdkFailed) << s << "-" << e << "/" << t;
  }
  DownloadHeaderRequest d;
  d.rangeStart = "10";
  d.rangeEnd = "19";
  EXPECT_EQ(sdk.makeDownloadFileHttpHeader(d, &header), kSdkOk);
  EXPECT_EQ(header, "Range: bytes=10-19\r\n");
  d.rangeEnd = "9";
  EXPECT_EQ(sdk.makeDownloadFileHttpHeader(d, &header), kSdkFailed);
  EXPECT_EQ(sdk.makeDownloadFileHttpHeader(d, nullptr), kSdkFailed);
}

TEST(SdkWire, RecordsFromJsonTolerateOddFields) {
  Json j = Json::parse(R"({"catalogID":"1","catalogName":"报告","moved":3,"isFixedDir":"1","isSynced":null,
                           "createtime":20240101000000,"path":["not","text"]})");
  CatalogInfo c = wire::Catalog(j);
  EXPECT_EQ(c.catalogID, "1");
  EXPECT_EQ(c.catalogName, "报告");  // the ANSI code page is UTF-8 here
  EXPECT_EQ(c.moved, 3);
  EXPECT_EQ(c.isFixedDir, 1);
  EXPECT_EQ(c.isSynced, 0);
  EXPECT_EQ(c.createtime, "20240101000000");
  EXPECT_EQ(c.path, "");
  EXPECT_EQ(wire::Catalog(Json::array()).catalogID, "");

  // Numbers keep their decimal text across the whole range of either sign.
  Json sizes = Json::parse(R"({"big":18446744073709551615,"top":9223372036854775808,"neg":-9223372036854775808,
                               "zero":0})");
  for (auto [key, want] : {std::pair{"big", "18446744073709551615"}, {"top", "9223372036854775808"},
                           {"neg", "-9223372036854775808"}, {"zero", "0"}})
    EXPECT_EQ(wire::Text(sizes, key), want) << key;
  EXPECT_EQ(ParseUnsigned(wire::Text(sizes, "big")), 18446744073709551615u);

  ShareEntry catalogShare = wire::Share(Json::parse(R"({"sharerID":"7","sharerAccount":"alice","sharerName":"A",
      "catalogInfo":{"catalogID":"9","catalogName":"x"},"contentInfo":{}})"));
  EXPECT_TRUE(catalogShare.HasCatalog());
  EXPECT_FALSE(catalogShare.HasContent());
  EXPECT_EQ(catalogShare.header.shareKind, "5");
  ASSERT_EQ(catalogShare.header.sharers.size(), 1u);
  EXPECT_EQ(catalogShare.header.sharers[0].account, "alice");
  ShareEntry contentShare = wire::Share(Json::parse(R"({"contentInfo":{"contentID":"5","contentName":"a.txt"}})"));
  EXPECT_TRUE(contentShare.HasContent());
  EXPECT_EQ(contentShare.header.sharers[0].kind, "2");

  EXPECT_EQ(wire::LastPathPart("root/a/b"), "b");
  EXPECT_EQ(wire::LastPathPart("plain"), "plain");
}

TEST(SdkWorkerPool, StartsLazilyGrowsWhenBusyAndDrainsOnDestruction) {
  std::atomic<int> ran{0};
  {
    WorkerPool pool(4);
    EXPECT_EQ(pool.ThreadCount(), 0u);
    // Four jobs that wait for each other need four threads at once.
    std::mutex m;
    std::condition_variable cv;
    int arrived = 0;
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(pool.Post([&] {
        std::unique_lock lock(m);
        ++arrived;
        cv.notify_all();
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == 4; }));
        ++ran;
      }));
    }
    {
      std::unique_lock lock(m);
      ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(10), [&] { return arrived == 4; }));
    }
    EXPECT_EQ(pool.ThreadCount(), 4u);
    for (int i = 0; i < 100; ++i) pool.Post([&] { ++ran; });
    EXPECT_LE(pool.ThreadCount(), 4u);
  }
  EXPECT_EQ(ran.load(), 104);  // queued jobs ran before the threads were joined
}

TEST(SdkCalls, RefusedWithoutServiceOrArguments) {
  CloudSdk sdk;
  EXPECT_FALSE(sdk.init("", 0, "/nonexistent-folder", 1));
  ListRequest request;
  request.account = "alice";
  request.catalogID = "x";
  ListResult result;
  EXPECT_EQ(sdk.SyncLs(request, &result), kSdkFailed);  // not initialised
  EXPECT_EQ(sdk.ls(request, nullptr, nullptr), kSdkFailed);  // a callback is required
  EXPECT_EQ(sdk.uploadFile(nullptr), kSdkFailed);
  EXPECT_EQ(sdk.SetTokenInfo("", "t", "o"), kSdkFailed);
  EXPECT_EQ(sdk.Md5CalFile("/nonexistent-file", nullptr), kSdkFailed);
  std::string md5;
  EXPECT_EQ(sdk.Md5CalFile("/nonexistent-file", &md5), kSdkFailed);
  EXPECT_EQ(sdk.ThreadCount(), 0u);  // nothing asynchronous was queued
}

}  // namespace
}  // namespace corbel
