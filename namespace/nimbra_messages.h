#pragma once
// Copy-data records between this library and the desktop client, library
// side. Records from the client (and from other processes' views) are
// decoded here, checked against the layout their code allows, before any
// field is read: a record that does not fit is dropped with a reason.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

inline constexpr char16_t kClientWindowName[] = u"WND_MSG_VEYRA_ORLO";
inline constexpr char16_t kPageHelperWindowName[] = u"ExplorerNimbraHelper";
inline constexpr char16_t kViewWindowClassName[] = u"VDViewClass";

// Codes the views receive.
enum ViewMessageCode : std::uint64_t {
    SHELL_PRXOY_CHANGE = 10,
    SHELL_REFRESH_TOKEN = 11,
    REFRESH_NIMBRA_OP_TOKEN = 12,
    SHELL_SYNC_STATES = 15,
    SHELL_CATALOG_CHANGED = 17,
    SHELL_SIGNED_OUT = 401,
    SHELL_SHARES_ACCEPTED = 405,
    SHELL_SHARE_USERS_LOADED = 406,
    SHELL_PAGE_CHANGED = 410,
};

// Codes the desktop client receives.
enum ClientMessageCode : std::uint64_t {
    NIMBRA_MENU_OTHER = 0,
    NIMBRA_MENU_CHECK_UPDATE = 3,
    NIMBRA_MENU_SETTINGS = 4,
    NIMBRA_MENU_ABOUT = 5,
    NIMBRA_SHARE_BY_LINK = 6,
    NIMBRA_SHARE_WITH_PEOPLE = 13,
    SHELL_NIMBRA_TOKEN_INVALID = 21,
    NIMBRA_PAGE_REQUEST = 30,
    NIMBRA_UPLOAD_STARTED = 300,
    NIMBRA_UPLOADS_DONE = 400,
    NIMBRA_HISTORY_VERSIONS = 409,
    NIMBRA_SYNC_STATE_REQUEST = 500,
};

// Far above any real record, low enough that a hostile sender cannot make a
// view hold large copies.
inline constexpr std::size_t kMaxViewRecordBytes = 1u << 20;
inline constexpr std::size_t kMaxSyncStateText = 99;

enum class RecordDrop {
    None,
    UnknownCode,
    UnexpectedPayload,  // a code without data came with bytes
    MissingPayload,
    Oversized,
    OddLength,          // UTF-16 text with an odd byte count
    MissingTerminator,
    EmbeddedNul,
    BadField,
};
const char* RecordDropName(RecordDrop reason);

struct SyncStates {
    std::int64_t first = 0;
    std::int64_t second = 0;  // "NULL" reads as 0
    std::u16string text;      // "NULL" reads as empty
    std::vector<std::u16string> catalogIds;
};

struct ViewRecord {
    std::uint64_t code = 0;
    std::string catalogId;  // 17, 405, 410 (8-bit)
    std::u16string text;    // 15: the raw field text
    SyncStates states;      // 15
};

struct ViewDecode {
    bool ok = false;
    RecordDrop reason = RecordDrop::None;
    ViewRecord record;
};

// Never reads outside `payload`.
ViewDecode DecodeViewRecord(std::uint64_t code, std::string_view payload);
// "<n>;<n or NULL>;<text or NULL>[;catalogID...]"
bool ParseSyncStates(std::u16string_view text, SyncStates* out);

// UTF-16 little-endian with its terminating zero, as records carry text.
std::string EncodeRecordText(std::u16string_view text);
// 8-bit text with its zero (catalog IDs of 17 and 410).
std::string EncodeRecordBytes(std::string_view text);

// Uploads started by double-click: the code each call sends to the client.
class CntDBClkUploadTast {
public:
    // delta > 0: 300. Otherwise the count drops by -delta: 400 once it is at
    // 0 or below, else 0.
    std::uint64_t Apply(int delta);
    int Count() const;

private:
    mutable std::mutex m_lock;
    int m_count = 0;
};

}  // namespace vd
