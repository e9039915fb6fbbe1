#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <future>
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
using Clock = std::chrono::steady_clock;

// Client calls end: a service that stops answering fails the call, not the run.
void WithDeadlines(httplib::Client& c) {
  c.set_connection_timeout(10);
  c.set_read_timeout(60);
  c.set_write_timeout(60);
}

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
    WithDeadlines(*client_);
    Json s = Call(*client_, "signIn", {{"account", "alice"}, {"password", "alice-pass"}});
    token_ = s.value("token", "");
    root_ = s.value("rootCatalogID", "");
  }
  ~HttpTest() override {
    server_->Stop();
    thread_.join();
  }

  // Rows of a table of the running store, through a second connection.
  int64_t Rows(const std::string& table) {
    Database db((dir_.path() / "cloud.db").string());
    Statement st = db.Prepare("SELECT COUNT(*) FROM " + table);
    return st.Step() ? st.Int(0) : -1;
  }

  // The service still answers a signed-in call (the seed puts 4 entries in the root).
  bool Serving() { return Total(root_) >= 4; }

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

// Milliseconds left until a deadline, for poll().
int MsLeft(Clock::time_point deadline) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>(ms, 0, 60000));
}

// One request written byte for byte on its own connection, for what a
// well-behaved client never sends.
class RawConnection {
 public:
  explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      close(fd_);
      fd_ = -1;
    }
  }
  ~RawConnection() {
    if (fd_ >= 0) close(fd_);
  }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Send(std::string_view bytes) {
    while (fd_ >= 0 && !bytes.empty()) {
      ssize_t n = send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return fd_ >= 0;
  }
  void EndWriting() { shutdown(fd_, SHUT_WR); }

  struct Answer {
    int status = 0;  // 0: no answer before the peer closed or the deadline
    std::string body;
  };
  // Reads one answer: its head, then as many body bytes as it declares.
  Answer Read(std::chrono::seconds within) {
    Answer out;
    const auto deadline = Clock::now() + within;
    std::string data;
    size_t headEnd = std::string::npos, want = 0;
    while (fd_ >= 0) {
      if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
        headEnd += 4;
        auto at = data.find("Content-Length: ");
        want = at < headEnd ? std::strtoull(data.c_str() + at + 16, nullptr, 10) : 0;
      }
      if (headEnd != std::string::npos && data.size() >= headEnd + want) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, MsLeft(deadline)) <= 0) return out;
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) return out;
      data.append(buf, static_cast<size_t>(n));
    }
    if (data.rfind("HTTP/1.1 ", 0) == 0) out.status = std::atoi(data.c_str() + 9);
    out.body = data.substr(headEnd, want);
    return out;
  }

 private:
  int fd_;
};

// A body of `depth` nested arrays, written as text: building it as a JSON
// value would itself recurse once per level.
std::string NestedCall(const std::string& token, const std::string& field, int depth) {
  std::string body = "{";
  if (!token.empty()) body += "\"token\":\"" + token + "\",";
  return body + "\"" + field + "\":" + std::string(depth, '[') + std::string(depth, ']') + "}";
}

