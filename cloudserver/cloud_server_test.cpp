#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "cloud_store.h"
#include "http_server.h"
#include "seed.h"
#include "temp_dir.h"
#include "util.h"

extern char** environ;

namespace cloudserver {
namespace {

using vd::testing::TempDir;


Json Call(httplib::Client& c, const std::string& name, const Json& body, int* status = nullptr) {
  auto res = c.Post(("/api/" + name).c_str(), body.dump(), "application/json");
  if (!res) return Json{{"code", -999}};
  if (status) *status = res->status;
  Json j = Json::parse(res->body, nullptr, false);
  return j.is_discarded() ? Json{{"code", -998}} : j;
}

// The service in this process on an ephemeral loopback port.
class HttpTest : public ::testing::Test {
 protected:
  HttpTest() {
    CloudStore::Options o;
    o.dataDir = dir_.path();
    o.tokenTtlSeconds = 600;
    o.clock = [this] { return now_.load(); };
    store_ = std::make_unique<CloudStore>(o);
    Seed(*store_, 0, log_);
    server_ = std::make_unique<HttpServer>(*store_, HttpServer::Limits{});
    port_ = server_->Bind("127.0.0.1", 0);
    EXPECT_GT(port_, 0);
    thread_ = std::thread([this] { server_->Run(); });
    client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    Json s = Call(*client_, "signIn", {{"account", "alice"}, {"password", "alice-pass"}});
    token_ = s.value("token", "");
    root_ = s.value("rootCatalogID", "");
  }
  ~HttpTest() override {
    server_->Stop();
    thread_.join();
  }

  int64_t Total(const std::string& catalog) {
    Json r = Call(*client_, "ls", {{"token", token_}, {"catalogID", catalog}, {"startNumber", "1"}, {"endNumber", "1"}});
    return ParseDecimal(r.value("totalCount", "x")).value_or(-1);
  }

