#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <cstring>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "log_config.h"
#include "log_server.h"
#include "mem_buffer.h"
#include "mem_writer.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/text.h"
#include "trace.h"
#include "xlogger_trace.h"

namespace XLOGGER {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

class ScratchFolder {
 public:
  ScratchFolder() {
    static int n = 0;
    auto temp = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp);
    path = platform::JoinPath(*temp, platform::Utf8ToWide("vdxlog" + std::to_string(platform::CurrentProcessId()) + "_" + std::to_string(n++)));
    platform::SystemFileSystem().CreateDirectories(path);
  }
  ~ScratchFolder() { platform::SystemFileSystem().RemoveTree(path); }
  std::u16string path;
};

struct WriterRef {
  explicit WriterRef(CMemWriter* w) : w(w) {}
  ~WriterRef() {
    if (w) w->Release();
  }
  CMemWriter* operator->() const { return w; }
  CMemWriter* w;
};

TEST(LogConfig, ParseAndPatterns) {
  auto c = ParseLogConfig(u"FileName=C:\\x\\Log%m%d.txt, LogFormat=%H:%M ,backupdays=3,FileSize=7,Unknown=1");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->file_name, u"C:\\x\\Log%m%d.txt");
  EXPECT_EQ(c->log_format, u"%H:%M");
  EXPECT_EQ(c->backup_days, 3);
  EXPECT_EQ(c->file_size_mb, 7);
  auto d = ParseLogConfig(u"BackupDays=-1,FileSize=abc");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->backup_days, 10);
  EXPECT_EQ(d->file_size_mb, 40);
  EXPECT_EQ(d->file_name, u"Log%m%d.txt");
  EXPECT_FALSE(ParseLogConfig(u"FileName"));
  EXPECT_FALSE(ParseLogConfig(u"=x"));
  EXPECT_TRUE(ParseLogConfig(u""));

  Stamp s;
  s.local.tm_year = 126;
  s.local.tm_mon = 11;
  s.local.tm_mday = 6;
  s.local.tm_hour = 4;
  s.local.tm_min = 5;
  s.local.tm_sec = 9;
  s.millis = 7;
  s.pid = 42;
  s.tid = 123456;
  struct Case { const char16_t* pattern; const char* want; } cases[] = {
      {u"%Y/%m/%d %H:%M:%S %03N %05P %05T", "2026/12/06 04:05:09 007 00042 123456"},
      {u"%N|%P|%T", "007|42|123456"},
      {u"100%% %Q %", "100% %Q %"},
      {u"云 %Y", "云 2026"},
  };
  for (auto& c2 : cases) EXPECT_EQ(FormatPrefix(c2.pattern, s), c2.want);
  EXPECT_EQ(ExpandFileName(u"Log%m%d.txt", s.local), u"Log1206.txt");
  EXPECT_EQ(ExpandFileName(u"a%Yb%", s.local), u"a%Yb%");
  EXPECT_EQ(NamedLoggerConfig(u"C:\\D\\ORLO\\log\\xlog\\", u"PandrelXlogger2", s.local),
            u"FileName=C:\\D\\ORLO\\log\\xlog\\PandrelXlogger2 12645.txt,LogFormat=%Y/%m/%d %H:%M:%S %03N %05P %05T,"
            u"BackupDays=10,FileSize=40");
}

