#include "result_msg.h"

#include "result_msg_table.h"

namespace vd {

namespace {

std::string ToString(std::u8string_view text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace

CResultMsg& CResultMsg::GetInstance() {
    static CResultMsg instance;
    return instance;
}

// Operation codes (the cloud's positive codes) go in before the general codes
// (zero and the SDK's negative codes); an insert never replaces a key.
void CResultMsg::InsertGroup(bool operationCodes) {
    for (std::size_t r = 0; r < resultmsg_detail::kMsgRowCount; ++r) {
        const auto& row = resultmsg_detail::kMsgRows[r];
        for (std::int32_t code : row.codes) {
            if ((code > 0) == operationCodes) {
                m_msgs.emplace(KeyOf(code), row.text);
            }
        }
    }
}

void CResultMsg::Build() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_msgs.empty()) {
        return;
    }
    InsertGroup(true);
    InsertGroup(false);
}

std::string CResultMsg::GetMsg(std::int64_t code) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (code >= INT32_MIN && code <= INT32_MAX) {
        if (auto it = m_msgs.find(static_cast<std::int32_t>(code)); it != m_msgs.end()) {
            return ToString(it->second);
        }
    }
    if (auto it = m_msgs.find(KeyOf(code)); it != m_msgs.end()) {
        return ToString(it->second);
    }
    return ToString(kFallbackText);
}

std::string CResultMsg::GetMsg(std::int64_t code, const NarrowConverter& toNarrow) const {
    std::string utf8 = GetMsg(code);
    return toNarrow ? toNarrow(utf8) : utf8;
}

std::size_t CResultMsg::Size() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_msgs.size();
}

std::map<std::int32_t, std::string> CResultMsg::Snapshot() const {
    std::lock_guard<std::mutex> guard(m_lock);
    std::map<std::int32_t, std::string> copy;
    for (const auto& [key, text] : m_msgs) {
        copy.emplace(key, ToString(text));
    }
    return copy;
}

}  // namespace vd
