#pragma once
// Starting programs: the desktop client, installers, test children.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"

namespace platform {

class Process {
 public:
  virtual ~Process() = default;
  // Starts `program` with `args`; `folder` empty keeps the current folder.
  static std::unique_ptr<Process> Launch(std::u16string_view program,
                                         const std::vector<std::u16string>& args,
                                         std::u16string_view folder = {}, Result* error = nullptr);
  // The exit code once the process has ended within `timeout_ms`, else nothing.
  virtual std::optional<int> Wait(uint32_t timeout_ms) = 0;
  virtual Result Terminate(int exit_code) = 0;
  virtual uint32_t Id() const = 0;
};

uint32_t CurrentProcessId();

}  // namespace platform
