// Detail columns and the numeric field readers on validated bytes.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ValidatedList list;
    if (!fuzz::Validate(data, size, list)) {
        return 0;
    }
    const vd::PcPidl p = list.get();
    const vd::TypeNameFn typeName = [](std::u16string_view name) -> std::optional<std::u16string> {
        if (name.size() % 2 == 0) {
            return std::nullopt;
        }
        return std::u16string(name) + u" file";
    };
    char16_t buffer[80];
    for (int column = -1; column <= 4; ++column) {
        for (std::size_t length : {std::size_t{1}, std::size_t{7}, std::size_t{80}}) {
            const vd::HResult hr = vd::VDPidlMgr::GetDetailText(p, column, buffer, length, typeName);
            if (column < 0 || column > 3) {
                fuzz::Require(hr == vd::kEInvalidArg);
            } else {
                fuzz::Require(hr == 0 || hr == 1);
                fuzz::Require(fuzz::Terminated(buffer, length));
            }
        }
    }
    vd::VDPidlMgr::GetSize(p);
    vd::VDPidlMgr::GetTime(p);
    vd::VDPidlMgr::GetFlag(p);
    fuzz::Require(vd::VDPidlMgr::GetText(p).size() < 65);
    vd::VDPidlMgr::GetState(p);
    vd::VDPidlMgr::GetFirstState(p);
    return 0;
}
