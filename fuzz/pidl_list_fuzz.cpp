// Walking, copying, cutting and joining validated bytes.
#include "fuzz_common.h"

namespace {

std::size_t Count(vd::PcPidl p) {
    std::size_t n = 0;
    for (vd::PcPidl e = p; e != nullptr && vd::VDPidlMgr::GetNextItem(e) != nullptr; e = vd::VDPidlMgr::GetNextItem(e)) {
        ++n;
    }
    return n;
}

// A list we built must validate in its own size and keep the element count.
void RequireList(vd::PcPidl p, std::size_t count) {
    fuzz::Require(p != nullptr);
    const std::size_t bytes = static_cast<std::size_t>(vd::VDPidlMgr::GetByteSize(p));
    const vd::PidlCheck check = vd::ValidateList(p, bytes);
    fuzz::Require(check.ok && check.count == count && check.bytes + 1 == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ValidatedList list;
    if (!fuzz::Validate(data, size, list)) {
        return 0;
    }
    const std::size_t count = list.check.count;
    const vd::PcPidl p = list.get();
    const vd::VDPidlMgr mgr;

    fuzz::Require(Count(p) == count);
    fuzz::Require(static_cast<std::size_t>(vd::VDPidlMgr::GetByteSize(p)) == list.check.bytes + 1);
    fuzz::Require((vd::VDPidlMgr::GetLastItem(p) == nullptr) == (count == 0));

    vd::UniquePidl copy = mgr.Own(mgr.Copy(p));
    RequireList(copy.get(), count);
    fuzz::Require(std::memcmp(copy.get(), p, list.check.bytes) == 0);

    vd::UniquePidl parent = mgr.Own(mgr.CopyAllButLast(p));
    RequireList(parent.get(), count == 0 ? 0 : count - 1);

    vd::UniquePidl twice = mgr.Own(mgr.Concatenate(p, p));
    RequireList(twice.get(), 2 * count);
    vd::UniquePidl left = mgr.Own(mgr.Concatenate(p, nullptr));
    RequireList(left.get(), count);

    const std::uint32_t old = vd::VDPidlMgr::GetState(copy.get());
    fuzz::Require(vd::VDPidlMgr::SetState(copy.get(), old ^ 0x80000000u) == old);
    fuzz::Require(vd::VDPidlMgr::GetState(copy.get()) == (count == 0 ? 0 : (old ^ 0x80000000u)));
    RequireList(copy.get(), count);
    return 0;
}