  TempDir dir_{"cloudhttp"};
  std::ostringstream log_;
  std::atomic<int64_t> now_{1700000000};
  std::unique_ptr<CloudStore> store_;
  std::unique_ptr<HttpServer> server_;
  std::thread thread_;
  int port_ = 0;
  std::unique_ptr<httplib::Client> client_;
  std::string token_, root_;
};

TEST_F(HttpTest, SignInBadPasswordAndExpiredToken) {
  ASSERT_EQ(token_.size(), 48u);
  EXPECT_EQ(Call(*client_, "signIn", {{"account", "alice"}, {"password", "nope"}})["code"], codes::kBadLogin);
  Json ls = Call(*client_, "ls", {{"token", token_}, {"catalogID", root_}, {"startNumber", "1"}, {"endNumber", "200"}});
  ASSERT_EQ(ls["code"], 0);
  EXPECT_EQ(ls["totalCount"], "4");  // 我的文档 图片 音乐 readme.txt
  now_ += 601;
  EXPECT_EQ(Call(*client_, "ls", {{"token", token_}, {"catalogID", root_}, {"startNumber", "1"}, {"endNumber", "200"}})
                ["code"],
            codes::kTokenInvalid);
  EXPECT_EQ(Call(*client_, "getDiskInfo", {{"token", token_}})["code"], codes::kTokenInvalid);
}

TEST_F(HttpTest, MalformedRequestsAreRefusedAndChangeNothing) {
  int64_t before = Total(root_);
  ASSERT_EQ(before, 4);
  struct Case {
    const char* what;
    std::string path, body;
    int status, code;
  } cases[] = {
      {"not json", "/api/SyncMkdir", "{\"token\":", 400, codes::kBadRequest},
      {"array", "/api/SyncMkdir", "[1,2]", 400, codes::kBadRequest},
      {"missing field", "/api/SyncMkdir", Json{{"token", token_}, {"parentCatalogID", root_}}.dump(), 200,
       codes::kBadRequest},
      {"mistyped field", "/api/SyncMkdir",
       Json{{"token", token_}, {"parentCatalogID", root_}, {"catalogName", 5}}.dump(), 200, codes::kBadRequest},
      {"bad file size", "/api/SyncUploadFileRequest",
       Json{{"token", token_},
            {"parentCatalogID", root_},
            {"files", {{{"name", "a"}, {"size", "-1"}, {"md5", std::string(32, 'a')}}}}}
           .dump(),
       200, codes::kBadRequest},
      {"unknown call", "/api/dropEverything", Json{{"token", token_}}.dump(), 404, codes::kBadRequest},
      {"oversized", "/api/SyncMkdir",
       Json{{"token", token_}, {"parentCatalogID", root_}, {"catalogName", std::string(2 << 20, 'x')}}.dump(), 413,
       codes::kTooLarge},
      {"bad delete kind", "/api/SyncMgtVirDirInfo",
       Json{{"token", token_}, {"oprType", "9"}, {"catalogIDs", Json::array({root_})}}.dump(), 200,
       codes::kBadRequest},
  };
  for (const auto& c : cases) {
    auto res = client_->Post(c.path.c_str(), c.body, "application/json");
    ASSERT_TRUE(res) << c.what;
    EXPECT_EQ(res->status, c.status) << c.what;
    Json j = Json::parse(res->body, nullptr, false);
    ASSERT_FALSE(j.is_discarded()) << c.what << ": " << res->body;
    EXPECT_EQ(j["code"], c.code) << c.what;
  }
  auto put = client_->Put("/blob/upload/0123456789abcdef0123456789abcdef/12345678901234567890123456789012",
                          {{"Content-Range", "bytes 0-2/3"}}, "abc", "application/octet-stream");
  ASSERT_TRUE(put);
  EXPECT_EQ(put->status, 404);
  auto badRange = client_->Put("/blob/upload/0123456789abcdef0123456789abcdef/12345678901234567890123456789012",
                               {{"Content-Range", "bytes 0-9/3"}}, "abc", "application/octet-stream");
  ASSERT_TRUE(badRange);
  EXPECT_EQ(badRange->status, 400);
  auto get = client_->Get("/blob/download/0123456789abcdef0123456789abcdef");
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 404);
  EXPECT_EQ(Total(root_), before);
}

TEST_F(HttpTest, PagingOverTheWire) {
  std::string folder = store_->CreateBenchFolder("alice", "p450", 450).data["catalogID"];
  size_t seen = 0;
  for (auto [s, e, n] : {std::tuple{"1", "200", 200}, {"201", "400", 200}, {"401", "600", 50}}) {
    Json r = Call(*client_, "ls", {{"token", token_}, {"catalogID", folder}, {"startNumber", s}, {"endNumber", e}});
    ASSERT_EQ(r["code"], 0);
    EXPECT_EQ(r["totalCount"], "450");
    EXPECT_EQ(r["contentList"].size(), static_cast<size_t>(n)) << s;
    seen += r["contentList"].size();
  }
  EXPECT_EQ(seen, 450u);
}

TEST_F(HttpTest, RangedDownloadAndThumbnail) {
  std::string bytes(1000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  std::string md5 = store_->Blobs().Put(bytes);
  Json up = Call(*client_, "SyncUploadFileRequest",
                 {{"token", token_},
                  {"parentCatalogID", root_},
                  {"files", {{{"name", "r.bin"}, {"size", "1000"}, {"md5", md5}}}}});
  ASSERT_EQ(up["code"], 0);
  ASSERT_EQ(up["files"][0]["needUpload"], "0");
  Json dl = Call(*client_, "pcDownloadFileRequest", {{"token", token_}, {"contentID", up["files"][0]["contentID"]}});
  ASSERT_EQ(dl["code"], 0);
  std::string url = dl["downloadURL"];

  struct Case {
    const char* range;
    int status;
    size_t from, len;
  } cases[] = {
      {"", 200, 0, 1000},          {"bytes=100-199", 206, 100, 100}, {"bytes=990-", 206, 990, 10},
      {"bytes=-10", 206, 990, 10}, {"bytes=999-999", 206, 999, 1},   {"bytes=1000-", 416, 0, 0},
      {"bytes=500-2000", 416, 0, 0}, {"bytes=0-1,5-6", 416, 0, 0},  {"bytes=-2000", 416, 0, 0},
  };
  for (const auto& c : cases) {
    httplib::Headers h;
    if (*c.range) h.emplace("Range", c.range);
    auto res = client_->Get(url.c_str(), h);
    ASSERT_TRUE(res) << c.range;
    EXPECT_EQ(res->status, c.status) << c.range;
    if (c.status == 416) {
      EXPECT_EQ(res->get_header_value("Content-Range"), "bytes */1000") << c.range;
      continue;
    }
    EXPECT_EQ(res->body, bytes.substr(c.from, c.len)) << c.range;
  }

  // Thumbnails of the seeded pictures, made by the service.
  Json all = Call(*client_, "SyncLsAll", {{"token", token_}, {"catalogID", root_}, {"wholeTree", "1"}});
  std::string png;
  for (auto& c : all["contentList"])
    if (c["contentName"] == "日出.png") png = c["thumbnailURL"];
  ASSERT_FALSE(png.empty());
  auto th = client_->Get(png.c_str(), {{"Authorization", "Bearer " + token_}});
  ASSERT_TRUE(th);
  EXPECT_EQ(th->status, 200);
  EXPECT_EQ(th->get_header_value("Content-Type"), "image/jpeg");
  ASSERT_GT(th->body.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(th->body[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(th->body[1]), 0xD8);
  auto noToken = client_->Get(png.c_str());
  ASSERT_TRUE(noToken);
  EXPECT_EQ(noToken->status, 401);
}

// The real program as a child process: first stdout line gives the port.
class ChildServer {
 public:
  ChildServer(const std::filesystem::path& data) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::string dataArg = data.string();
    const char* argv[] = {CLOUDSERVER_EXE, "serve", "--data", dataArg.c_str(), "--port", "0", nullptr};
    if (posix_spawn(&pid_, CLOUDSERVER_EXE, &fa, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string line;
    char ch;
    while (read(fds[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(fds[0]);
    auto colon = line.rfind(':');
    if (line.rfind("listening on 127.0.0.1:", 0) == 0 && colon != std::string::npos)
      port_ = static_cast<int>(ParseDecimal(line.substr(colon + 1)).value_or(0));
  }
  ~ChildServer() { Stop(); }
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }
  int port() const { return port_; }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

TEST(ChildProcess, ResumableUploadSurvivesRestart) {
  TempDir dir{"cloudhttp"};
  {
    CloudStore::Options o;
    o.dataDir = dir.path();
    CloudStore store(o);
    std::ostringstream log;
    Seed(store, 0, log);
  }
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 7));
  std::string md5 = Md5Hex(bytes);
  std::string task, cid, url;
  {
    ChildServer child(dir.path());
    ASSERT_GT(child.port(), 0);
    httplib::Client c("127.0.0.1", child.port());
    Json s = Call(c, "signIn", {{"account", "alice"}, {"password", "alice-pass"}});
    ASSERT_EQ(s["code"], 0);
    Json up = Call(c, "SyncUploadFileRequest",
                   {{"token", s["token"]},
                    {"parentCatalogID", s["rootCatalogID"]},
                    {"files", {{{"name", "大文件.bin"}, {"size", "300000"}, {"md5", md5}}}}});
    ASSERT_EQ(up["code"], 0);
    ASSERT_EQ(up["files"][0]["needUpload"], "1");
    task = up["uploadTaskID"];
    cid = up["files"][0]["contentID"];
    url = up["files"][0]["uploadURL"];
    auto res = c.Put(url.c_str(), {{"Content-Range", "bytes 0-149999/300000"}}, bytes.substr(0, 150000),
                     "application/octet-stream");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(Json::parse(res->body)["storedBytes"], "150000");
    EXPECT_EQ(child.Stop(), 0);
  }
  ChildServer child(dir.path());
  ASSERT_GT(child.port(), 0);
  httplib::Client c("127.0.0.1", child.port());
  Json s = Call(c, "signIn", {{"account", "alice"}, {"password", "alice-pass"}});
  std::string token = s["token"];
  Json info = Call(c, "getUploadTaskInfoN", {{"token", token}, {"uploadTaskID", task}, {"contentID", cid}});
  ASSERT_EQ(info["code"], 0);
  ASSERT_EQ(info["taskInfoList"][0]["uploadedSize"], "150000");
  // A range that leaves a gap is refused with what is stored.
  auto gap = c.Put(url.c_str(), {{"Content-Range", "bytes 200000-299999/300000"}}, bytes.substr(200000),
                   "application/octet-stream");
  ASSERT_TRUE(gap);
  EXPECT_EQ(gap->status, 416);
  auto rest = c.Put(url.c_str(), {{"Content-Range", "bytes 150000-299999/300000"}}, bytes.substr(150000),
                    "application/octet-stream");
  ASSERT_TRUE(rest);
  ASSERT_EQ(rest->status, 200);
  EXPECT_EQ(Json::parse(rest->body)["complete"], "1");

  Json dl = Call(c, "pcDownloadFileRequest", {{"token", token}, {"contentID", cid}});
  ASSERT_EQ(dl["code"], 0);
  EXPECT_EQ(dl["digest"], md5);
  auto got = c.Get(dl["downloadURL"].get<std::string>().c_str());
  ASSERT_TRUE(got);
  EXPECT_EQ(Md5Hex(got->body), md5);

  // The seeded share reaches the second account.
  Json b = Call(c, "signIn", {{"account", "bob"}, {"password", "bob-pass"}});
  Json shares = Call(c, "GetShareList",
                     {{"token", b["token"]}, {"shareKind", "1"}, {"startNumber", "1"}, {"endNumber", "200"}});
  ASSERT_EQ(shares["code"], 0);
  ASSERT_EQ(shares["totalCount"], "1");
  EXPECT_EQ(shares["shareList"][0]["catalogInfo"]["catalogName"], "我的文档");
  EXPECT_EQ(child.Stop(), 0);
}

}  // namespace
}  // namespace cloudserver
