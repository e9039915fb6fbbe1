#include "trace.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace vd::trace {
namespace {

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> parts;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, '|')) parts.push_back(part);
  return parts;
}

class Recorder : public ITraceSink, public ILogSink {
 public:
  void OnTraceRecord(std::string_view record) override {
    std::lock_guard lock(mutex);
    records.emplace_back(record);
  }
  void OnLogLine(LogLevel level, const char* file, int line, const char* method, std::string_view message) override {
    std::lock_guard lock(mutex);
    lines.push_back({level, file, line, method, std::string(message)});
  }
  struct Line {
    LogLevel level;
    std::string file;
    int line;
    std::string method;
    std::string message;
  };
  std::mutex mutex;
  std::vector<std::string> records;
  std::vector<Line> lines;
};

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetTraceSink(&recorder);
    SetLogSink(&recorder);
  }
  void TearDown() override {
    SetTraceSink(nullptr);
    SetLogSink(nullptr);
  }
  Recorder recorder;
};

long Inner() {
  VD_TRACE("CVDCache::Inner");
  VD_LOG_INFO("count=%d name=%s", 3, "云盘");
  return -2147467259L;  // E_FAIL
}

long Outer() {
  VD_TRACE("CIVDShellFolder::EnumObjects");
  VD_RETURN_IF_FAILED(Inner());
  return 0;
}

TEST_F(TraceTest, NestedScopesWriteEntryAndExitInOrder) {
  EXPECT_EQ(Outer(), -2147467259L);
  ASSERT_EQ(recorder.records.size(), 4u);
  auto e1 = Split(recorder.records[0]), e2 = Split(recorder.records[1]);
  auto x2 = Split(recorder.records[2]), x1 = Split(recorder.records[3]);
  ASSERT_EQ(e1.size(), 5u);
  ASSERT_EQ(x1.size(), 7u);
  EXPECT_EQ(e1[0], "1");
  EXPECT_EQ(e1[1], "CIVDShellFolder::EnumObjects");
  EXPECT_NE(e1[2].find("trace_test.cpp"), std::string::npos);
  EXPECT_EQ(e2[1], "CVDCache::Inner");
  EXPECT_EQ(x2[0], "0");
  EXPECT_EQ(x2[1], "CVDCache::Inner");
  EXPECT_EQ(x1[1], "CIVDShellFolder::EnumObjects");
  // Exit carries the entry's line and sequence number.
  EXPECT_EQ(x1[3], e1[3]);
  EXPECT_EQ(x1[4], e1[4]);
  EXPECT_EQ(std::stol(e2[4]), std::stol(e1[4]) + 1);
  EXPECT_EQ(x1[6], "0.0");  // a quick call reports no processor use

  // The log line names the innermost traced method, then the failure line the outer one.
  ASSERT_EQ(recorder.lines.size(), 2u);
  EXPECT_EQ(recorder.lines[0].method, "CVDCache::Inner");
  EXPECT_EQ(recorder.lines[0].message, "count=3 name=云盘");
  EXPECT_EQ(recorder.lines[0].level, LogLevel::Info);
  EXPECT_EQ(recorder.lines[1].method, "CIVDShellFolder::EnumObjects");
  EXPECT_EQ(recorder.lines[1].level, LogLevel::Error);
  EXPECT_EQ(recorder.lines[1].message, "Inner() failed: 0x80004005");
}

TEST(TraceFormat, FieldsAreCutAndNumbersFormatted) {
  std::string method(700, 'm'), file(400, 'f');
  auto entry = Split(FormatEntry(method, file, 12, 34));
  EXPECT_EQ(entry[1].size(), 519u);
  EXPECT_EQ(entry[2].size(), 259u);
  EXPECT_EQ(Split(FormatExit("A::B", "a.cpp", 7, 9, 250, 12.345))[6], "12.3");

  struct Cpu { uint64_t delta; uint64_t ms; unsigned cpus; double want; } cases[] = {
      {1000000, 100, 1, 0.0},   // 100 ms or less: not measured
      {1000000, 200, 1, 50.0},  // 100 ms of CPU in 200 ms on one processor
      {2000000, 200, 2, 50.0},  // two processors busy for the whole call
      {0, 5000, 4, 0.0},
      {1000000, 200, 0, 0.0},
  };
  for (auto& c : cases) EXPECT_DOUBLE_EQ(CpuPercent(c.delta, c.ms, c.cpus), c.want) << c.delta << "/" << c.ms;
}

TEST_F(TraceTest, LongLogLinesAreKeptWhole) {
  std::string big(5000, 'x');
  VD_LOG_WARN("%s|end", big.c_str());
  ASSERT_EQ(recorder.lines.size(), 1u);
  EXPECT_EQ(recorder.lines[0].message.size(), 5004u);
}

TEST_F(TraceTest, SequenceNumbersAreUniqueAcrossThreads) {
  constexpr int kThreads = 4, kCalls = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kCalls; ++i) {
        VD_TRACE("Worker::Step");
      }
    });
  }
  for (auto& t : threads) t.join();
  std::set<long> entries, exits;
  for (auto& r : recorder.records) {
    auto f = Split(r);
    (f[0] == "1" ? entries : exits).insert(std::stol(f[4]));
  }
  EXPECT_EQ(entries.size(), static_cast<size_t>(kThreads * kCalls));
  EXPECT_EQ(entries, exits);
}

TEST(TraceOff, NoSinkNoRecordsAndNoMethodLeak) {
  {
    VD_TRACE("Quiet::Call");
    EXPECT_STREQ(ScopeTrace::CurrentMethod(), "Quiet::Call");
  }
  EXPECT_EQ(ScopeTrace::CurrentMethod(), nullptr);
  Recorder late;
  SetTraceSink(&late);
  SetTraceSink(nullptr);
  { VD_TRACE("Quiet::Again"); }
  EXPECT_TRUE(late.records.empty());
}

}  // namespace
}  // namespace vd::trace
