// One contract, two implementations: this file runs natively against the
// POSIX layer and under Wine against the Win32 one.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/fault.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"

namespace platform {
namespace {

std::u16string Unique(std::u16string_view prefix) {
  static std::atomic<int> n{0};
  return std::u16string(prefix) + Utf8ToWide(std::to_string(CurrentProcessId()) + "_" + std::to_string(n++));
}

std::u16string ChildPath() {
  std::u16string exe = ExecutablePath();
  auto cut = exe.find_last_of(u"\\/");
  std::u16string dir = exe.substr(0, cut);
  return JoinPath(dir, PathSeparator() == u'\\' ? u"platform_child.exe" : u"platform_child");
}

template <typename Pred>
bool WaitFor(Pred pred, uint32_t ms = 15000) {
  uint64_t deadline = TickCountMs() + ms;
  while (TickCountMs() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return pred();
}

class ScratchFolder {
 public:
  ScratchFolder() {
    auto temp = SystemFileSystem().GetKnownFolder(KnownFolder::Temp);
    path_ = JoinPath(temp.value_or(u"."), Unique(u"vdplat_"));
    EXPECT_EQ(SystemFileSystem().CreateDirectories(path_), kOk);
  }
  ~ScratchFolder() { SystemFileSystem().RemoveTree(path_); }
  const std::u16string& path() const { return path_; }
  std::u16string operator/(std::u16string_view name) const { return JoinPath(path_, name); }

 private:
  std::u16string path_;
};

TEST(Text, Conversions) {
  // The product's home systems run with code page 936; the Wine prefix of
  // the tests does too, natively the "ANSI" side is UTF-8.
  if (PathSeparator() == u'\\') {
    EXPECT_EQ(AnsiCodePage(), 936u);
    EXPECT_EQ(WideToAnsi(u"云盘"), std::string("\xd4\xc6\xc5\xcc"));
  } else {
    EXPECT_EQ(AnsiCodePage(), 65001u);
  }
  const std::u16string samples[] = {u"", u"Veyra云盘", u"收到的分享", u"a\\b/c d.txt", u"\U0001F600 emoji"};
  for (auto& s : samples) {
    EXPECT_EQ(Utf8ToWide(WideToUtf8(s)), s);
  }
  EXPECT_EQ(AnsiToWide(WideToAnsi(u"Veyra云盘")), u"Veyra云盘");

  struct Bad { std::string in; std::u16string out; } bad[] = {
      {"\xff", u"\uFFFD"},                 // not a lead byte
      {"a\xe4\xb8", u"a\uFFFD\uFFFD"},     // truncated sequence
      {"\xc0\xaf", u"\uFFFD\uFFFD"},       // overlong "/"
      {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
  };
  for (auto& b : bad) EXPECT_EQ(Utf8ToUtf16(b.in), b.out) << b.in.size();
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
  EXPECT_TRUE(EqualsNoCase(u"EXPLORER.EXE", u"explorer.exe"));
  EXPECT_FALSE(EqualsNoCase(u"explorer.ex", u"explorer.exe"));
}

TEST(Registry, RawStringBytesComeBackAsStored) {
  IRegistry& reg = SystemRegistry();
  const std::u16string key = u"Software\\VDPlatformTest\\" + Unique(u"raw");
  const auto root = RegRoot::CurrentUser;
  struct Case {
    const char* what;
    std::string bytes;
    std::u16string text;
    bool mayGainTerminator;  // Wine's registry adds the zero an even-sized string lacks
  };
  const Case cases[] = {
      {"terminated", std::string("a\0b\0\0\0", 6), u"ab", false},
      {"unterminated", std::string("a\0b\0", 4), u"ab", true},
      {"odd byte count", std::string("a\0b\0c", 5), u"ab", false},
      {"NUL inside", std::string("a\0\0\0b\0\0\0", 8), u"a", false},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(reg.SetRawString(root, key, u"v", c.bytes), kOk) << c.what;
    auto v = reg.GetValue(root, key, u"v");
    ASSERT_TRUE(v.has_value()) << c.what;
    const bool same = v->raw == c.bytes || (c.mayGainTerminator && v->raw == c.bytes + std::string(2, '\0'));
    EXPECT_TRUE(same) << c.what << ": " << v->raw.size() << " bytes";
    EXPECT_EQ(v->text, c.text) << c.what;
  }
  ASSERT_EQ(reg.SetString(root, key, u"v", u"云"), kOk);
  EXPECT_EQ(reg.GetValue(root, key, u"v")->raw, std::string("\x91\x4e\0\0", 4));
  EXPECT_EQ(reg.DeleteTree(root, key), kOk);
}

TEST(Registry, ValuesKeysAndMissingParts) {
  IRegistry& reg = SystemRegistry();
  const std::u16string key = u"Software\\VDPlatformTest\\" + Unique(u"k");
  const auto root = RegRoot::CurrentUser;

  EXPECT_FALSE(reg.KeyExists(root, key));
  EXPECT_FALSE(reg.GetValue(root, key, u"RCSLoginInfo").has_value());

  ASSERT_EQ(reg.SetString(root, key, u"RCSLoginInfo", u"user;token;op"), kOk);
  ASSERT_EQ(reg.SetDword(root, key + u"\\ShellFolder", u"Attributes", 0xF8800100u), kOk);
  ASSERT_EQ(reg.SetString(root, key, u"", u"默认值"), kOk);

  EXPECT_TRUE(reg.KeyExists(root, key));
  // Key paths are case-insensitive.
  EXPECT_EQ(reg.GetString(root, ToUpperAscii(key), u"rcslogininfo"), u"user;token;op");
  EXPECT_EQ(reg.GetString(root, key, u""), u"默认值");
  EXPECT_EQ(reg.GetDword(root, key + u"\\ShellFolder", u"Attributes"), 0xF8800100u);
  // A value read as the wrong type is absent, not misread.
  EXPECT_FALSE(reg.GetDword(root, key, u"RCSLoginInfo").has_value());
  EXPECT_FALSE(reg.GetString(root, key + u"\\ShellFolder", u"Attributes").has_value());
  EXPECT_FALSE(reg.GetValue(root, key, u"Missing").has_value());
  EXPECT_FALSE(reg.GetValue(root, key + u"\\Nope", u"").has_value());

  auto subkeys = reg.SubKeys(root, key);
  ASSERT_EQ(subkeys.size(), 1u);
  EXPECT_TRUE(EqualsNoCase(subkeys[0], u"ShellFolder"));
  EXPECT_EQ(reg.ValueNames(root, key).size(), 2u);

  EXPECT_EQ(reg.DeleteKeyIfEmpty(root, key), kDirNotEmpty);
  EXPECT_EQ(reg.DeleteValue(root, key, u"Missing"), kNotFound);
  EXPECT_EQ(reg.DeleteValue(root, key, u"RCSLoginInfo"), kOk);
  EXPECT_FALSE(reg.GetValue(root, key, u"RCSLoginInfo").has_value());
  EXPECT_EQ(reg.DeleteTree(root, key), kOk);
  EXPECT_FALSE(reg.KeyExists(root, key));
  EXPECT_EQ(reg.DeleteTree(root, key), kNotFound);
  EXPECT_EQ(reg.DeleteKeyIfEmpty(root, key), kNotFound);
  EXPECT_EQ(reg.CreateKey(root, key + u"\\Empty"), kOk);
  EXPECT_EQ(reg.DeleteKeyIfEmpty(root, key + u"\\Empty"), kOk);
  EXPECT_EQ(reg.DeleteKeyIfEmpty(root, key), kOk);
  EXPECT_TRUE(reg.KeyExists(root, u"Software"));
  reg.DeleteKeyIfEmpty(root, u"Software\\VDPlatformTest");
}

TEST(Profile, DefaultsAndWrites) {
  ScratchFolder dir;
  IProfile& ini = SystemProfile();
  const std::u16string missing = dir / u"missing.ini";
  const std::u16string config = dir / u"Config.ini";

  EXPECT_EQ(ini.GetInt(missing, u"All", u"LogLevel", 2), 2);
  EXPECT_EQ(ini.GetString(missing, u"Pandrel", u"IsPreCache", u"", 1024), u"");

  std::string text =
      "[All]\r\nLogLevel=4\r\nSigned=-7\r\nTrailing=12abc\r\nWord=abc\r\nSpaced =  5 \r\n"
      "[Pandrel]\r\nIsPreCache=1\r\nLong=0123456789\r\n";
  ASSERT_EQ(SystemFileSystem().WriteFileAtomic(config, text), kOk);

  struct IntCase { const char16_t* section; const char16_t* key; int fallback; int want; } ints[] = {
      {u"All", u"LogLevel", 2, 4},   {u"all", u"LOGLEVEL", 2, 4},  {u"All", u"Signed", 0, -7},
      {u"All", u"Trailing", 0, 12},  {u"All", u"Word", 9, 0},      {u"All", u"Spaced", 0, 5},
      {u"All", u"Absent", 2, 2},     {u"Nope", u"LogLevel", 2, 2}, {u"Pandrel", u"LogLevel", 3, 3},
  };
  for (auto& c : ints) {
    EXPECT_EQ(ini.GetInt(config, c.section, c.key, c.fallback), c.want)
        << WideToUtf8(c.section) << "/" << WideToUtf8(c.key);
  }
  EXPECT_EQ(ini.GetString(config, u"Pandrel", u"IsPreCache", u"", 1024), u"1");
  EXPECT_EQ(ini.GetString(config, u"Pandrel", u"Long", u"", 5), u"0123");
  EXPECT_EQ(ini.GetString(config, u"Pandrel", u"Absent", u"fallback", 260), u"fallback");

  const std::u16string account = dir / u"NimbraSet.ini";
  ASSERT_EQ(ini.WriteString(account, u"Pandrel", u"NewFunctionMsg", u"0"), kOk);
  ASSERT_EQ(ini.WriteString(account, u"Pandrel", u"NewFunctionSafeBox", u"1"), kOk);
  ASSERT_EQ(ini.WriteString(account, u"Other", u"名字", u"云盘"), kOk);
  ASSERT_EQ(ini.WriteString(account, u"Pandrel", u"NewFunctionMsg", u"7"), kOk);
  EXPECT_EQ(ini.GetInt(account, u"Pandrel", u"NewFunctionMsg", 1), 7);
  EXPECT_EQ(ini.GetInt(account, u"Pandrel", u"NewFunctionSafeBox", 0), 1);
  EXPECT_EQ(ini.GetString(account, u"Other", u"名字", u"", 64), u"云盘");
}

TEST(Files, CreateWriteReadListRemove) {
  ScratchFolder dir;
  IFileSystem& fs = SystemFileSystem();
  const std::u16string deep = dir / u"a";
  const std::u16string deeper = JoinPath(JoinPath(deep, u"云盘"), u"c");
  ASSERT_EQ(fs.CreateDirectories(deeper), kOk);
  EXPECT_EQ(fs.CreateDirectories(deeper), kOk);
  EXPECT_TRUE(fs.IsDirectory(deeper));

  const std::u16string file = JoinPath(deeper, u"文件.bin");
  std::string bytes(70000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  ASSERT_EQ(fs.WriteFileAtomic(file, bytes), kOk);
  EXPECT_EQ(fs.FileSize(file), bytes.size());
  std::string back;
  ASSERT_EQ(fs.ReadFile(file, back), kOk);
  EXPECT_EQ(back, bytes);
  ASSERT_EQ(fs.WriteFileAtomic(file, "short"), kOk);
  ASSERT_EQ(fs.ReadFile(file, back), kOk);
  EXPECT_EQ(back, "short");

  std::vector<DirEntry> entries;
  ASSERT_EQ(fs.List(deeper, entries), kOk);
  ASSERT_EQ(entries.size(), 1u);  // no temporary file left behind
  EXPECT_EQ(entries[0].name, u"文件.bin");
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_EQ(entries[0].size, 5u);
  // Written moments ago, by a clock that agrees with the file system's.
  EXPECT_LT(std::llabs(entries[0].modified_unix - static_cast<long long>(std::time(nullptr))), 120);
  EXPECT_FALSE(entries[0].hidden_or_system);
  const std::optional<DirEntry> one = fs.Stat(file);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(one->name, u"文件.bin");
  EXPECT_EQ(one->size, 5u);
  EXPECT_FALSE(one->is_directory);
  EXPECT_EQ(one->modified_unix, entries[0].modified_unix);
  ASSERT_TRUE(fs.Stat(deeper).has_value());
  EXPECT_TRUE(fs.Stat(deeper)->is_directory);
  EXPECT_FALSE(fs.Stat(JoinPath(deeper, u"missing")).has_value());

  const std::u16string appended = JoinPath(deeper, u"log.txt");
  ASSERT_EQ(fs.AppendFile(appended, "one\r\n"), kOk);
  ASSERT_EQ(fs.AppendFile(appended, "two\r\n"), kOk);
  ASSERT_EQ(fs.ReadFile(appended, back), kOk);
  EXPECT_EQ(back, "one\r\ntwo\r\n");
  ASSERT_EQ(fs.RemoveFile(appended), kOk);

  const std::u16string moved = JoinPath(deep, u"moved.bin");
  ASSERT_EQ(fs.Rename(file, moved), kOk);
  EXPECT_FALSE(fs.Exists(file));
  EXPECT_TRUE(fs.Exists(moved));

  EXPECT_EQ(fs.ReadFile(dir / u"none", back), kNotFound);
  EXPECT_FALSE(fs.FileSize(dir / u"none").has_value());
  EXPECT_FALSE(fs.FileSize(deep).has_value());
  // A file standing where a folder should go is an error, not success.
  EXPECT_NE(fs.CreateDirectories(moved), kOk);

  ASSERT_EQ(fs.RemoveTree(deep), kOk);
  EXPECT_FALSE(fs.Exists(deep));
  EXPECT_TRUE(fs.GetKnownFolder(KnownFolder::Documents).has_value());
}

// A transfer's file: written at offsets in any order, read back byte for
// byte, cut and grown; a Chinese name in the code page; what cannot be
// opened says why.
TEST(Files, LocalFileReadsAndWritesAtOffsets) {
  ScratchFolder dir;
  const std::string path = WideToAnsi(dir / u"下载.part");
  std::string bytes(200000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 3);
  {
    Result error = kGenFailure;
    auto file = LocalFile::Open(path, LocalFile::Mode::Write, 128, &error);
    ASSERT_TRUE(file) << error;
    EXPECT_EQ(error, kOk);
    // The second half first, as a resumed download may write it.
    ASSERT_TRUE(file->WriteAt(100000, bytes.data() + 100000, 100000));
    ASSERT_TRUE(file->WriteAt(0, bytes.data(), 100000));
    EXPECT_TRUE(file->WriteAt(5, "", 0));
  }
  EXPECT_EQ(SystemFileSystem().FileSize(dir / u"下载.part"), bytes.size());

  auto reader = LocalFile::Open(path, LocalFile::Mode::Read, 128);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->Size(), bytes.size());
  std::string back(bytes.size(), '\0');
  uint64_t at = 0;
  while (at < back.size()) {
    const int64_t n = reader->ReadAt(at, back.data() + at, static_cast<uint32_t>(std::min<uint64_t>(65536, back.size() - at)));
    ASSERT_GT(n, 0) << "at " << at;
    at += static_cast<uint64_t>(n);
  }
  EXPECT_EQ(back, bytes);
  char tail[16];
  EXPECT_EQ(reader->ReadAt(bytes.size(), tail, sizeof tail), 0) << "the end reads as 0";
  EXPECT_EQ(reader->ReadAt(bytes.size() + 1000, tail, sizeof tail), 0);
  EXPECT_EQ(reader->ReadAt(bytes.size() - 3, tail, sizeof tail), 3) << "a read across the end stops there";
  EXPECT_FALSE(reader->WriteAt(0, "x", 1)) << "a read-mode file takes no writes";
  // Others may read while it is open for reading.
  EXPECT_TRUE(LocalFile::Open(path, LocalFile::Mode::Read, 128));
  reader.reset();

  {
    auto file = LocalFile::Open(path, LocalFile::Mode::Write, 128);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->Truncate(10));
    ASSERT_TRUE(file->Truncate(20));  // grows with zeros
    EXPECT_EQ(file->Size(), 20u);
  }
  std::string cut;
  ASSERT_EQ(SystemFileSystem().ReadFile(dir / u"下载.part", cut), kOk);
  EXPECT_EQ(cut, bytes.substr(0, 10) + std::string(10, '\0'));

  struct Bad {
    const char* what;
    std::string path;
    LocalFile::Mode mode;
    Result error;
  } bad[] = {
      {"missing file to read", WideToAnsi(dir / u"none"), LocalFile::Mode::Read, kNotFound},
      {"missing folder to write in", WideToAnsi(JoinPath(dir / u"none", u"x")), LocalFile::Mode::Write,
       kPathNotFound},
      {"a folder", WideToAnsi(dir.path()), LocalFile::Mode::Read, kAccessDenied},
      {"a NUL inside", path + std::string(1, '\0') + "x", LocalFile::Mode::Read, kInvalidParameter},
  };
  for (const Bad& b : bad) {
    Result error = kOk;
    EXPECT_EQ(LocalFile::Open(b.path, b.mode, 128, &error), nullptr) << b.what;
    if (b.error == kPathNotFound) {
      EXPECT_TRUE(error == kPathNotFound || error == kNotFound) << b.what << ": " << error;
    } else {
      EXPECT_EQ(error, b.error) << b.what;
    }
  }
}

TEST(NamedMutex, SeenInProcessAndFromAnotherProcess) {
  const std::u16string name = Unique(u"VDTestMutex_");
  EXPECT_FALSE(NamedMutex::Exists(name));
  {
    auto held = NamedMutex::Create(name);
    ASSERT_TRUE(held);
    EXPECT_TRUE(NamedMutex::Exists(name));
  }
  EXPECT_FALSE(NamedMutex::Exists(name));

  // Held by a child; gone once the child ends without releasing it.
  auto child = Process::Launch(ChildPath(), {u"hold-mutex", name, u"1500"});
  ASSERT_TRUE(child);
  EXPECT_TRUE(WaitFor([&] { return NamedMutex::Exists(name); }));
  EXPECT_EQ(child->Wait(30000), 0);
  EXPECT_FALSE(NamedMutex::Exists(name));

  auto killed = Process::Launch(ChildPath(), {u"hold-mutex", name, u"60000"});
  ASSERT_TRUE(killed);
  EXPECT_TRUE(WaitFor([&] { return NamedMutex::Exists(name); }));
  ASSERT_EQ(killed->Terminate(9), kOk);
  killed->Wait(30000);
  EXPECT_TRUE(WaitFor([&] { return !NamedMutex::Exists(name); }));
}

TEST(NamedEvent, SetWaitTimeoutAndSharing) {
  auto manual = NamedEvent::Create(u"", true, false);
  ASSERT_TRUE(manual);
  EXPECT_EQ(manual->Wait(20), WaitResult::Timeout);
  manual->Set();
  EXPECT_EQ(manual->Wait(0), WaitResult::Signaled);
  EXPECT_EQ(manual->Wait(0), WaitResult::Signaled);  // stays set
  manual->Reset();
  EXPECT_EQ(manual->Wait(0), WaitResult::Timeout);

  auto automatic = NamedEvent::Create(u"", false, true);
  EXPECT_EQ(automatic->Wait(0), WaitResult::Signaled);
  EXPECT_EQ(automatic->Wait(0), WaitResult::Timeout);  // consumed by one wait

  // Two opens of one name are one event.
  const std::u16string name = Unique(u"VDTestEvent_");
  Result first = kGenFailure, second = kGenFailure;
  auto a = NamedEvent::Create(name, false, false, &first);
  auto b = NamedEvent::Create(name, false, false, &second);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(first, kOk);
  EXPECT_EQ(second, kAlreadyExists);
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    b->Set();
  });
  EXPECT_EQ(a->Wait(30000), WaitResult::Signaled);
  setter.join();
}

TEST(CopyData, DeliveredWithCodeAndBytes) {
  const std::u16string name = Unique(u"VD_TEST_WND_");
  std::atomic<int> calls{0};
  std::string last;
  uint64_t last_code = 0;
  auto window = MessageWindow::Create(name, [&](uint64_t code, std::string_view bytes) -> intptr_t {
    last_code = code;
    last.assign(bytes);
    ++calls;
    return static_cast<intptr_t>(bytes.size()) * 10 + 7;
  });
  ASSERT_TRUE(window);
  EXPECT_TRUE(WindowExists(name));
  Result dup = kOk;
  EXPECT_FALSE(MessageWindow::Create(name, [](uint64_t, std::string_view) -> intptr_t { return 0; }, &dup));

  // A UTF-16 record with its terminator, as the desktop client sends them.
  std::u16string text = u"00019700101000000001";
  std::string payload(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
  struct Case { uint64_t code; std::string bytes; } cases[] = {
      {17, payload}, {401, ""}, {410, std::string("\0\x01\xff", 3)}, {500, std::string(100000, 'x')}};
  for (auto& c : cases) {
    intptr_t reply = -1;
    ASSERT_EQ(SendCopyData(name, c.code, c.bytes, 5000, &reply), kOk);
    EXPECT_EQ(reply, static_cast<intptr_t>(c.bytes.size()) * 10 + 7);
    EXPECT_EQ(last_code, c.code);
    EXPECT_EQ(last, c.bytes);
  }
  EXPECT_EQ(calls, 4);

  EXPECT_EQ(SendCopyData(Unique(u"VD_NO_SUCH_WINDOW_"), 1, "x", 1000), kNoWindow);
  EXPECT_FALSE(WindowExists(Unique(u"VD_NO_SUCH_WINDOW_")));
}

TEST(CopyData, SlowReceiverTimesOut) {
  const std::u16string name = Unique(u"VD_SLOW_WND_");
  // The receiver finishes only when the sender has its answer, or at a cap
  // far beyond the sender's timeout: a sender that waited for the receiver
  // shows as a receiver that ran into its cap.
  auto released = NamedEvent::Create(u"", true, false);
  std::atomic<bool> ranIntoCap{false};
  auto window = MessageWindow::Create(name, [&](uint64_t code, std::string_view) -> intptr_t {
    if (code == 21 && released->Wait(60000) != WaitResult::Signaled) ranIntoCap = true;
    return 1;
  });
  ASSERT_TRUE(window);
  EXPECT_EQ(SendCopyData(name, 21, "", 200), kTimeout);
  released->Set();
  // The window serves the next record once the slow one has ended.
  intptr_t reply = 0;
  EXPECT_EQ(SendCopyData(name, 22, "", 30000, &reply), kOk);
  EXPECT_EQ(reply, 1);
  EXPECT_FALSE(ranIntoCap.load());
}

TEST(CopyData, AHandlerThatThrowsAnswersZeroAndTheWindowServesOn) {
  const std::u16string name = Unique(u"VD_THROWING_WND_");
  static std::atomic<int> faults{0};
  SetFaultReporter([](const char*, const char*) noexcept { ++faults; });
  auto window = MessageWindow::Create(name, [](uint64_t code, std::string_view) -> intptr_t {
    if (code == 1) throw std::runtime_error("handler bug");
    return 7;
  });
  ASSERT_TRUE(window);
  intptr_t reply = -1;
  EXPECT_EQ(SendCopyData(name, 1, "x", 5000, &reply), kOk);
  EXPECT_EQ(reply, 0);
  EXPECT_EQ(SendCopyData(name, 2, "x", 5000, &reply), kOk);
  EXPECT_EQ(reply, 7);
  EXPECT_EQ(faults.load(), 1);
  SetFaultReporter(nullptr);
}

TEST(CopyData, AcrossProcesses) {
  const std::u16string name = Unique(u"VD_CHILD_WND_");
  auto child = Process::Launch(ChildPath(), {u"window", name});
  ASSERT_TRUE(child);
  ASSERT_TRUE(WaitFor([&] { return WindowExists(name); }));
  std::string bytes = "ORLO\xd4\xc6";
  intptr_t sum = 0;
  for (unsigned char c : bytes) sum += c;
  intptr_t reply = 0;
  ASSERT_EQ(SendCopyData(name, 405, bytes, 5000, &reply), kOk);
  EXPECT_EQ(reply, 405 + 1000 * static_cast<intptr_t>(bytes.size()) + sum);
  ASSERT_EQ(SendCopyData(name, 21, "", 5000, &reply), kOk);
  EXPECT_EQ(reply, 21);
  ASSERT_EQ(SendCopyData(name, 0xDEAD, "", 5000, &reply), kOk);
  EXPECT_EQ(child->Wait(30000), 12);  // 10 + two records received
}

TEST(ProcessLaunch, ExitCodesAndTimeouts) {
  struct Case { const char16_t* code; int want; } cases[] = {{u"0", 0}, {u"42", 42}, {u"7", 7}};
  for (auto& c : cases) {
    auto p = Process::Launch(ChildPath(), {u"exit", c.code});
    ASSERT_TRUE(p);
    EXPECT_EQ(p->Wait(30000), c.want);
  }
  auto sleeper = Process::Launch(ChildPath(), {u"sleep", u"60000"});
  ASSERT_TRUE(sleeper);
  EXPECT_FALSE(sleeper->Wait(50).has_value());
  EXPECT_EQ(sleeper->Terminate(3), kOk);
  EXPECT_TRUE(sleeper->Wait(30000).has_value());

  Result error = kOk;
  EXPECT_FALSE(Process::Launch(ChildPath() + u"_missing", {}, {}, &error));
  EXPECT_NE(error, kOk);
}

TEST(Clock, TimersFireAndStop) {
  auto queue = TimerQueue::Create();
  // A witness timer with the same period: once it has fired five more times,
  // a timer that should be silent had five chances to fire too.
  auto witnessed = [&queue](int ticks) {
    std::atomic<int> seen{0};
    auto witness = queue->Start(10, 10, [&] { ++seen; });
    return witness && WaitFor([&] { return seen >= ticks; });
  };
  std::atomic<int> fired{0};
  auto timer = queue->Start(10, 10, [&] { ++fired; });
  ASSERT_TRUE(timer);
  EXPECT_TRUE(WaitFor([&] { return fired >= 3; }));
  timer.reset();  // waits for a running callback
  int after = fired;
  ASSERT_TRUE(witnessed(5));
  EXPECT_EQ(fired, after);

  std::atomic<int> once{0};
  auto single = queue->Start(5, 0, [&] { ++once; });
  EXPECT_TRUE(WaitFor([&] { return once == 1; }));
  ASSERT_TRUE(witnessed(5));
  EXPECT_EQ(once, 1);

  // A callback that throws is caught on the timer's thread; the timer goes on.
  std::atomic<int> throws{0};
  auto throwing = queue->Start(5, 5, [&] {
    ++throws;
    throw std::runtime_error("callback bug");
  });
  EXPECT_TRUE(WaitFor([&] { return throws >= 3; }));
  throwing.reset();

  // Wall clock and local time agree with the C library's.
  int64_t now_ms = UnixTimeMs();
  EXPECT_LT(std::llabs(now_ms / 1000 - static_cast<long long>(std::time(nullptr))), 5);
  std::tm local = LocalTime(86400 * 365);
  EXPECT_GE(local.tm_year, 70);
  EXPECT_LE(local.tm_year, 71);

  uint64_t cpu0 = ThreadCpuTime100ns();
  uint64_t t0 = TickCountMs();
  volatile uint64_t sink = 0;
  while (TickCountMs() - t0 < 60) sink = sink + 1;
  EXPECT_GT(ThreadCpuTime100ns(), cpu0);
  EXPECT_GE(ProcessorCount(), 1u);
}

}  // namespace
}  // namespace platform