TEST(MemBuffer, RoundTripFullAndHostileBytes) {
  std::string error;
  auto channel = OpenRecordChannel(u"XLgTestBuffer", 4096, &error);
  ASSERT_TRUE(channel) << error;
  CMemBuffer buffer(*channel);
  buffer.Initialize();

  Record r;
  r.level = 3;
  r.pid = 7;
  r.tid = 9;
  r.unix_ms = 1234567890123ull;
  r.name = u"云盘";
  r.payload = std::string("a\0b", 3);
  int appended = 0;
  while (buffer.Append(r, 100) == AppendResult::Ok) ++appended;
  EXPECT_EQ(appended, static_cast<int>((4096 - CMemBuffer::kHeaderSize) / CMemBuffer::Encode(r).size()));
  EXPECT_EQ(buffer.Append(r, 100), AppendResult::Full);
  EXPECT_EQ(buffer.Dropped(), 2u);
  size_t damaged = 9;
  auto records = buffer.Drain(100, &damaged);
  EXPECT_EQ(damaged, 0u);
  ASSERT_EQ(records.size(), static_cast<size_t>(appended));
  EXPECT_EQ(records.back().name, u"云盘");
  EXPECT_EQ(records.back().payload, std::string("a\0b", 3));
  EXPECT_EQ(records.back().unix_ms, 1234567890123ull);
  EXPECT_EQ(records.back().level, 3);
  EXPECT_TRUE(buffer.Drain(100).empty());
  EXPECT_EQ(buffer.Append(r, 100), AppendResult::Ok);  // room again after draining

  std::string good = CMemBuffer::Encode(r);
  auto with = [&](size_t offset, uint32_t value) {
    std::string bad = good;
    std::memcpy(bad.data() + offset, &value, 4);
    return bad;
  };
  struct Bad { std::string bytes; size_t records; } bad[] = {
      {good.substr(0, 20), 0},                  // header cut short
      {good.substr(0, good.size() - 8), 0},     // record cut short
      {with(0, 12), 0},                         // size smaller than a header
      {with(0, 0xFFFFFFF8u), 0},                // size past the end
      {with(28, 0x7FFFFFFF), 0},                // payload larger than the record
      {with(4, 0x0009), 0},                     // unknown kind
      {good + with(0, 13), 1},                  // a good record, then an unaligned size
  };
  for (auto& b : bad) {
    size_t count = 0;
    EXPECT_EQ(CMemBuffer::Decode(b.bytes, &count).size(), b.records);
    EXPECT_EQ(count, b.bytes.size() < 32 ? 0u : 1u);
  }
}

TEST(MemWriter, RecordsReachTheFileInOrderWithPrefix) {
  ScratchFolder dir;
  std::u16string config = u"FileName=" + platform::JoinPath(dir.path, u"Test%m%d.txt") + u",LogFormat=%Y/%m/%d %H:%M:%S %03N %05P %05T";
  WriterRef w(CMemWriter::Open(1, platform::JoinPath(dir.path, u"module.dll"), u"Test", config));
  ASSERT_TRUE(w.w);
  EXPECT_EQ(w->Write(u"n", 0, "below the level"), 0);
  EXPECT_EQ(w->Write(u"n", 5, "no such level"), 0);
  EXPECT_EQ(w->Write(u"n", 2, "first\r\nline"), 1);

  constexpr int kThreads = 4, kEach = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) w->Write(u"n", 3, "t" + std::to_string(t) + " #" + std::to_string(i));
    });
  }
  for (auto& t : threads) t.join();
  std::vector<unsigned char> blob(6000);
  for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(w->Write2(blob.data(), blob.size(), 4, "blob"), 1);
  w->SetLevel(4);
  EXPECT_EQ(w->Write(u"n", 3, "now below"), 0);
  w->SetLevel(9);  // refused: the level stays
  EXPECT_EQ(w->Level(), 4);
  w->Flush();

  std::string text;
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(w->FilePath(), text), platform::kOk);
  auto lines = Lines(text);
  ASSERT_EQ(lines.size(), 1u + kThreads * kEach + 1u);
  // Only the prefix goes through the regex: the library's matcher recurses per
  // character and a 10,000-character line overflows a Windows thread's stack.
  std::regex prefix(R"(^\d{4}/\d\d/\d\d \d\d:\d\d:\d\d \d{3} \d{5,} \d{5,} \d )");
  for (auto& l : lines) ASSERT_TRUE(std::regex_search(l.substr(0, 64), prefix)) << l.substr(0, 64);
  EXPECT_NE(lines[0].find(" 2 first  line"), std::string::npos);  // one record, one line
  // Each thread's records keep their order.
  for (int t = 0; t < kThreads; ++t) {
    int next = 0;
    std::string tag = " t" + std::to_string(t) + " #";
    for (auto& l : lines) {
      auto at = l.find(tag);
      if (at == std::string::npos) continue;
      EXPECT_EQ(std::stoi(l.substr(at + tag.size())), next++);
    }
    EXPECT_EQ(next, kEach);
  }
  EXPECT_NE(lines.back().find(" 4 blob [5092 bytes] 000102"), std::string::npos);
  EXPECT_EQ(lines.back().size() - lines.back().find("] ") - 2, 5092u * 2);
}

