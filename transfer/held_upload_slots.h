#pragma once
// Tests take every upload slot themselves, so that each task they start has
// to show that it waits, however fast the service answers.
#include "task_progress_dlg.h"

namespace vdtransfer::testing {

struct HeldUploadSlots {
    int count = 0;
    // True when every slot was free and is now held.
    bool TakeAll() {
        while (count < kMaxRunningTransfers && TryTakeSlot(RunningUploads())) ++count;
        return count == kMaxRunningTransfers;
    }
    void Release() {
        for (; count > 0; --count) ReleaseSlot(RunningUploads());
    }
    ~HeldUploadSlots() { Release(); }
};

}  // namespace vdtransfer::testing
