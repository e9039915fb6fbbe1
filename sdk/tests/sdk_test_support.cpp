#include "sdk_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "http/http_client.h"

extern char** environ;

namespace corbel::test {

ServerProcess::ServerProcess(std::filesystem::path dataDir, std::string extraArgs)
    : dataDir_(std::move(dataDir)), extraArgs_(std::move(extraArgs)) {
  std::filesystem::create_directories(dataDir_);
  std::string command = std::string(CLOUDSERVER_EXE) + " seed --data '" + dataDir_.string() + "' " + extraArgs_ +
                        " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "seeding the service failed\n");
}

ServerProcess::~ServerProcess() { Kill(); }

bool ServerProcess::Start(int port) {
  Kill();
  int fds[2];
  if (pipe(fds) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  std::string data = dataDir_.string(), portText = std::to_string(port);
  const char* argv[] = {CLOUDSERVER_EXE, "serve", "--data", data.c_str(), "--port", portText.c_str(), nullptr};
  if (posix_spawn(&pid_, CLOUDSERVER_EXE, &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  std::string line;
  char ch;
  while (read(fds[0], &ch, 1) == 1 && ch != '\n') line += ch;
  close(fds[0]);
  const std::string prefix = "listening on 127.0.0.1:";
  port_ = line.rfind(prefix, 0) == 0 ? std::atoi(line.c_str() + prefix.size()) : 0;
  return pid_ > 0 && port_ > 0;
}

void ServerProcess::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

void WriteRandomFile(const std::string& path, std::uint64_t size, unsigned seed) {
  std::mt19937_64 random(seed);
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint64_t> block(8192);
  for (std::uint64_t written = 0; written < size;) {
    for (auto& v : block) v = random();
    auto n = std::min<std::uint64_t>(size - written, block.size() * 8);
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
    written += n;
  }
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

FileRecord* FileRecord::Create(const std::string& path, bool readMode) {
  int fd = readMode ? open(path.c_str(), O_RDONLY | O_CLOEXEC) : open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  return new FileRecord(path, readMode, fd);
}

FileRecord::FileRecord(std::string path, bool readMode, int fd) : path_(std::move(path)), readMode_(readMode), fd_(fd) {
  if (readMode && fd >= 0) {
    off_t end = lseek(fd, 0, SEEK_END);
    if (end > 0) fileSize_ = static_cast<std::uint64_t>(end);
  }
}

FileRecord::~FileRecord() {
  if (fd_ >= 0) close(fd_);
}

std::int64_t FileRecord::ReadFile(std::uint64_t offset, void* buffer, std::uint32_t size) {
  if (onIo) onIo(offset);
  ssize_t n = pread(fd_, buffer, size, static_cast<off_t>(offset));
  return n < 0 ? -1 : n;
}

bool FileRecord::WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) {
  if (onIo) onIo(offset);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n <= 0) return false;
    p += n;
    offset += static_cast<std::uint64_t>(n);
    size -= static_cast<std::uint32_t>(n);
  }
  return true;
}

bool FileRecord::TruncateFile(std::uint64_t size) { return ftruncate(fd_, static_cast<off_t>(size)) == 0; }

std::uint32_t FileRecord::GetStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

void FileRecord::SetStatus(std::uint32_t status) {
  {
    std::lock_guard lock(mutex_);
    status_ = status;
    if (status & kTransferEndMask) ++endWrites_;
  }
  event_.notify_all();
}

void FileRecord::Cancel() {
  {
    std::lock_guard lock(mutex_);
    status_ |= kTransferStatusCancel;
  }
  event_.notify_all();
}

std::uint32_t FileRecord::Wait(int timeoutMs) {
  std::unique_lock lock(mutex_);
  event_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (status_ & kTransferStopMask) != 0; });
  return status_;
}

int RequestUpload(ICloudSdk& sdk, const std::string& account, const std::string& parentCatalogID,
                  const std::string& path, const std::string& name, std::uint64_t size, UploadFileResult* task,
                  std::string* md5) {
  if (int code = sdk.Md5CalFile(path, md5); code != kSdkOk) return code;
  UploadFileRequest request;
  request.account = account;
  request.totalSize = std::to_string(size);
  request.parentCatalogID = parentCatalogID;
  request.files = {UploadFileEntry{name, std::to_string(size), *md5}};
  return sdk.SyncUploadFileRequest(request, task);
}

}  // namespace corbel::test
