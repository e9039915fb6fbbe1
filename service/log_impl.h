#pragma once
// The library's own lines, written without touching the caller's pending
// Begin..End fields.
#include "service/log.h"

namespace vd::service {

void WriteLogLine(int level, const char* file, int line, const char* function, const char* format, ...)
    __attribute__((format(printf, 5, 6)));

}  // namespace vd::service

#define VD_SERVICE_LOG(level, ...) ::vd::service::WriteLogLine(level, __FILE__, __LINE__, __func__, __VA_ARGS__)
