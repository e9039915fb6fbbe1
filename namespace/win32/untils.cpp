#include "untils.h"

#include <mutex>
#include <new>
#include <unordered_set>

#include "nimbra_messages.h"
#include "platform/message_channel.h"
#include "trace.h"

namespace vd {
namespace {

bool HasClass(HWND window, const wchar_t* name) {
    wchar_t buffer[64] = {};
    const int n = ::GetClassNameW(window, buffer, static_cast<int>(std::size(buffer)));
    return n > 0 && ::lstrcmpW(buffer, name) == 0;
}

BOOL CALLBACK CollectViews(HWND window, LPARAM lp) {
    if (HasClass(window, reinterpret_cast<const wchar_t*>(kViewWindowClassName))) {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        reinterpret_cast<std::vector<Untils::ViewWindow>*>(lp)->push_back({window, pid == ::GetCurrentProcessId()});
    }
    return TRUE;
}

BOOL CALLBACK CollectExplorers(HWND window, LPARAM lp) {
    if (HasClass(window, L"CabinetWClass") || HasClass(window, L"ExploreWClass")) {
        ::EnumChildWindows(window, CollectViews, lp);  // every descendant
    }
    return TRUE;
}

bool SendRecord(HWND window, std::uint64_t code, std::string_view bytes, UINT timeoutMs) {
    COPYDATASTRUCT record = {};
    record.dwData = static_cast<ULONG_PTR>(code);
    record.cbData = static_cast<DWORD>(bytes.size());
    record.lpData = bytes.empty() ? nullptr : const_cast<char*>(bytes.data());
    DWORD_PTR result = 0;
    return ::SendMessageTimeoutW(window, WM_COPYDATA, reinterpret_cast<WPARAM>(::GetForegroundWindow()),
                                 reinterpret_cast<LPARAM>(&record), SMTO_NORMAL | SMTO_ABORTIFHUNG, timeoutMs,
                                 &result) != 0;
}

CntDBClkUploadTast& UploadCounter() {
    static CntDBClkUploadTast counter;
    return counter;
}

// The blocks Make handed out and Take has not taken back.
struct OutstandingBlocks {
    std::mutex lock;
    std::unordered_set<LPARAM> blocks;
};

OutstandingBlocks& OutstandingSet() {
    static OutstandingBlocks* outstanding = new OutstandingBlocks;  // lives until the module unloads
    return *outstanding;
}

}  // namespace

LPARAM PostedCopyData::Make(std::uint64_t code, std::string_view bytes) noexcept {
    try {
        auto posted = std::make_unique<PostedCopyData>();
        posted->bytes.assign(bytes);
        posted->record.dwData = static_cast<ULONG_PTR>(code);
        posted->record.cbData = static_cast<DWORD>(posted->bytes.size());
        posted->record.lpData = posted->bytes.empty() ? nullptr : posted->bytes.data();
        const LPARAM handle = reinterpret_cast<LPARAM>(posted.get());
        OutstandingBlocks& outstanding = OutstandingSet();
        std::lock_guard<std::mutex> guard(outstanding.lock);
        outstanding.blocks.insert(handle);
        posted.release();
        return handle;
    } catch (...) {
        return 0;
    }
}

std::unique_ptr<PostedCopyData> PostedCopyData::Take(LPARAM lparam) noexcept {
    if (lparam == 0) {
        return nullptr;
    }
    OutstandingBlocks& outstanding = OutstandingSet();
    {
        std::lock_guard<std::mutex> guard(outstanding.lock);
        if (outstanding.blocks.erase(lparam) == 0) {
            VD_LOG_WARN("copy-data block %p is not one of ours: dropped", reinterpret_cast<void*>(lparam));
            return nullptr;
        }
    }
    return std::unique_ptr<PostedCopyData>(reinterpret_cast<PostedCopyData*>(lparam));
}

std::size_t PostedCopyData::Outstanding() noexcept {
    OutstandingBlocks& outstanding = OutstandingSet();
    std::lock_guard<std::mutex> guard(outstanding.lock);
    return outstanding.blocks.size();
}

namespace Untils {

std::vector<ViewWindow> FindVDWndCopyData() {
    std::vector<ViewWindow> views;
    ::EnumWindows(CollectExplorers, reinterpret_cast<LPARAM>(&views));
    return views;
}

int SendCopyData2VDPer(std::uint64_t code, std::string_view bytes) {
    int reached = 0;
    for (const ViewWindow& view : FindVDWndCopyData()) {
        if (view.inThisProcess) {
            const LPARAM copy = PostedCopyData::Make(code, bytes);
            if (copy != 0 && ::PostMessageW(view.window, WM_VD_COPYDATA, 0, copy)) {
                ++reached;
            } else {
                PostedCopyData::Take(copy);  // not delivered: ours to free
            }
        } else if (SendRecord(view.window, code, bytes, 1000)) {
            ++reached;
        }
    }
    return reached;
}

int SendCopyDataToViews(std::uint64_t code, std::string_view bytes) {
    int reached = 0;
    for (const ViewWindow& view : FindVDWndCopyData()) {
        reached += SendRecord(view.window, code, bytes, 1000) ? 1 : 0;
    }
    return reached;
}

void NotifySharesAccepted(const std::string& catalogId) {
    SendCopyData2VDPer(SHELL_SHARES_ACCEPTED, EncodeRecordBytes(catalogId));
}

bool SendToNimbra(std::uint64_t code, std::string_view bytes, UINT timeoutMs) {
    return platform::SendCopyData(kClientWindowName, code, bytes, timeoutMs) == platform::kOk;
}

std::uint64_t CntDBClkUploadTast(int delta, const std::u16string& path) {
    const std::uint64_t code = UploadCounter().Apply(delta);
    VD_LOG_INFO("CntDBClkUploadTast Nimbra %d  dwData=%d", UploadCounter().Count(), static_cast<int>(code));
    SendToNimbra(code, path.empty() ? std::string() : EncodeRecordText(path), 1000);
    return code;
}

}  // namespace Untils
}  // namespace vd