TEST_F(HttpTest, DeepNestingIsRefusedWithOrWithoutAToken) {
  const std::string unknown(48, 'f');
  constexpr int kDeep = 500000;  // a 1 MB body; each level costs a stack frame where JSON recurses
  struct Case {
    const char* what;
    std::string call, body;
    int status, code;
  } cases[] = {
      {"deep event, signed in", "NewEvent", NestedCall(token_, "event", kDeep), 400, codes::kBadRequest},
      {"deep event, no token", "NewEvent", NestedCall("", "event", kDeep), 400, codes::kBadRequest},
      {"deep record, unknown token", "RecordOprLogExAndXML", NestedCall(unknown, "record", kDeep), 400,
       codes::kBadRequest},
      {"deep field of another call", "ls", NestedCall(token_, "catalogID", kDeep), 400, codes::kBadRequest},
      {"one level past the bound", "NewEvent", NestedCall(token_, "event", 64), 400, codes::kBadRequest},
      {"event at the bound, unknown token", "NewEvent", NestedCall(unknown, "event", 63), 200, codes::kTokenInvalid},
      {"record at the bound, no token", "RecordOprLogExAndXML", NestedCall("", "record", 63), 200,
       codes::kBadRequest},
      {"event at the bound, signed in", "NewEvent", NestedCall(token_, "event", 63), 200, codes::kOk},
      // Brackets inside a string are text, not nesting.
      {"a name of brackets", "SyncMkdir",
       Json{{"token", token_}, {"parentCatalogID", root_}, {"catalogName", std::string(100, '[') + "\"]"}}.dump(), 200,
       codes::kOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto res = client_->Post(("/api/" + c.call).c_str(), c.body, "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, c.status);
    Json j = Json::parse(res->body, nullptr, false);
    ASSERT_TRUE(j.is_object()) << res->body;
    EXPECT_EQ(j["code"], c.code);
    ASSERT_TRUE(Serving());
  }
  EXPECT_EQ(Rows("events"), 1);  // only the signed-in call at the bound was stored
}

TEST_F(HttpTest, BodiesAreJudgedByTheirDeclaredLength) {
  const std::string put =
      "PUT /blob/upload/0123456789abcdef0123456789abcdef/12345678901234567890123456789012 HTTP/1.1\r\n"
      "Host: 127.0.0.1\r\n";
  const std::string mkdir = "POST /api/SyncMkdir HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
  struct Case {
    const char* what;
    std::string head, body;
    bool endWriting;
    int status, code;
  } cases[] = {
      // Refused from the header alone: the body is never sent.
      {"call declaring 2 MiB", mkdir + "Content-Length: 2097152\r\n\r\n", "", false, 413, codes::kTooLarge},
      {"call declaring 1 TiB", mkdir + "Content-Length: 1099511627776\r\n\r\n", "", false, 413, codes::kTooLarge},
      {"range declaring 33 MiB", put + "Content-Range: bytes 0-34603007/34603008\r\nContent-Length: 34603008\r\n\r\n",
       "", false, 413, codes::kTooLarge},
      {"length that is no number", mkdir + "Content-Length: 12abc\r\n\r\n", "", false, 400, codes::kBadRequest},
      // Bodies that lie about their length. A body cut short by the client's
      // end gets no answer (status 0): the connection just closes.
      {"call shorter than declared", mkdir + "Content-Length: 100\r\n\r\n", "{\"token\":\"", true, 0, 0},
      {"call longer than declared", mkdir + "Content-Length: 2\r\n\r\n", "{}\"token\":\"x\"}", false, 200,
       codes::kBadRequest},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    RawConnection conn(port_);
    ASSERT_TRUE(conn.Send(c.head + c.body));
    if (c.endWriting) conn.EndWriting();
    auto answer = conn.Read(std::chrono::seconds(30));
    EXPECT_EQ(answer.status, c.status);
    if (c.status) {
      Json j = Json::parse(answer.body, nullptr, false);
      ASSERT_TRUE(j.is_object()) << answer.body;
      EXPECT_EQ(j["code"], c.code);
    }
    ASSERT_TRUE(Serving());
  }

  // A client that stalls inside its body holds one connection, not the service.
  RawConnection stalled(port_);
  ASSERT_TRUE(stalled.Send(mkdir + "Content-Length: 100\r\n\r\n{\"tok"));
  EXPECT_TRUE(Serving());
}

// A PNG of w x h black pixels: a few kilobytes on disk, w * h * 3 bytes decoded.
std::string BlackPng(uint32_t w, uint32_t h) {
  auto chunk = [](const char* type, const std::string& data) {
    std::string out;
    for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<char>(data.size() >> shift));
    std::string typed = type + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()));
    out += typed;
    for (int shift : {24, 16, 8, 0}) out.push_back(static_cast<char>(crc >> shift));
    return out;
  };
  std::string ihdr;
  for (uint32_t v : {w, h})
    for (int shift : {24, 16, 8, 0}) ihdr.push_back(static_cast<char>(v >> shift));
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
  // Row by row: each row is a filter byte and w * 3 zeros.
  std::string row(1 + size_t{w} * 3, '\0'), idat;
  z_stream z{};
  deflateInit(&z, 9);
  std::vector<unsigned char> out(1 << 16);
  for (uint32_t y = 0; y <= h; ++y) {
    z.next_in = reinterpret_cast<Bytef*>(row.data());
    z.avail_in = y < h ? static_cast<uInt>(row.size()) : 0;
    int flush = y < h ? Z_NO_FLUSH : Z_FINISH;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      deflate(&z, flush);
      idat.append(reinterpret_cast<char*>(out.data()), out.size() - z.avail_out);
    } while (z.avail_out == 0);
  }
  deflateEnd(&z);
  return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) + chunk("IDAT", idat) + chunk("IEND", "");
}

