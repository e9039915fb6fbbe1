#pragma once
// Shared set-up of the identifier fuzzers: bytes that pass validation are
// moved into a heap block of exactly the validated size, so any read past the
// terminator lands outside the block and is reported.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "pidl.h"

namespace fuzz {

struct ValidatedList {
    std::unique_ptr<std::uint8_t[]> bytes;
    vd::PidlCheck check;
    const std::uint8_t* get() const { return bytes.get(); }
    std::uint8_t* get() { return bytes.get(); }
};

inline bool Validate(const std::uint8_t* data, std::size_t size, ValidatedList& out) {
    out.check = vd::ValidateList(data, size);
    if (!out.check.ok) {
        return false;
    }
    out.bytes = std::make_unique<std::uint8_t[]>(out.check.bytes);
    std::memcpy(out.bytes.get(), data, out.check.bytes);
    return true;
}

inline bool Terminated(const char16_t* buffer, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (buffer[i] == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace fuzz
