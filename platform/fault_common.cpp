#include "platform/fault.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<FaultReporter> g_reporter{nullptr};

}  // namespace

void SetFaultReporter(FaultReporter reporter) noexcept { g_reporter.store(reporter, std::memory_order_release); }

void ReportFault(const char* where, const char* what) noexcept {
  if (FaultReporter reporter = g_reporter.load(std::memory_order_acquire)) {
    reporter(where ? where : "", what ? what : "");
  }
}

}  // namespace platform
