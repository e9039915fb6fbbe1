// Name readers: GetName, GetFullName, GetPathForLog on validated bytes.
#include <vector>

#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    // The first byte picks the caller's buffer length.
    const std::size_t length = data[0];
    fuzz::ValidatedList list;
    if (!fuzz::Validate(data + 1, size - 1, list)) {
        return 0;
    }
    std::vector<char16_t> buffer(length + 1, u'#');

    const int named = vd::VDPidlMgr::GetName(list.get(), buffer.data(), length);
    fuzz::Require(named == 0 || named == 1);
    if (length > 0) {
        fuzz::Require(fuzz::Terminated(buffer.data(), length));
    }
    const std::u16string name = vd::VDPidlMgr::GetName(list.get());
    fuzz::Require(name.size() < 260);

    std::size_t len = length;
    const vd::HResult hr = vd::VDPidlMgr::GetFullName(list.get(), buffer.data(), len);
    if (hr == vd::kSOk) {
        fuzz::Require(length > 0 && len < length && buffer[len] == 0);
    } else {
        fuzz::Require(hr == vd::kEFail && len == 0);
    }
    fuzz::Require(buffer[length] == u'#');  // never past the caller's length

    const std::u16string path = vd::VDPidlMgr::GetPathForLog(list.get());
    fuzz::Require(path.compare(0, vd::CloudRootName().size(), vd::CloudRootName()) == 0);
    return 0;
}