TEST_F(HttpTest, ThumbnailsOfHugeImagesAreRefused) {
  struct Case {
    const char* what;
    std::string bytes;
    int status;
  } cases[] = {
      {"20 megapixels", BlackPng(5000, 4000), 404},
      {"a line of 2^16 + 1 pixels", BlackPng(65537, 1), 404},
      {"small", BlackPng(300, 200), 200},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string md5 = store_->Blobs().Put(c.bytes);
    Json up = Call(*client_, "SyncUploadFileRequest",
                   {{"token", token_},
                    {"parentCatalogID", root_},
                    {"files", {{{"name", "p" + std::to_string(n++) + ".png"},
                                {"size", std::to_string(c.bytes.size())},
                                {"md5", md5}}}}});
    ASSERT_EQ(up["code"], 0);
    auto th = client_->Get(("/thumb/" + up["files"][0]["contentID"].get<std::string>()).c_str(),
                           {{"Authorization", "Bearer " + token_}});
    ASSERT_TRUE(th);
    EXPECT_EQ(th->status, c.status);
  }
}

// A stop that arrives before the accept loop (a signal right after start-up)
// still ends the service.
TEST(HttpServerLifetime, StopBeforeRunEndsRun) {
  TempDir dir{"cloudhttp"};
  CloudStore::Options o;
  o.dataDir = dir.path();
  CloudStore store(o);
  HttpServer server(store, HttpServer::Limits{});
  ASSERT_GT(server.Bind("127.0.0.1", 0), 0);
  server.Stop();
  std::promise<void> ran;
  auto done = ran.get_future();
  std::thread t([&] {
    server.Run();
    ran.set_value();
  });
  bool ended = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  EXPECT_TRUE(ended) << "Run() went on after Stop()";
  if (!ended) server.Stop();  // it listens now, so this stop lands
  t.join();
}

// The real program as a child process: the first stdout line gives the port.
// Every wait on it has a deadline; a child that outlives one is killed.
class ChildServer {
 public:
  explicit ChildServer(const std::filesystem::path& data) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    std::string dataArg = data.string();
    const char* argv[] = {CLOUDSERVER_EXE, "serve", "--data", dataArg.c_str(), "--port", "0", nullptr};
    if (posix_spawn(&pid_, CLOUDSERVER_EXE, &fa, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    char ch;
    pollfd p{fds[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, MsLeft(deadline)) > 0 && read(fds[0], &ch, 1) == 1 && ch != '\n') line += ch;
    close(fds[0]);
    auto colon = line.rfind(':');
    if (line.rfind("listening on 127.0.0.1:", 0) == 0 && colon != std::string::npos)
      port_ = static_cast<int>(ParseDecimal(line.substr(colon + 1)).value_or(0));
  }
  ~ChildServer() { Stop(); }
  ChildServer(const ChildServer&) = delete;
  ChildServer& operator=(const ChildServer&) = delete;

  // The exit status, or -1 when the child had to be killed.
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = -1;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        status = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));  // polling for the exit
    }
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
    WithDeadlines(c);
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
  // The restarted service binds a fresh ephemeral port (the old one may be
  // anyone's by now); the client follows the port the child prints.
  ChildServer child(dir.path());
  ASSERT_GT(child.port(), 0);
  httplib::Client c("127.0.0.1", child.port());
  WithDeadlines(c);
  Json s = Call(c, "signIn", {{"account", "alice"}, {"password", "alice-pass"}});
  ASSERT_EQ(s["code"], 0);
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
