#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "service/log.h"
#include "test_support.h"

namespace vd::service::test {
namespace {

void WriteOne(void (CLog::*level)(const char*, ...), const char* file, int line, const char* function,
              const char* text) {
  CLog* log = CLog::Instance();
  log->Begin();
  log->SetSourceFileName(file);
  log->SetLine(line);
  log->SetFunctionName(function);
  (log->*level)("%s", text);
  log->End();
}

TEST(ServiceLog, LevelDropsLinesBelowIt) {
  TempDir dir;
  const std::vector<std::string> tags = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
  void (CLog::*calls[])(const char*, ...) = {&CLog::Trace, &CLog::Debug, &CLog::Info, &CLog::Warn, &CLog::Error};
  for (int level = 0; level <= 4; ++level) {
    SCOPED_TRACE("level " + std::to_string(level));
    const std::string path = dir.File("level" + std::to_string(level) + ".log");
    ASSERT_EQ(0, CLog::Instance()->Init(path.c_str(), level, 5, 1, 0));
    for (int i = 0; i < 5; ++i) WriteOne(calls[i], "x.cpp", i, "X::F", tags[i].c_str());
    std::vector<std::string> seen;
    for (const auto& line : ReadLines(path)) {
      std::smatch m;
      ASSERT_TRUE(std::regex_search(line, m, std::regex(" ([A-Z]+) x\\.cpp:\\d X::F ([A-Z]+)$"))) << line;
      EXPECT_EQ(m[1], m[2]);
      seen.push_back(m[1]);
    }
    EXPECT_EQ(std::vector<std::string>(tags.begin() + level, tags.end()), seen);
  }
}

TEST(ServiceLog, LineFormat) {
  TempDir dir;
  const std::string path = dir.File("format.log");
  ASSERT_EQ(0, CLog::Instance()->Init(path.c_str(), 0, 5, 1, 0));
  CLog* log = CLog::Instance();
  log->Begin();
  log->SetSourceFileName("C:\\src\\cache\\vdcache.cpp");
  log->SetLine(120);
  log->SetFunctionName("CVDCache::Initialize");
  log->Warn("open %s failed: %d", "cache.db", -5);
  log->End();
  const std::string long_text(3000, 'L');
  log->Error("no bracket %s", long_text.c_str());
  log->Begin();
  log->End();  // no level call: nothing written
  const auto lines = ReadLines(path);
  ASSERT_EQ(2u, lines.size());
  EXPECT_TRUE(std::regex_match(
      lines[0], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+ \d+ WARN vdcache\.cpp:120 )"
                           R"(CVDCache::Initialize open cache\.db failed: -5)")))
      << lines[0];
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(.* \d+ \d+ ERROR -:0 - no bracket L{3000})"))) << lines[1];
  EXPECT_NE(0, log->Init(dir.File("missing/folder/x.log").c_str(), 0, 5, 1, 0));
}

// Lines are numbered; after rotation the kept files hold the newest lines
// without a gap, and no more than the kept number of old files exist.
TEST(ServiceLog, RotationKeepsNFiles) {
  TempDir dir;
  const std::string path = dir.File("Pandrel.test.log");
  constexpr int kKeep = 2, kLines = 15000;
  ASSERT_EQ(0, CLog::Instance()->Init(path.c_str(), 0, kKeep, 1, 5));  // buffered
  const std::string pad(240, '.');
  for (int i = 0; i < kLines; ++i) WriteOne(&CLog::Info, "r.cpp", 1, "R::Run", (std::to_string(i) + " " + pad).c_str());
  ASSERT_EQ(0, CLog::Instance()->Init(dir.File("other.log").c_str(), 0, 5, 1, 0));  // lets go of the file

  std::vector<int> numbers;
  for (const std::string& name : {path + ".2", path + ".1", path}) {
    ASSERT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_LE(std::filesystem::file_size(name), 1u << 20) << name;
    for (const auto& line : ReadLines(name)) {
      const auto at = line.find(" R::Run ");
      ASSERT_NE(std::string::npos, at) << line;
      ASSERT_EQ(line.size() - pad.size(), line.find('.', at)) << line;
      numbers.push_back(std::stoi(line.substr(at + 8)));
    }
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".3"));
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(kLines - 1, numbers.back());
  EXPECT_GT(numbers.size(), 2u * 3000) << "old generations hold too little";
  for (size_t i = 1; i < numbers.size(); ++i) ASSERT_EQ(numbers[i - 1] + 1, numbers[i]) << "gap at " << i;
}

TEST(ServiceLog, ThreadsNeverMixFields) {
  TempDir dir;
  const std::string path = dir.File("threads.log");
  ASSERT_EQ(0, CLog::Instance()->Init(path.c_str(), 0, 5, 64, 0));
  constexpr int kLines = 3000;
  auto writer = [](const char* file, const char* function, const char* word) {
    CLog* log = CLog::Instance();
    for (int i = 0; i < kLines; ++i) {
      log->Begin();
      log->SetSourceFileName(file);
      std::this_thread::yield();
      log->SetLine(i);
      log->SetFunctionName(function);
      std::this_thread::yield();
      log->Debug("%s %d", word, i);
      log->End();
    }
  };
  std::thread a(writer, "alpha.cpp", "Alpha::Run", "alpha");
  std::thread b(writer, "beta.cpp", "Beta::Run", "beta");
  a.join();
  b.join();
  int counts[2] = {0, 0};
  const std::regex shape(R"(.* (\d+) DEBUG (alpha|beta)\.cpp:(\d+) (Alpha|Beta)::Run (alpha|beta) (\d+))");
  std::string tid[2];
  for (const auto& line : ReadLines(path)) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
    const int who = m[2] == "alpha" ? 0 : 1;
    EXPECT_EQ(m[2], m[5]) << line;
    EXPECT_EQ(who == 0 ? "Alpha" : "Beta", m[4].str()) << line;
    EXPECT_EQ(m[3], m[6]) << line;
    if (tid[who].empty()) tid[who] = m[1];
    EXPECT_EQ(tid[who], m[1]) << line;
    ++counts[who];
  }
  EXPECT_EQ(kLines, counts[0]);
  EXPECT_EQ(kLines, counts[1]);
  EXPECT_NE(tid[0], tid[1]);
}

}  // namespace
}  // namespace vd::service::test
