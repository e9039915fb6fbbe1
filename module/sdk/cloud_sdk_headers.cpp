// Compiles the SDK headers on their own in every build, so a header that
// stops building natively or with mingw fails here first. The checks below
// hold the few invariants that code in the headers computes.
#include "cloud_sdk.h"
#include "cloud_sdk_api.h"
#include "cloud_sdk_records.h"
#include "cloud_sdk_transfer.h"

namespace {

static_assert(kTransferEndMask == (kTransferStatusDone | kTransferStatusEnd10 |
                                   kTransferStatusEnd20 | kTransferStatusFailed));
static_assert(kTransferStopMask == (kTransferEndMask | kTransferStatusCancel));
static_assert((kTransferStatusCancel & kTransferEndMask) == 0, "a cancel must not read as an end");

constexpr bool SlotRoundTrip(std::string_view text, std::string_view expected, bool fits) {
  OprLogRecord record;
  const bool set = record.Set(OprLogRecord::kProduct, text);
  return set == fits && record.Get(OprLogRecord::kProduct) == expected &&
         record.slots[OprLogRecord::kProduct][OprLogRecord::kSlotSize - 1] == '\0' &&
         record.Get(OprLogRecord::kProduct + 1).empty();
}
static_assert(SlotRoundTrip("ORLO", "ORLO", true));
static_assert(SlotRoundTrip("123456789012345678901234567890123456789",
                            "123456789012345678901234567890123456789", true));
static_assert(SlotRoundTrip("1234567890123456789012345678901234567890",
                            "123456789012345678901234567890123456789", false));
static_assert(!OprLogRecord{}.Set(OprLogRecord::kSlotCount, "x"));
static_assert(OprLogRecord{}.Get(-1).empty());

}  // namespace
