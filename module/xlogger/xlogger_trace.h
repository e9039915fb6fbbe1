#pragma once
// The process logger: one named logger whose records are the scope traces
// of every method, opened once per process.
#include <string_view>

#include "mem_writer.h"

namespace XLOGGER {

inline constexpr std::u16string_view kProcessLoggerName = u"PandrelXlogger2";

// Opens `name` in `xlog_folder` (created when missing) with the named
// logger's configuration for the current local time; null on failure.
CMemWriter* OpenNamedLogger(std::u16string_view xlog_folder, std::u16string_view name, int level = 0);

// Opens the process logger once and routes scope traces to it; later calls
// return the same writer. Null when it could not be opened (tracing stays off).
CMemWriter* OpenProcessLogger(std::u16string_view xlog_folder);

}  // namespace XLOGGER
