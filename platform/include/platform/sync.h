#pragma once
// Named kernel objects: the desktop client's sign-in mutex and events shared
// between threads (and, on Windows, processes).
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace platform {

// A named mutex that is "there" while any process holds it open. The product
// only asks whether the desktop client's mutex exists; the client creates it.
class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  // Creates or opens the mutex and keeps it open until destroyed.
  static std::unique_ptr<NamedMutex> Create(std::u16string_view name, Result* error = nullptr);
  // True when some process (this one included) holds the mutex open.
  static bool Exists(std::u16string_view name);
};

enum class WaitResult { Signaled, Timeout, Failed };

class NamedEvent {
 public:
  virtual ~NamedEvent() = default;
  // Creates the event or opens the one of that name; an empty name makes an
  // unnamed event.
  static std::unique_ptr<NamedEvent> Create(std::u16string_view name, bool manual_reset,
                                            bool initially_set, Result* error = nullptr);
  virtual Result Set() = 0;
  virtual Result Reset() = 0;
  virtual WaitResult Wait(uint32_t timeout_ms) = 0;
};

inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

}  // namespace platform
