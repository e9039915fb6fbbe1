// Copy-data records over abstract local sockets: one listening socket per
// named window, one connection per record. Frame: code (8 bytes), length
// (4 bytes), payload; answer: the handler's 8-byte result.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/message_channel.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr uint32_t kMaxRecord = 16u << 20;

socklen_t Address(std::u16string_view name, sockaddr_un& addr) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  const char* session = std::getenv("VD_SESSION");  // see the named objects
  std::string id = "vd-wnd-" + std::to_string(::getuid()) + "-" + (session ? session : "") + "-" + Utf16ToUtf8(name);
  if (id.size() > sizeof(addr.sun_path) - 2) id.resize(sizeof(addr.sun_path) - 2);
  std::memcpy(addr.sun_path + 1, id.data(), id.size());  // leading NUL: abstract namespace
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + id.size());
}

// Reads exactly n bytes before the deadline (TickCountMs based); false otherwise.
bool ReadAll(int fd, void* data, size_t n, uint64_t deadline) {
  auto* p = static_cast<char*>(data);
  while (n > 0) {
    uint64_t now = TickCountMs();
    if (now >= deadline) return false;
    pollfd pfd{fd, POLLIN, 0};
    int r = ::poll(&pfd, 1, static_cast<int>(std::min<uint64_t>(deadline - now, 1u << 30)));
    if (r <= 0) {
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
    ssize_t got = ::recv(fd, p, n, 0);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      return false;
    }
    p += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t n) {
  auto* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t put = ::send(fd, p, n, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += put;
    n -= static_cast<size_t>(put);
  }
  return true;
}

class SocketWindow final : public MessageWindow {
 public:
  SocketWindow(int listener, CopyDataHandler handler)
      : listener_(listener), handler_(std::move(handler)) {
    ::pipe2(wake_, O_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
  }

  ~SocketWindow() override {
    stop_ = true;
    char c = 0;
    (void)::write(wake_[1], &c, 1);
    thread_.join();
    ::close(listener_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

 private:
  // Records are handled one at a time, in arrival order, as a window's
  // message loop would.
  void Run() {
    while (!stop_) {
      pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) continue;
      if (fds[1].revents) break;
      int conn = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      NoThrow("MessageWindow::Serve", [&] { Serve(conn); });
      ::close(conn);
    }
  }

  void Serve(int conn) {
    uint64_t deadline = TickCountMs() + 5000;
    uint64_t code = 0;
    uint32_t length = 0;
    if (!ReadAll(conn, &code, sizeof code, deadline) || !ReadAll(conn, &length, sizeof length, deadline)) return;
    if (length > kMaxRecord) return;  // a sender that lies about the size gets no answer
    std::string payload(length, '\0');
    if (length && !ReadAll(conn, payload.data(), length, deadline)) return;
    int64_t answer = 0;
    NoThrow("MessageWindow::handler", [&] { answer = handler_(code, payload); });
    WriteAll(conn, &answer, sizeof answer);
  }

  int listener_;
  int wake_[2] = {-1, -1};
  CopyDataHandler handler_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

std::unique_ptr<MessageWindow> MessageWindow::Create(std::u16string_view name, CopyDataHandler handler,
                                                     Result* error) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr;
  socklen_t len = Address(name, addr);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(fd, 16) != 0) {
    int e = errno;
    if (fd >= 0) ::close(fd);
    if (error) *error = e == EADDRINUSE ? kAlreadyExists : kGenFailure;
    return nullptr;
  }
  if (error) *error = kOk;
  return std::make_unique<SocketWindow>(fd, std::move(handler));
}

Result SendCopyData(std::u16string_view window_name, uint64_t code, std::string_view bytes,
                    uint32_t timeout_ms, intptr_t* reply) {
  if (bytes.size() > kMaxRecord) return kInvalidParameter;
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return kGenFailure;
  sockaddr_un addr;
  socklen_t len = Address(window_name, addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
    ::close(fd);
    return kNoWindow;
  }
  uint64_t deadline = TickCountMs() + timeout_ms;
  uint32_t length = static_cast<uint32_t>(bytes.size());
  int64_t answer = 0;
  bool ok = WriteAll(fd, &code, sizeof code) && WriteAll(fd, &length, sizeof length) &&
            WriteAll(fd, bytes.data(), bytes.size()) && ReadAll(fd, &answer, sizeof answer, deadline);
  ::close(fd);
  if (!ok) return kTimeout;
  if (reply) *reply = static_cast<intptr_t>(answer);
  return kOk;
}

bool WindowExists(std::u16string_view window_name) {
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_un addr;
  socklen_t len = Address(window_name, addr);
  bool found = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return found;
}

}  // namespace platform
