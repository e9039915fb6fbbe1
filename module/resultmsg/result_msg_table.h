#pragma once
// Raw rows of the result-code message list: one UTF-8 text and the codes that
// map to it. Only CResultMsg reads these.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace vd::resultmsg_detail {

struct MsgRow {
    std::u8string_view text;
    std::span<const std::int32_t> codes;
};

extern const MsgRow kMsgRows[];
extern const std::size_t kMsgRowCount;

}  // namespace vd::resultmsg_detail
