#pragma once
// Pictures of cloud items: one set per file extension (".null" for names
// without one) or per kind of folder, never per file; thumbnails of pictures
// per content. Two image-list pairs are kept for the process:
// - ShellImageLists: 16 and 32 pixels, for the tree and address bar
//   (CIVDExtractIcon);
// - ShellViewHelper: 16 pixels and the 76 x 70 cell of the icon view, the
//   same index in both, shared by every cloud view (LVS_SHAREIMAGELISTS).
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "pidl.h"

namespace vdview {

// Icon resources of the library.
enum IconResource : int {
    IDI_CLOUD_DISK = 201,  // first icon group: DefaultIcon ",0"
    IDI_INTERNAL_MESSAGE = 219,
    IDI_INTERNAL_CALENDER = 220,
    IDI_INTERNAL_CELLPHONEPHOTO = 222,
    IDI_INTERNAL_CONTACTS = 223,
    IDI_INTERNAL_MYFILE = 224,
    IDI_INTERNAL_NIMBRANOTE = 230,
    IDI_INTERNAL_CELLPHONEVIDEO = 233,
    IDI_INTERNAL_SHAREFILE = 236,
    IDI_INTERNAL_ORDINARYFOLDER = 257,
    IDI_INTERNAL_CELLPHONEBACKUP = 258,
    IDI_INTERNAL_SYNCDIR = 259,
    IDI_TYPE_EXE = 260,
    IDI_TYPE_RAR = 261,
    IDI_TYPE_XML = 262,
    IDI_SYNC_FOLDER = 263,  // seventeenth icon group: DefaultIcon ",16"
    IDB_LOADING_FIRST = 249,  // six frames, 249 to 254
};

inline constexpr wchar_t kOrdinaryFolderKey[] = L".#$%INTERNAL_ORDINARYFOLDER#$%";

// The cache key of an item: an internal key for folders and fixed nodes, the
// file extension as written (with its dot) for files, ".null" without one.
std::wstring ImageKeyOf(vd::PcPidl item);
// The icon resource behind an internal key; 0 for extension keys.
int InternalIconOf(const std::wstring& key) noexcept;
// An icon for a key at a size: the library's resource, or the system's icon
// for the extension. Null when neither exists.
HICON LoadKeyIcon(const std::wstring& key, int size) noexcept;

class ShellImageLists {
public:
    static ShellImageLists& Instance();
    // Index of the item's picture in both lists; -1 when none could be made.
    int IndexOf(vd::PcPidl item);
    HIMAGELIST Small() const noexcept { return m_small; }
    HIMAGELIST Large() const noexcept { return m_large; }
    void Destroy() noexcept;

private:
    ShellImageLists() = default;
    std::mutex m_lock;
    HIMAGELIST m_small = nullptr;
    HIMAGELIST m_large = nullptr;
    std::map<std::wstring, int> m_index;
};

class ShellViewHelper {
public:
    static ShellViewHelper& Instance();

    // Once per process; the lists live until UninitShellViewHelper.
    void InitShellViewHelper() noexcept;
    void UninitShellViewHelper() noexcept;
    bool IsRunning() const noexcept;

    HIMAGELIST SmallList() const noexcept { return m_small; }
    HIMAGELIST ThumbList() const noexcept { return m_thumb; }

    // Index of the item's type or folder picture, built on first use.
    int GetImage(vd::PcPidl item);
    // Index of a content's thumbnail read from `path`; the slot is reused when
    // the same content comes again. -1 when the file is not a picture.
    // `key`: the item's type key, whose small picture report view shows.
    int InsertThumbnail(const std::wstring& contentId, const std::wstring& path, const std::wstring& key);
    // Index of a thumbnail already inserted; -1 otherwise.
    int FindThumbnail(const std::wstring& contentId);
    // True for the slot of a thumbnail, present or gone.
    bool IsThumbnailSlot(int index);
    // A thumbnail was painted: it stays in memory a while longer.
    void Touch(const std::wstring& contentId);
    // Thumbnails not painted for `idleMs` give their slots up; they are built
    // again from their files when shown. Returns how many went.
    int ClearTimesOutThumbnailImg(std::uint64_t idleMs = kThumbnailIdleMs);
    std::size_t EntryCount();

    static constexpr std::uint64_t kThumbnailIdleMs = 5000;

private:
    ShellViewHelper() = default;
    int AddKeyLocked(const std::wstring& key);

    struct Thumbnail {
        int index;
        std::uint64_t lastUse;
    };
    static void CALLBACK ClearThumbnailCallBack(void* context, BOOLEAN);

    mutable std::mutex m_lock;
    bool m_running = false;
    HIMAGELIST m_small = nullptr;
    HIMAGELIST m_thumb = nullptr;
    std::map<std::wstring, int> m_keys;
    std::map<std::wstring, Thumbnail> m_thumbnails;
    std::vector<int> m_freeSlots;  // of thumbnails that went, reused by the next
    HANDLE m_timerQueue = nullptr;
};

// The first Initialize of the process: the tree's and the views' lists, and
// the thumbnails' expiry timer.
void StartViewLayer() noexcept;
// Posts `message` to the list of every open cloud view.
void PostToAllViews(UINT message) noexcept;

// The 76 x 70 cell of the icon view.
inline constexpr int kThumbWidth = 76;
inline constexpr int kThumbHeight = 70;

}  // namespace vdview