TEST(MemWriter, RollsOverAtTheSizeLimit) {
  ScratchFolder dir;
  std::u16string config = u"FileName=" + platform::JoinPath(dir.path, u"Roll.txt") + u",FileSize=1";
  WriterRef w(CMemWriter::Open(0, u"", u"Roll", config));
  ASSERT_TRUE(w.w);
  std::string chunk(100000, 'x');
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(w->Write(u"n", 0, chunk), 1);
    if (i % 5 == 4) w->Flush();
  }
  w->Flush();
  std::vector<platform::DirEntry> entries;
  ASSERT_EQ(platform::SystemFileSystem().List(dir.path, entries), platform::kOk);
  uint64_t total = 0;
  for (auto& e : entries) {
    EXPECT_LE(e.size, (1u << 20) + 600000u) << platform::WideToUtf8(e.name);
    total += e.size;
  }
  EXPECT_GE(entries.size(), 3u);
  EXPECT_GT(total, 30u * 100000u);
}

TEST(MemWriter, LockHeldTooLongDropsTheRecord) {
  ScratchFolder dir;
  WriterRef w(CMemWriter::Open(0, u"", u"Slow", u"FileName=" + platform::JoinPath(dir.path, u"Slow.txt")));
  ASSERT_TRUE(w.w);
  std::string error;
  auto other = OpenRecordChannel(w->SectionName(), kSectionSize, &error);
  ASSERT_TRUE(other) << error;
  // The lock belongs to a thread (a Windows mutex does), so another one holds
  // it until the writer has given up, or until a cap far beyond the writer's
  // wait: a writer that waited for the lock shows as a holder at its cap.
  std::promise<void> held, writerDone;
  std::atomic<bool> heldToCap{false};
  std::jthread holder([&] {
    if (!other->Lock(1000)) return held.set_value();
    held.set_value();
    heldToCap = writerDone.get_future().wait_for(std::chrono::seconds(60)) != std::future_status::ready;
    other->Unlock();
  });
  ASSERT_EQ(held.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(w->Write(u"n", 0, "dropped"), 0);
  writerDone.set_value();
  holder.join();
  EXPECT_FALSE(heldToCap.load());
  EXPECT_EQ(w->Write(u"n", 0, "kept"), 1);
  w->Flush();
  std::string text;
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(w->FilePath(), text), platform::kOk);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_NE(text.find("kept"), std::string::npos);
}

TEST(ProcessLogger, TracesGoToTheNamedFile) {
  ScratchFolder dir;
  CMemWriter* w = OpenProcessLogger(platform::JoinPath(dir.path, u"xlog"));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(OpenProcessLogger(dir.path), w);  // once per process
  {
    VD_TRACE("CIVDShellFolder::_Login");
  }
  w->Flush();
  vd::trace::SetTraceSink(nullptr);
  std::string text;
  ASSERT_EQ(platform::SystemFileSystem().ReadFile(w->FilePath(), text), platform::kOk);
  EXPECT_NE(text.find("1|CIVDShellFolder::_Login|"), std::string::npos);
  EXPECT_NE(text.find("0|CIVDShellFolder::_Login|"), std::string::npos);
  std::u16string file = w->FilePath();
  EXPECT_NE(file.find(u"PandrelXlogger2 "), std::u16string::npos);
  EXPECT_EQ(file.substr(file.size() - 4), u".txt");
}

}  // namespace
}  // namespace XLOGGER
