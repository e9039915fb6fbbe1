// Named mutexes are lock files held with a shared flock: the mutex "exists"
// while any process keeps its descriptor, and vanishes with a crashed holder,
// as a Windows mutex does when its last handle closes. Named events live in
// this process only; the product's events never cross processes on POSIX.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include <cstdlib>

#include "platform/sync.h"
#include "platform/text.h"

namespace platform {
namespace {

std::string LockPath(std::u16string_view name) {
  // VD_SESSION keeps concurrent test programs apart, as sessions do on Windows.
  const char* session = std::getenv("VD_SESSION");
  std::string dir = "/tmp/vd-kobj-" + std::to_string(::getuid()) + (session && *session ? std::string("-") + session : "");
  ::mkdir(dir.c_str(), 0700);
  std::string file;
  for (char c : Utf16ToUtf8(name)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (plain) {
      file.push_back(c);
    } else {
      static const char* hex = "0123456789abcdef";
      file += '%';
      file += hex[(c >> 4) & 15];
      file += hex[c & 15];
    }
  }
  return dir + "/" + file + ".mutex";
}

class FlockMutex final : public NamedMutex {
 public:
  explicit FlockMutex(int fd) : fd_(fd) {}
  ~FlockMutex() override { ::close(fd_); }

 private:
  int fd_;
};

struct EventState {
  std::mutex mutex;
  std::condition_variable cv;
  bool set = false;
  bool manual = false;
};

std::mutex g_events_mutex;
std::map<std::u16string, std::weak_ptr<EventState>> g_events;

class LocalEvent final : public NamedEvent {
 public:
  explicit LocalEvent(std::shared_ptr<EventState> state) : state_(std::move(state)) {}

  Result Set() override {
    {
      std::lock_guard lock(state_->mutex);
      state_->set = true;
    }
    if (state_->manual) state_->cv.notify_all(); else state_->cv.notify_one();
    return kOk;
  }

  Result Reset() override {
    std::lock_guard lock(state_->mutex);
    state_->set = false;
    return kOk;
  }

  WaitResult Wait(uint32_t timeout_ms) override {
    std::unique_lock lock(state_->mutex);
    auto ready = [&] { return state_->set; };
    if (timeout_ms == kInfinite) {
      state_->cv.wait(lock, ready);
    } else if (!state_->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
      return WaitResult::Timeout;
    }
    if (!state_->manual) state_->set = false;
    return WaitResult::Signaled;
  }

 private:
  std::shared_ptr<EventState> state_;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(std::u16string_view name, Result* error) {
  int fd = ::open(LockPath(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::flock(fd, LOCK_SH) != 0) {
    if (fd >= 0) ::close(fd);
    if (error) *error = kAccessDenied;
    return nullptr;
  }
  if (error) *error = kOk;
  return std::make_unique<FlockMutex>(fd);
}

bool NamedMutex::Exists(std::u16string_view name) {
  int fd = ::open(LockPath(name).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  // An exclusive lock is refused exactly while a holder keeps its shared one.
  bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
  ::close(fd);
  return held;
}

std::unique_ptr<NamedEvent> NamedEvent::Create(std::u16string_view name, bool manual_reset,
                                               bool initially_set, Result* error) {
  std::shared_ptr<EventState> state;
  if (!name.empty()) {
    std::lock_guard lock(g_events_mutex);
    auto& slot = g_events[std::u16string(name)];
    state = slot.lock();
    if (!state) {
      state = std::make_shared<EventState>();
      state->manual = manual_reset;
      state->set = initially_set;
      slot = state;
    }
    if (error) *error = state.use_count() > 1 ? kAlreadyExists : kOk;
  } else {
    state = std::make_shared<EventState>();
    state->manual = manual_reset;
    state->set = initially_set;
    if (error) *error = kOk;
  }
  return std::make_unique<LocalEvent>(std::move(state));
}

}  // namespace platform
