#pragma once
// Small pieces both transfer engines, the dialog and the library's host use.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "login.h"
#include "platform/files.h"
#include "platform/text.h"

namespace vdtransfer {

// The user signed out: every transfer loop ends at its next step.
inline bool StopRequested() { return vd::SignedOutFlag().load() == 1; }

inline void SleepMs(std::uint32_t ms) {
  if (ms) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Size of a local file named in the ANSI code page; nothing for a folder or a missing file.
inline std::optional<std::uint64_t> LocalFileSize(const std::string& ansiPath) {
  return platform::SystemFileSystem().FileSize(platform::AnsiToWide(ansiPath));
}

}  // namespace vdtransfer
