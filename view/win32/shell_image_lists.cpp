#include "shell_image_lists.h"

#include <objidl.h>
#include <propidl.h>
#include <commoncontrols.h>
#include <gdiplus.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "trace.h"
#include "view_core.h"
#include "vd_module.h"

namespace vdview {

using vd::VDPidlMgr;

namespace {

struct InternalKey {
    const wchar_t* key;
    int resource;
};

constexpr InternalKey kInternalKeys[] = {
    {L".#$%INTERNAL_MESSAGE#$%", IDI_INTERNAL_MESSAGE},
    {L".#$%INTERNAL_CALENDER#$%", IDI_INTERNAL_CALENDER},
    {L".#$%INTERNAL_CELLPHONEPHOTO#$%", IDI_INTERNAL_CELLPHONEPHOTO},
    {L".#$%INTERNAL_CONTACTS#$%", IDI_INTERNAL_CONTACTS},
    {L".#$%INTERNAL_MYFILE#$%", IDI_INTERNAL_MYFILE},
    {L".#$%INTERNAL_NIMBRANOTE#$%", IDI_INTERNAL_NIMBRANOTE},
    {L".#$%INTERNAL_CELLPHONEVIDEO#$%", IDI_INTERNAL_CELLPHONEVIDEO},
    {L".#$%INTERNAL_SHAREFILE#$%", IDI_INTERNAL_SHAREFILE},
    {kOrdinaryFolderKey, IDI_INTERNAL_ORDINARYFOLDER},
    {L".#$%INTERNAL_CELLPHONEBACKUP#$%", IDI_INTERNAL_CELLPHONEBACKUP},
    {L".#$%INTERNAL_SYNCDIR#$%", IDI_INTERNAL_SYNCDIR},
};

// Node subtypes 1 to 10, in the order the painting maps them.
constexpr const wchar_t* kNodeKeys[] = {
    L".#$%INTERNAL_CALENDER#$%",     L".#$%INTERNAL_MESSAGE#$%",        L".#$%INTERNAL_CONTACTS#$%",
    L".#$%INTERNAL_MYFILE#$%",       L".#$%INTERNAL_CELLPHONEPHOTO#$%", L".#$%INTERNAL_CELLPHONEBACKUP#$%",
    L".#$%INTERNAL_NIMBRANOTE#$%",   L".#$%INTERNAL_SYNCDIR#$%",        L".#$%INTERNAL_CELLPHONEVIDEO#$%",
    L".#$%INTERNAL_SHAREFILE#$%",
};

struct Gdi {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    std::uint32_t* bits = nullptr;
    Gdi(int width, int height) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = ::CreateCompatibleDC(nullptr);
        void* raw = nullptr;
        bitmap = ::CreateDIBSection(dc, &info, DIB_RGB_COLORS, &raw, nullptr, 0);
        bits = static_cast<std::uint32_t*>(raw);
        if (dc && bitmap) {
            old = ::SelectObject(dc, bitmap);
            std::fill(bits, bits + width * height, 0xFFFFFFFFu);  // the window's white, opaque
        }
    }
    ~Gdi() {
        if (old) ::SelectObject(dc, old);
        if (bitmap) ::DeleteObject(bitmap);
        if (dc) ::DeleteDC(dc);
    }
    bool ok() const { return dc && bitmap && bits; }
    // Drawing may leave alpha behind; the cell is opaque on the window's colour.
    void Opaque(int count) {
        for (int i = 0; i < count; ++i) bits[i] |= 0xFF000000u;
    }
    Gdi(const Gdi&) = delete;
    Gdi& operator=(const Gdi&) = delete;
};

struct IconHandle {
    HICON h = nullptr;
    ~IconHandle() {
        if (h) ::DestroyIcon(h);
    }
};

// The icon centred on a white 76 x 70 cell, added to `list`.
int AddCell(HIMAGELIST list, HICON icon, int size) {
    Gdi cell(kThumbWidth, kThumbHeight);
    if (!cell.ok()) return -1;
    ::DrawIconEx(cell.dc, (kThumbWidth - size) / 2, (kThumbHeight - size) / 2, icon, size, size, 0, nullptr, DI_NORMAL);
    cell.Opaque(kThumbWidth * kThumbHeight);
    ::SelectObject(cell.dc, cell.old);
    cell.old = nullptr;
    return ImageList_Add(list, cell.bitmap, nullptr);
}

ULONG_PTR g_gdiplus = 0;

// The import library of the cross toolchain leaves it out.
constexpr IID kIID_IImageList = {0x46EB5926, 0x582E, 0x4017, {0x9F, 0xDF, 0xE8, 0x99, 0x8D, 0xAA, 0x09, 0x50}};

}  // namespace

