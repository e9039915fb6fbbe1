#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/text.h"

extern char** environ;

namespace platform {
namespace {

class PosixProcess final : public Process {
 public:
  explicit PosixProcess(pid_t pid) : pid_(pid) {}
  ~PosixProcess() override {
    // A child left running is not ours to kill, but it must not stay a zombie
    // of ours once it ends: reap it if it already has.
    if (!exit_code_) ::waitpid(pid_, nullptr, WNOHANG);
  }

  std::optional<int> Wait(uint32_t timeout_ms) override {
    if (exit_code_) return exit_code_;
    uint64_t deadline = timeout_ms == 0xFFFFFFFFu ? UINT64_MAX : TickCountMs() + timeout_ms;
    for (;;) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return exit_code_;
      }
      if (r < 0) return std::nullopt;
      if (TickCountMs() >= deadline) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  Result Terminate(int) override {
    if (exit_code_) return kOk;
    return ::kill(pid_, SIGKILL) == 0 ? kOk : kAccessDenied;
  }

  uint32_t Id() const override { return static_cast<uint32_t>(pid_); }

 private:
  pid_t pid_;
  std::optional<int> exit_code_;
};

}  // namespace

std::unique_ptr<Process> Process::Launch(std::u16string_view program,
                                         const std::vector<std::u16string>& args,
                                         std::u16string_view folder, Result* error) {
  std::vector<std::string> storage;
  storage.push_back(Utf16ToUtf8(program));
  for (auto& a : args) storage.push_back(Utf16ToUtf8(a));
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string dir = Utf16ToUtf8(folder);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, storage[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    if (error) *error = rc == ENOENT ? kNotFound : rc == EACCES ? kAccessDenied : kGenFailure;
    return nullptr;
  }
  if (error) *error = kOk;
  return std::make_unique<PosixProcess>(pid);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

}  // namespace platform
