#include "nimbra_messages.h"

#include <charconv>

#include "platform/message_channel.h"

namespace vd {
namespace {

enum class Layout { None, Wide, Narrow };

struct Rule {
    std::uint64_t code;
    Layout layout;
};

constexpr Rule kRules[] = {
    {SHELL_PRXOY_CHANGE, Layout::None},     {SHELL_REFRESH_TOKEN, Layout::None},
    {REFRESH_NIMBRA_OP_TOKEN, Layout::None}, {SHELL_SYNC_STATES, Layout::Wide},
    {SHELL_CATALOG_CHANGED, Layout::Narrow}, {SHELL_PAGE_CHANGED, Layout::Narrow},
    {SHELL_SHARES_ACCEPTED, Layout::Narrow}, {SHELL_SHARE_USERS_LOADED, Layout::None},
    {SHELL_SIGNED_OUT, Layout::None},
};

// Catalog IDs are 32 characters; anything much longer is not one.
constexpr std::size_t kMaxCatalogIdBytes = 255;

RecordDrop DropOf(platform::RecordTextError error) {
    switch (error) {
        case platform::RecordTextError::None: return RecordDrop::None;
        case platform::RecordTextError::OddLength: return RecordDrop::OddLength;
        case platform::RecordTextError::MissingTerminator: return RecordDrop::MissingTerminator;
        case platform::RecordTextError::EmbeddedNul: return RecordDrop::EmbeddedNul;
        case platform::RecordTextError::TooLong: return RecordDrop::BadField;
    }
    return RecordDrop::BadField;
}

RecordDrop DecodeWide(std::string_view payload, std::u16string* out) {
    if (payload.empty()) {
        return RecordDrop::MissingPayload;
    }
    return DropOf(platform::DecodeWideRecordText(payload, kMaxViewRecordBytes / 2, out));
}

RecordDrop DecodeNarrow(std::string_view payload, std::string* out) {
    if (payload.empty() || payload == std::string_view("\0", 1)) {
        return RecordDrop::MissingPayload;
    }
    return DropOf(platform::DecodeNarrowRecordText(payload, kMaxCatalogIdBytes, out));
}

bool ParseNumber(std::u16string_view field, bool nullAllowed, std::int64_t* out) {
    if (nullAllowed && field == u"NULL") {
        *out = 0;
        return true;
    }
    if (field.empty() || field.size() > 19) {
        return false;
    }
    std::string ascii;
    for (char16_t c : field) {
        if (c > 0x7F) {
            return false;
        }
        ascii.push_back(static_cast<char>(c));
    }
    const char* end = ascii.data() + ascii.size();
    auto [ptr, ec] = std::from_chars(ascii.data(), end, *out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

const char* RecordDropName(RecordDrop reason) {
    switch (reason) {
        case RecordDrop::None: return "none";
        case RecordDrop::UnknownCode: return "unknown code";
        case RecordDrop::UnexpectedPayload: return "unexpected payload";
        case RecordDrop::MissingPayload: return "missing payload";
        case RecordDrop::Oversized: return "oversized";
        case RecordDrop::OddLength: return "odd length";
        case RecordDrop::MissingTerminator: return "missing terminator";
        case RecordDrop::EmbeddedNul: return "embedded NUL";
        case RecordDrop::BadField: return "bad field";
    }
    return "?";
}

bool ParseSyncStates(std::u16string_view text, SyncStates* out) {
    std::vector<std::u16string_view> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(u';', start);
        fields.push_back(text.substr(start, end == std::u16string_view::npos ? text.npos : end - start));
        if (end == std::u16string_view::npos) {
            break;
        }
        start = end + 1;
    }
    if (fields.size() < 3) {
        return false;
    }
    SyncStates s;
    if (!ParseNumber(fields[0], false, &s.first) || !ParseNumber(fields[1], true, &s.second)) {
        return false;
    }
    if (fields[2] != u"NULL") {
        if (fields[2].size() > kMaxSyncStateText) {
            return false;
        }
        s.text = std::u16string(fields[2]);
    }
    for (std::size_t i = 3; i < fields.size(); ++i) {
        if (fields[i].empty()) {
            continue;  // a trailing ";"
        }
        if (fields[i].size() > kMaxCatalogIdBytes) {
            return false;
        }
        s.catalogIds.emplace_back(fields[i]);
    }
    *out = std::move(s);
    return true;
}

ViewDecode DecodeViewRecord(std::uint64_t code, std::string_view payload) {
    ViewDecode result;
    result.record.code = code;
    const Rule* rule = nullptr;
    for (const Rule& r : kRules) {
        if (r.code == code) {
            rule = &r;
        }
    }
    if (rule == nullptr) {
        result.reason = RecordDrop::UnknownCode;
        return result;
    }
    if (payload.size() > kMaxViewRecordBytes) {
        result.reason = RecordDrop::Oversized;
        return result;
    }
    RecordDrop reason = RecordDrop::None;
    switch (rule->layout) {
        case Layout::None:
            if (!payload.empty()) {
                reason = RecordDrop::UnexpectedPayload;
            }
            break;
        case Layout::Narrow:
            reason = DecodeNarrow(payload, &result.record.catalogId);
            break;
        case Layout::Wide:
            reason = DecodeWide(payload, &result.record.text);
            if (reason == RecordDrop::None && !ParseSyncStates(result.record.text, &result.record.states)) {
                reason = RecordDrop::BadField;
            }
            break;
    }
    result.reason = reason;
    result.ok = reason == RecordDrop::None;
    if (!result.ok) {
        result.record = ViewRecord{code, {}, {}, {}};
    }
    return result;
}

std::string EncodeRecordText(std::u16string_view text) { return platform::EncodeWideRecordText(text); }

std::string EncodeRecordBytes(std::string_view text) { return platform::EncodeNarrowRecordText(text); }

std::uint64_t CntDBClkUploadTast::Apply(int delta) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_count += delta;
    if (delta > 0) {
        return NIMBRA_UPLOAD_STARTED;
    }
    return m_count <= 0 ? NIMBRA_UPLOADS_DONE : NIMBRA_MENU_OTHER;
}

int CntDBClkUploadTast::Count() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_count;
}

}  // namespace vd
