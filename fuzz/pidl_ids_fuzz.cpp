// ID readers and the list predicates on validated bytes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ValidatedList list;
    if (!fuzz::Validate(data, size, list)) {
        return 0;
    }
    const vd::PcPidl p = list.get();
    char16_t buffer[64];
    std::size_t len = 64;
    const bool hasLast = vd::VDPidlMgr::GetId(p, buffer, len);
    fuzz::Require(hasLast == (list.check.count > 0));
    fuzz::Require(len <= 33 && buffer[len] == 0);
    len = 64;
    vd::VDPidlMgr::GetFirstId(p, buffer, len);
    fuzz::Require(len <= 33);
    fuzz::Require(vd::VDPidlMgr::GetIdString(p).size() <= 33);
    fuzz::Require(vd::VDPidlMgr::IsSameId(p, p) == hasLast);

    const int node = vd::VDPidlMgr::GetNodeIndex(p);
    fuzz::Require(node == -1 || vd::VDPidlMgr::GetItemType(p) == vd::kKindNode);
    vd::VDPidlMgr::GetFirstNodeIndex(p);

    const bool cur = vd::Util::IsCurRevShareDir(p);
    const bool par = vd::Util::ParIsRevShareDir(p);
    fuzz::Require(!(cur && par));
    fuzz::Require(!cur || list.check.count == 2);
    const vd::PcPidl lists[] = {p, nullptr, p};
    vd::Util::IsCurVDsysFolder(lists);

    const vd::VDPidlMgr mgr;
    vd::UniquePidl abs = mgr.Own(vd::Util::AddMyFilePidl(mgr, p));
    fuzz::Require(abs != nullptr);
    const std::size_t absBytes = static_cast<std::size_t>(vd::VDPidlMgr::GetByteSize(abs.get()));
    const vd::PidlCheck again = vd::ValidateList(abs.get(), absBytes);
    fuzz::Require(again.ok);
    fuzz::Require(again.count == list.check.count || again.count == list.check.count + 1);
    return 0;
}
