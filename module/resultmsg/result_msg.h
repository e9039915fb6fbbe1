#pragma once
// Process-wide table that turns a cloud result code into the message shown to
// the user. Texts are held as UTF-8; the product shows them in the ANSI code
// page, so callers that need narrow text pass their converter to GetMsg.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace vd {

class CResultMsg {
public:
    // Converts a UTF-8 message into whatever narrow encoding the caller shows.
    using NarrowConverter = std::function<std::string(std::string_view utf8)>;

    // Text for codes that stand in no row (and for lookups before Build).
    static constexpr std::u8string_view kFallbackText = u8"系统异常,请稍后重试";

    CResultMsg() = default;
    CResultMsg(const CResultMsg&) = delete;
    CResultMsg& operator=(const CResultMsg&) = delete;

    static CResultMsg& GetInstance();

    // Fills the table once; later calls return at once and change nothing.
    void Build();

    // UTF-8 text for a code: the code itself, then its key, then the fallback.
    std::string GetMsg(std::int64_t code) const;
    std::string GetMsg(std::int64_t code, const NarrowConverter& toNarrow) const;

    std::size_t Size() const;

    // Copy of the table in key order, for diagnostics and checks.
    std::map<std::int32_t, std::string> Snapshot() const;

    // Codes are kept by their remainder by 100000 with the sign kept, so
    // 204009405 and 9405 share the key 9405 and -10 stays -10.
    static std::int32_t KeyOf(std::int64_t code) { return static_cast<std::int32_t>(code % 100000); }

private:
    void InsertGroup(bool operationCodes);

    mutable std::mutex m_lock;
    std::map<std::int32_t, std::u8string_view> m_msgs;  // views into static literals
};

}  // namespace vd
