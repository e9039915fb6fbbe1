#include <dirent.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>

#include "os.h"

namespace vd::service {

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t ThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

std::tm LocalTime(std::time_t t) {
  std::tm out{};
  localtime_r(&t, &out);
  return out;
}

// The ANSI code page is UTF-8 here.
std::string PathForSqlite(const std::string& ansiPath) { return ansiPath; }

int KillProcessesNamed(const std::string& exeName) {
  DIR* proc = opendir("/proc");
  if (!proc) return 0;
  const pid_t self = getpid();
  int killed = 0;
  while (dirent* entry = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self) continue;
    char target[4096];
    const std::string link = std::string("/proc/") + entry->d_name + "/exe";
    const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;  // another user's process, or a kernel thread
    target[n] = '\0';
    std::string path(target);
    const auto slash = path.rfind('/');
    if (path.compare(slash + 1, std::string::npos, exeName) != 0) continue;
    if (kill(static_cast<pid_t>(pid), SIGKILL) == 0) ++killed;
  }
  closedir(proc);
  return killed;
}

}  // namespace vd::service