std::wstring ImageKeyOf(vd::PcPidl item) {
    if (IsEmptyList(item)) return L".null";
    switch (VDPidlMgr::GetItemType(item)) {
        case vd::kKindNode: {
            const int index = VDPidlMgr::GetNodeIndex(item);
            return index >= 1 && index <= 10 ? kNodeKeys[index - 1] : kOrdinaryFolderKey;
        }
        case vd::kKindCatalog:
            return kOrdinaryFolderKey;
        default: {
            const std::u16string name = VDPidlMgr::GetName(item);
            const std::size_t dot = name.find_last_of(u'.');
            if (dot == std::u16string::npos || dot + 1 == name.size()) return L".null";
            return std::wstring(name.begin() + static_cast<std::ptrdiff_t>(dot), name.end());
        }
    }
}

int InternalIconOf(const std::wstring& key) noexcept {
    for (const InternalKey& k : kInternalKeys) {
        if (key == k.key) return k.resource;
    }
    return 0;
}

HICON LoadKeyIcon(const std::wstring& key, int size) noexcept {
    if (const int resource = InternalIconOf(key)) {
        return static_cast<HICON>(::LoadImageW(VDModule::GetResourceInstance(), MAKEINTRESOURCEW(resource), IMAGE_ICON,
                                               size, size, LR_DEFAULTCOLOR));
    }
    // Only the extension matters: the shell is asked by attributes, no file is touched.
    const std::wstring name = L"file" + key;
    if (size > 32) {
        SHFILEINFOW info = {};
        const DWORD_PTR got = ::SHGetFileInfoW(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                                               SHGFI_SYSICONINDEX | SHGFI_USEFILEATTRIBUTES);
        IImageList* list = nullptr;
        if (got && SUCCEEDED(::SHGetImageList(SHIL_EXTRALARGE, kIID_IImageList, reinterpret_cast<void**>(&list)))) {
            HICON icon = nullptr;
            list->GetIcon(info.iIcon, ILD_TRANSPARENT, &icon);
            list->Release();
            if (icon) return icon;
        }
    }
    SHFILEINFOW info = {};
    const UINT which = size <= 16 ? SHGFI_SMALLICON : SHGFI_LARGEICON;
    if (::SHGetFileInfoW(name.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                         SHGFI_ICON | SHGFI_USEFILEATTRIBUTES | which)) {
        return info.hIcon;
    }
    return nullptr;
}

// ------------------------------------------------------------ ShellImageLists

ShellImageLists& ShellImageLists::Instance() {
    static ShellImageLists lists;
    return lists;
}

int ShellImageLists::IndexOf(vd::PcPidl item) {
    const std::wstring key = ImageKeyOf(item);
    std::lock_guard<std::mutex> guard(m_lock);
    if (const auto it = m_index.find(key); it != m_index.end()) return it->second;
    if (m_small == nullptr) {
        m_small = ImageList_Create(::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                   ILC_COLOR32 | ILC_MASK, 1, 0);
        m_large =
            ImageList_Create(::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON), ILC_COLOR32 | ILC_MASK, 1, 0);
    }
    if (m_small == nullptr || m_large == nullptr) return -1;
    IconHandle small{LoadKeyIcon(key, ::GetSystemMetrics(SM_CXSMICON))};
    IconHandle large{LoadKeyIcon(key, ::GetSystemMetrics(SM_CXICON))};
    if (small.h == nullptr || large.h == nullptr) return -1;
    const int index = ImageList_AddIcon(m_small, small.h);
    if (index < 0 || ImageList_AddIcon(m_large, large.h) != index) return -1;
    m_index.emplace(key, index);
    return index;
}

