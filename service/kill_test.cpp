// KillAll ends exactly the processes running an executable of the given name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "service/log.h"
#include "test_support.h"

namespace vd::service::test {
namespace {

pid_t Spawn(const std::string& program) {
  const pid_t pid = fork();
  if (pid == 0) {
    execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// True once the child runs `program` (after its exec), within a few seconds.
bool Running(pid_t pid, const std::string& program) {
  const std::string link = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 500; ++i) {
    std::error_code ec;
    if (std::filesystem::read_symlink(link, ec) == program) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(ServiceKillAll, EndsOnlyTheNamedProcesses) {
  TempDir dir;
  // A name no other process on the machine can carry.
  const std::string name = "vdsvc-victim-" + std::to_string(getpid());
  const std::string victim = (dir.path() / name).string();
  const std::string bystander = (dir.path() / (name + "x")).string();
  std::filesystem::copy_file("/bin/sleep", victim);
  std::filesystem::copy_file("/bin/sleep", bystander);

  const pid_t victims[] = {Spawn(victim), Spawn(victim)};
  const pid_t other = Spawn(bystander);
  for (pid_t pid : victims) ASSERT_TRUE(Running(pid, victim));
  ASSERT_TRUE(Running(other, bystander));

  EXPECT_EQ(2, CLog::Instance()->KillAll(name.c_str()));
  for (pid_t pid : victims) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  int status = 0;
  EXPECT_EQ(0, waitpid(other, &status, WNOHANG)) << "a process of another name was ended";
  EXPECT_EQ(0, CLog::Instance()->KillAll(name.c_str()));
  EXPECT_EQ(0, CLog::Instance()->KillAll(""));
  kill(other, SIGKILL);
  waitpid(other, &status, 0);
}

}  // namespace
}  // namespace vd::service::test
