#pragma once
// Helpers every fuzz target shares: a finding is an abort the fuzzer records,
// and readers get their bytes in a heap block of exactly the input's size so
// that any read past the end is reported by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace fuzz {

// A broken invariant is a finding: stop with a crash the fuzzer records.
inline void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The input copied to a block of exactly its size. libFuzzer's own buffer is
// already exact, but slices taken from it are not: each reader gets its own.
class HeapBytes {
public:
    HeapBytes(const void* data, std::size_t size)
        : m_bytes(std::make_unique<char[]>(size == 0 ? 1 : size)), m_size(size) {
        if (size != 0) {
            std::memcpy(m_bytes.get(), data, size);
        }
    }
    explicit HeapBytes(std::string_view text) : HeapBytes(text.data(), text.size()) {}
    std::string_view view() const { return {m_bytes.get(), m_size}; }

private:
    std::unique_ptr<char[]> m_bytes;
    std::size_t m_size;
};

// UTF-16 text in an exactly sized block, from little-endian byte pairs (an odd
// last byte is dropped).
class HeapText {
public:
    HeapText(const std::uint8_t* data, std::size_t size)
        : m_units(std::make_unique<char16_t[]>(size / 2 == 0 ? 1 : size / 2)), m_size(size / 2) {
        for (std::size_t i = 0; i < m_size; ++i) {
            m_units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
        }
    }
    std::u16string_view view() const { return {m_units.get(), m_size}; }

private:
    std::unique_ptr<char16_t[]> m_units;
    std::size_t m_size;
};

inline bool Contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

inline bool Contains(std::u16string_view haystack, std::u16string_view needle) {
    return haystack.find(needle) != std::u16string_view::npos;
}

}  // namespace fuzz