void ShellImageLists::Destroy() noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_small) ImageList_Destroy(m_small);
    if (m_large) ImageList_Destroy(m_large);
    m_small = m_large = nullptr;
    m_index.clear();
}

// ------------------------------------------------------------ ShellViewHelper

ShellViewHelper& ShellViewHelper::Instance() {
    static ShellViewHelper helper;
    return helper;
}

void ShellViewHelper::InitShellViewHelper() noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_running) return;
    m_small = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 16);
    m_thumb = ImageList_Create(kThumbWidth, kThumbHeight, ILC_COLOR32, 1, 16);
    if (m_small == nullptr || m_thumb == nullptr) {
        VD_LOG_ERROR("RaiseException!!!");
        if (m_small) ImageList_Destroy(m_small);
        if (m_thumb) ImageList_Destroy(m_thumb);
        m_small = m_thumb = nullptr;
        return;
    }
    Gdiplus::GdiplusStartupInput input;
    if (g_gdiplus == 0 && Gdiplus::GdiplusStartup(&g_gdiplus, &input, nullptr) != Gdiplus::Ok) g_gdiplus = 0;
    for (const InternalKey& k : kInternalKeys) AddKeyLocked(k.key);
    m_timerQueue = ::CreateTimerQueue();
    HANDLE timer = nullptr;
    if (m_timerQueue == nullptr ||
        !::CreateTimerQueueTimer(&timer, m_timerQueue, &ShellViewHelper::ClearThumbnailCallBack, this, 5000, 5000,
                                 WT_EXECUTEDEFAULT)) {
        VD_LOG_WARN("no thumbnail expiry: thumbnails stay in memory");
    }
    m_running = true;
}

void CALLBACK ShellViewHelper::ClearThumbnailCallBack(void* context, BOOLEAN) {
    auto* helper = static_cast<ShellViewHelper*>(context);
    if (helper->ClearTimesOutThumbnailImg() > 0) PostToAllViews(2029);
}

int ShellViewHelper::ClearTimesOutThumbnailImg(std::uint64_t idleMs) {
    const std::uint64_t now = ::GetTickCount64();
    std::lock_guard<std::mutex> guard(m_lock);
    int gone = 0;
    for (auto it = m_thumbnails.begin(); it != m_thumbnails.end();) {
        if (now - it->second.lastUse >= idleMs) {
            m_freeSlots.push_back(it->second.index);
            it = m_thumbnails.erase(it);
            ++gone;
        } else {
            ++it;
        }
    }
    return gone;
}

void ShellViewHelper::Touch(const std::wstring& contentId) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (const auto it = m_thumbnails.find(contentId); it != m_thumbnails.end()) it->second.lastUse = ::GetTickCount64();
}

void ShellViewHelper::UninitShellViewHelper() noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_running) return;
    if (m_timerQueue) ::DeleteTimerQueueEx(m_timerQueue, nullptr);  // returns at once: no wait under the loader lock
    m_timerQueue = nullptr;
    ImageList_Destroy(m_small);
    ImageList_Destroy(m_thumb);
    m_small = m_thumb = nullptr;
    m_keys.clear();
    m_thumbnails.clear();
    m_freeSlots.clear();
    m_running = false;
    // GDI+ stays up: shutting it down at unload, under the loader lock, may wait on its thread.
}

bool ShellViewHelper::IsRunning() const noexcept {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_running;
}

int ShellViewHelper::AddKeyLocked(const std::wstring& key) {
    IconHandle small{LoadKeyIcon(key, 16)};
    IconHandle large{LoadKeyIcon(key, 48)};
    if (small.h == nullptr || large.h == nullptr) return -1;
    const int index = ImageList_AddIcon(m_small, small.h);
    if (index < 0) return -1;
    // Both lists keep the same index for a key: report and icon view share it.
    if (AddCell(m_thumb, large.h, 48) != index) {
        ImageList_Remove(m_small, index);
        return -1;
    }
    m_keys.emplace(key, index);
    return index;
}

