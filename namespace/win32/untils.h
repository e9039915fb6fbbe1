#pragma once
// Copy-data records to the library's view windows and to the desktop
// client's window.
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vd {

// Posted to a view of this process (lParam: a PostedCopyData the view owns).
inline constexpr UINT WM_VD_COPYDATA = WM_USER + 101;

// A copy-data record that outlives its sender: the record and its bytes in
// one heap block, taken over by the receiving window. Any process can post
// WM_VD_COPYDATA with any LPARAM, so a block is only taken when this module
// made it and has not handed it out yet.
struct PostedCopyData {
    COPYDATASTRUCT record = {};
    std::string bytes;

    // The posting side: LPARAM for WM_VD_COPYDATA; 0 when out of memory.
    static LPARAM Make(std::uint64_t code, std::string_view bytes) noexcept;
    // The receiving side: ownership of what Make produced; null for an LPARAM
    // that is not an outstanding block of ours.
    static std::unique_ptr<PostedCopyData> Take(LPARAM lparam) noexcept;
    // Blocks made and not taken yet.
    static std::size_t Outstanding() noexcept;
};

namespace Untils {

struct ViewWindow {
    HWND window;
    bool inThisProcess;
};

// "VDViewClass" windows below every top-level Explorer window.
std::vector<ViewWindow> FindVDWndCopyData();

// Views of this process get a posted copy; views of other processes get
// WM_COPYDATA. Returns the windows reached.
int SendCopyData2VDPer(std::uint64_t code, std::string_view bytes);
// WM_COPYDATA to every view window, this process's included (pages of a
// first listing, which the view reads while the record is alive).
int SendCopyDataToViews(std::uint64_t code, std::string_view bytes);

// Shares were accepted: the views refresh that catalog (405).
void NotifySharesAccepted(const std::string& catalogId);

// To the desktop client's window; false when it is not there or did not answer.
bool SendToNimbra(std::uint64_t code, std::string_view bytes, UINT timeoutMs);

// Uploads started by double-click: tells the client when the first starts
// and when the last has ended. Returns the code sent.
std::uint64_t CntDBClkUploadTast(int delta, const std::u16string& path);

}  // namespace Untils
}  // namespace vd
