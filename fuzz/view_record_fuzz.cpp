// Records the views accept from the desktop client and from other views:
// every code, its payload layout, and the sync-state fields of code 15.
#include <vector>

#include "fuzz_support.h"
#include "nimbra_messages.h"

namespace {

constexpr std::uint64_t kCodes[] = {
    vd::SHELL_PRXOY_CHANGE,    vd::SHELL_REFRESH_TOKEN,    vd::REFRESH_NIMBRA_OP_TOKEN,
    vd::SHELL_SYNC_STATES,     vd::SHELL_CATALOG_CHANGED,  vd::SHELL_SIGNED_OUT,
    vd::SHELL_SHARES_ACCEPTED, vd::SHELL_SHARE_USERS_LOADED, vd::SHELL_PAGE_CHANGED,
};

bool Known(std::uint64_t code) {
    for (std::uint64_t c : kCodes) {
        if (c == code) {
            return true;
        }
    }
    return false;
}

std::u16string Decimal(std::int64_t n) {
    std::u16string out;
    for (char c : std::to_string(n)) {
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

// The fields, written back in their plainest form, read back as themselves.
void RequireStatesRoundTrip(const vd::SyncStates& s) {
    std::u16string text = Decimal(s.first) + u";" + Decimal(s.second) + u";" + (s.text.empty() ? u"NULL" : s.text);
    for (const auto& id : s.catalogIds) {
        text += u";" + id;
    }
    vd::SyncStates again;
    fuzz::Require(vd::ParseSyncStates(text, &again));
    fuzz::Require(again.first == s.first && again.second == s.second && again.text == s.text &&
                  again.catalogIds == s.catalogIds);
}

void RequireStates(std::u16string_view text, const vd::SyncStates& s) {
    fuzz::Require(s.text.size() <= vd::kMaxSyncStateText && s.text.find(u';') == std::u16string::npos);
    fuzz::Require(s.text != u"NULL");
    for (const auto& id : s.catalogIds) {
        fuzz::Require(!id.empty() && id.size() <= 255 && id.find(u';') == std::u16string::npos);
        fuzz::Require(fuzz::Contains(text, u";" + id));
    }
    RequireStatesRoundTrip(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte picks a known code most of the time, else itself as the code.
    const std::uint64_t code = data[0] < 16 * std::size(kCodes) ? kCodes[data[0] % std::size(kCodes)] : data[0];
    const fuzz::HeapBytes payload(data + 1, size - 1);
    const std::string_view bytes = payload.view();

    const vd::ViewDecode d = vd::DecodeViewRecord(code, bytes);
    fuzz::Require(d.ok == (d.reason == vd::RecordDrop::None));
    fuzz::Require(d.record.code == code);
    fuzz::Require((d.reason == vd::RecordDrop::UnknownCode) == !Known(code));
    if (!d.ok) {
        // A dropped record leaves nothing half-read behind.
        fuzz::Require(d.record.catalogId.empty() && d.record.text.empty() && d.record.states.catalogIds.empty());
        fuzz::Require(d.reason != vd::RecordDrop::Oversized);  // inputs stay far below the bound
    } else if (code == vd::SHELL_SYNC_STATES) {
        fuzz::Require(vd::EncodeRecordText(d.record.text) == bytes);
        RequireStates(d.record.text, d.record.states);
    } else if (code == vd::SHELL_CATALOG_CHANGED || code == vd::SHELL_PAGE_CHANGED ||
               code == vd::SHELL_SHARES_ACCEPTED) {
        fuzz::Require(!d.record.catalogId.empty() && d.record.catalogId.size() <= 255);
        fuzz::Require(vd::EncodeRecordBytes(d.record.catalogId) == bytes);
    } else {
        fuzz::Require(bytes.empty());
    }

    // The field reader alone, on any text, even the ones the record coding refuses.
    const fuzz::HeapText text(data + 1, size - 1);
    vd::SyncStates states;
    states.first = 77;
    if (vd::ParseSyncStates(text.view(), &states)) {
        RequireStates(text.view(), states);
    } else {
        fuzz::Require(states.first == 77 && states.catalogIds.empty());  // untouched on refusal
    }
    return 0;
}