int ShellViewHelper::GetImage(vd::PcPidl item) {
    const std::wstring key = ImageKeyOf(item);
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_running) return -1;
    if (const auto it = m_keys.find(key); it != m_keys.end()) return it->second;
    return AddKeyLocked(key);
}

int ShellViewHelper::FindThumbnail(const std::wstring& contentId) {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto it = m_thumbnails.find(contentId);
    return it == m_thumbnails.end() ? -1 : it->second.index;
}

std::size_t ShellViewHelper::EntryCount() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_keys.size() + m_thumbnails.size();
}

int ShellViewHelper::InsertThumbnail(const std::wstring& contentId, const std::wstring& path,
                                     const std::wstring& key) {
    if (g_gdiplus == 0) return -1;
    Gdiplus::Bitmap picture(path.c_str());
    if (picture.GetLastStatus() != Gdiplus::Ok || picture.GetWidth() == 0 || picture.GetHeight() == 0) return -1;
    Gdi cell(kThumbWidth, kThumbHeight);
    if (!cell.ok()) return -1;
    {
        Gdiplus::Graphics graphics(cell.dc);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
        const double scale = std::min(static_cast<double>(kThumbWidth - 4) / picture.GetWidth(),
                                      static_cast<double>(kThumbHeight - 4) / picture.GetHeight());
        const int w = std::max(1, static_cast<int>(picture.GetWidth() * std::min(scale, 1.0)));
        const int h = std::max(1, static_cast<int>(picture.GetHeight() * std::min(scale, 1.0)));
        graphics.DrawImage(&picture, (kThumbWidth - w) / 2, (kThumbHeight - h) / 2, w, h);
    }
    cell.Opaque(kThumbWidth * kThumbHeight);
    ::SelectObject(cell.dc, cell.old);
    cell.old = nullptr;
    IconHandle small{LoadKeyIcon(key, 16)};
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_running) return -1;
    const std::uint64_t now = ::GetTickCount64();
    if (const auto it = m_thumbnails.find(contentId); it != m_thumbnails.end()) {
        ImageList_Replace(m_thumb, it->second.index, cell.bitmap, nullptr);
        it->second.lastUse = now;
        return it->second.index;
    }
    if (small.h == nullptr) return -1;
    int index = -1;
    if (!m_freeSlots.empty()) {
        // The slot of a thumbnail that went: both lists keep the index in step.
        index = m_freeSlots.back();
        m_freeSlots.pop_back();
        ImageList_ReplaceIcon(m_small, index, small.h);
        ImageList_Replace(m_thumb, index, cell.bitmap, nullptr);
    } else {
        index = ImageList_AddIcon(m_small, small.h);
        if (index < 0) return -1;
        if (ImageList_Add(m_thumb, cell.bitmap, nullptr) != index) {
            ImageList_Remove(m_small, index);
            return -1;
        }
    }
    m_thumbnails.emplace(contentId, Thumbnail{index, now});
    return index;
}

bool ShellViewHelper::IsThumbnailSlot(int index) {
    std::lock_guard<std::mutex> guard(m_lock);
    for (const auto& [id, thumbnail] : m_thumbnails) {
        if (thumbnail.index == index) return true;
    }
    return std::find(m_freeSlots.begin(), m_freeSlots.end(), index) != m_freeSlots.end();
}

void StartViewLayer() noexcept {
    ShellViewHelper::Instance().InitShellViewHelper();
    // The tree's list starts with the folder picture and the fixed nodes'.
    vd::VDPidlMgr mgr;
    for (int node = 1; node <= 10; ++node) {
        vd::UniquePidl item = mgr.Own(mgr.CreateNode(node, u""));
        if (item) ShellImageLists::Instance().IndexOf(item.get());
    }
}

}  // namespace vdview
