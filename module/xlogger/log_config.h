#pragma once
// The diagnostic logger's configuration text ("FileName=...,LogFormat=...,
// BackupDays=10,FileSize=40") and the patterns it carries.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace XLOGGER {

struct LogConfig {
  std::u16string file_name = u"Log%m%d.txt";
  std::u16string log_format = u"%Y/%m/%d %H:%M:%S %03N %05P %05T";
  int backup_days = 10;
  int file_size_mb = 40;
};

// Pairs are separated by ",", key and value by the first "="; keys compare
// without regard to case; unknown keys are ignored; numbers that do not parse
// or are not positive keep the default. Nothing on an empty key.
std::optional<LogConfig> ParseLogConfig(std::u16string_view text);

// Local time of a record with its milliseconds.
struct Stamp {
  std::tm local{};
  int millis = 0;
  uint32_t pid = 0;
  uint32_t tid = 0;
};

// "%Y/%m/%d %H:%M:%S %03N %05P %05T": year, month, day, hour, minute, second,
// milliseconds, process id and thread id ("%0<w><X>" pads to w digits);
// "%%" is "%"; anything else is copied.
std::string FormatPrefix(std::u16string_view pattern, const Stamp& stamp);

// "%m" and "%d" become the two-digit month and day; nothing else changes.
std::u16string ExpandFileName(std::u16string_view pattern, const std::tm& local);

// The configuration of a named logger opened at `local`:
// "FileName=<folder><name> <month><day><hour><minute>.txt,LogFormat=...,BackupDays=10,FileSize=40".
std::u16string NamedLoggerConfig(std::u16string_view folder, std::u16string_view name, const std::tm& local);
std::u16string DefaultLoggerConfig();

}  // namespace XLOGGER
