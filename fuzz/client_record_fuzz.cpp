// Records the stand-in desktop client accepts from the library's views, and
// the item lists they carry.
#include <vector>

#include "client_protocol.h"
#include "fuzz_support.h"
#include "platform/message_channel.h"

namespace {

using namespace nimbra;

constexpr std::uint64_t kCodes[] = {
    kMenuOther,    kMenuCheckUpdate, kMenuSettings,  kMenuAbout,       kShareByLink,      kStopSyncFolder,
    kShareWithPeople, kSyncSelection, kSaveShareTo,  kTokenInvalid,    kPageRequest,      kUploadStarted,
    kUploadsDone,  kHistoryVersions, kSyncStateRequest, kSignOutRequest, kQuitRequest,
};

bool Known(std::uint64_t code) {
    for (std::uint64_t c : kCodes) {
        if (c == code) {
            return true;
        }
    }
    return false;
}

// Items parsed from a list are written back in canonical form (no leading
// zeros in the type) and read back as the same items; nothing grows.
void RequireItems(std::u16string_view text, const std::vector<ShareItem>& items) {
    fuzz::Require(!items.empty());
    for (const auto& item : items) {
        fuzz::Require(!item.id.empty() && item.type >= 0 && item.type <= 999999999);
    }
    const std::u16string canonical = FormatItemList(items);
    fuzz::Require(canonical.size() <= text.size());
    std::vector<ShareItem> again;
    fuzz::Require(ParseItemList(canonical, &again));
    fuzz::Require(again == items);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::uint64_t code = data[0] < 8 * std::size(kCodes) ? kCodes[data[0] % std::size(kCodes)] : data[0];
    const fuzz::HeapBytes payload(data + 1, size - 1);
    const std::string_view bytes = payload.view();

    const DecodeResult d = DecodeClientRecord(code, bytes);
    fuzz::Require(d.ok == (d.reason == DropReason::None));
    fuzz::Require(d.record.code == code);
    fuzz::Require((d.reason == DropReason::UnknownCode) == !Known(code));
    const ClientRecord& r = d.record;
    if (!d.ok) {
        fuzz::Require(r.text.empty() && r.bytes.empty() && r.items.empty());
    } else {
        switch (r.kind) {
            case RecordKind::ItemList:
                fuzz::Require(EncodeRecordText(r.text) == bytes);
                RequireItems(r.text, r.items);
                break;
            case RecordKind::PageRequest:
                fuzz::Require(!r.text.empty());
                [[fallthrough]];
            case RecordKind::UploadStarted:
            case RecordKind::UploadsDone:
                fuzz::Require(r.text.size() <= kMaxPathUnits);
                fuzz::Require(bytes.empty() ? r.text.empty() : EncodeRecordText(r.text) == bytes);
                break;
            case RecordKind::StopSync:
                fuzz::Require(!r.bytes.empty() && platform::EncodeNarrowRecordText(r.bytes) == bytes);
                break;
            default:
                fuzz::Require(bytes.empty() && r.text.empty() && r.bytes.empty() && r.items.empty());
                break;
        }
    }

    // The item reader alone on any text, as a view could send it.
    const fuzz::HeapText text(data + 1, size - 1);
    std::vector<ShareItem> items{ShareItem{u"stale", u"", 1}};
    if (ParseItemList(text.view(), &items)) {
        RequireItems(text.view(), items);
    } else {
        fuzz::Require(items.size() <= text.view().size() / 24);  // whole items only, never more than fit
    }
    return 0;
}
