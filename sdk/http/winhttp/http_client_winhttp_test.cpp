// The WinHTTP client against servers that misbehave in time, on loopback
// under Wine: a body trickled a byte at a time must not hold a call past its
// total, a silent server must not hold a transfer past its idle time.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "http/http_client.h"

namespace corbel::http {
namespace {

struct Winsock {
  Winsock() {
    WSADATA data;
    ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Winsock() {
    if (ok) WSACleanup();
  }
  bool ok = false;
};

// Answers one request with a 200 and a declared body of `declared` bytes,
// sent `chunk` bytes every `intervalMs`, at most `limit` bytes in all.
class SlowServer {
 public:
  SlowServer(int declared, int chunk, int intervalMs, int limit)
      : declared_(declared), chunk_(chunk), intervalMs_(intervalMs), limit_(limit) {
    listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (listener_ == INVALID_SOCKET || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SlowServer() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    closesocket(listener_);
    if (thread_.joinable()) thread_.join();
  }
  int port() const { return port_; }
  int sent() const { return sent_.load(); }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/blob"; }

 private:
  void Serve() {
    SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    std::string head;
    char c;
    while (head.find("\r\n\r\n") == std::string::npos && recv(client, &c, 1, 0) == 1) head += c;
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                               std::to_string(declared_) + "\r\n\r\n";
    send(client, answer.data(), static_cast<int>(answer.size()), 0);
    const std::string bytes(static_cast<size_t>(chunk_), 'x');
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_ && sent_ < limit_) {
      lock.unlock();
      const int n = send(client, bytes.data(), chunk_, 0);
      lock.lock();
      if (n != chunk_) break;  // the client went away
      sent_ += n;
      wake_.wait_for(lock, std::chrono::milliseconds(intervalMs_), [this] { return stop_; });
    }
    lock.unlock();
    closesocket(client);
  }

  const int declared_, chunk_, intervalMs_, limit_;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<int> sent_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

TEST(WinHttpClient, EveryCallEndsWithinItsTotalOrIdleTime) {
  Winsock winsock;
  ASSERT_TRUE(winsock.ok);
  struct Case {
    const char* name;
    int declared, chunk, intervalMs, limit;  // the server
    int idleMs, totalMs;                     // the request
    Error expected;
  };
  const Case cases[] = {
      // A byte every 200 ms keeps every read inside the idle time; only the
      // total ends the call, long before the server would stop.
      {"trickle inside the idle time", 1000000, 1, 200, 60, 1000, 1500, Error::kTimeout},
      // A transfer has no total: silence longer than the idle time ends it.
      {"silence past the idle time", 1000, 10, 8000, 1000, 500, 0, Error::kTimeout},
      // The same server at speed: the whole body within both bounds.
      {"honest server", 50000, 5000, 1, 50000, 5000, 20000, Error::kNone},
  };
  const auto client = CreateHttpClient();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SlowServer server(c.declared, c.chunk, c.intervalMs, c.limit);
    ASSERT_NE(server.port(), 0);
    Request request;
    request.url = server.Url();
    request.idleTimeoutMs = c.idleMs;
    request.totalTimeoutMs = c.totalMs;
    Response response;
    EXPECT_EQ(client->Send(request, Proxy{}, &response), c.expected);
    if (c.expected == Error::kNone) {
      EXPECT_EQ(response.status, 200);
      EXPECT_EQ(response.body.size(), static_cast<size_t>(c.declared));
    } else {
      EXPECT_LT(server.sent(), c.limit) << "the call ran until the server gave up";
    }
  }
}

}  // namespace
}  // namespace corbel::http
