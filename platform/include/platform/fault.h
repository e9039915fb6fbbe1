#pragma once
// The one catch-all for every entry that a thread we do not own calls into:
// window procedures, timers, pool jobs, SDK callbacks, receivers. Inside a
// host such as Explorer an escaped exception ends the user's desktop, so
// nothing leaves these entries; what was caught goes to the fault reporter
// (the log, once the module has one).
#include <exception>
#include <new>

namespace platform {

// Called on the faulting thread; must not throw.
using FaultReporter = void (*)(const char* where, const char* what) noexcept;

void SetFaultReporter(FaultReporter reporter) noexcept;
void ReportFault(const char* where, const char* what) noexcept;

// Runs body; true when it returned, false when it threw (and was reported).
template <class F>
bool NoThrow(const char* where, F&& body) noexcept {
  try {
    body();
    return true;
  } catch (const std::bad_alloc&) {
    ReportFault(where, "out of memory");
  } catch (const std::exception& e) {
    ReportFault(where, e.what());
  } catch (...) {
    ReportFault(where, "unknown exception");
  }
  return false;
}

}  // namespace platform
