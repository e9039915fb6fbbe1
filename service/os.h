#pragma once
// The little the service library needs from the operating system.
#include <cstdint>
#include <ctime>
#include <string>

namespace vd::service {

uint32_t ProcessId();
uint32_t ThreadId();
std::tm LocalTime(std::time_t t);
// SQLite takes UTF-8 file names; callers hand over paths in the ANSI code page.
std::string PathForSqlite(const std::string& ansiPath);
// Ends every process but this one whose executable file name is exeName.
int KillProcessesNamed(const std::string& exeName);

}  // namespace vd::service
