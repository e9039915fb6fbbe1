#pragma once
// The cloud disk folder the shell binds to, and the shell enumerator over
// the portable enumerator core.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <atomic>
#include <string>

#include "com_object.h"
#include "drop_folder.h"
#include "dispatch_impl.h"
#include "pandrel_h.h"
#include "pidl.h"
#include "pidl_enum.h"

// mingw-w64 declares these without their __uuidof.
#ifndef VD_IQUERYINFO_UUID
#define VD_IQUERYINFO_UUID
__CRT_UUID_DECL(IQueryInfo, 0x00021500, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
__CRT_UUID_DECL(IShellDetails, 0x000214EC, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46)
#endif

namespace vd {

// {CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}
inline constexpr CLSID CLSID_VDShellFolder = {0xCB5DEC9E, 0x175E, 0x45DF,
                                              {0xB6, 0x47, 0xBC, 0xBE, 0xE0, 0x66, 0x9F, 0xE6}};

// Lists handed to the shell come from its allocator.
PidlAllocator& ShellPidlAllocator() noexcept;
const VDPidlMgr& ShellPidlMgr() noexcept;

// A list from the shell is read only after this walk: every element's size
// lies within what one element can be, and the whole passes ValidateList.
// Nothing past an element's claimed size is touched.
bool CheckShellList(LPCITEMIDLIST list) noexcept;

class CIVDPidlEnum final : public com::ComObject<CIVDPidlEnum, IEnumIDList> {
public:
    explicit CIVDPidlEnum(PidlEnumEnv env) : m_core(std::move(env), ShellPidlMgr()) {}
    CIVDPidlEnumEx& Core() noexcept { return m_core; }

    STDMETHODIMP Next(ULONG count, LPITEMIDLIST* out, ULONG* fetched) noexcept override;
    STDMETHODIMP Skip(ULONG count) noexcept override;
    STDMETHODIMP Reset() noexcept override;
    STDMETHODIMP Clone(IEnumIDList** out) noexcept override;

private:
    CIVDPidlEnumEx m_core;
};

class CIVDShellFolder;

// The view and icon objects live in the view library, which builds on this
// one; the library hands them in at load.
struct ViewObjects {
    HRESULT (*createView)(CIVDShellFolder* folder, LPCITEMIDLIST pidl, REFIID iid, void** out) noexcept = nullptr;
    HRESULT (*createExtractIcon)(LPCITEMIDLIST item, REFIID iid, void** out) noexcept = nullptr;
    // The first Initialize of the process: image lists and the thumbnails' expiry.
    void (*startViewLayer)() noexcept = nullptr;
};
void SetViewObjects(const ViewObjects& objects) noexcept;

class CIVDShellFolder final
    : public com::ComObject<CIVDShellFolder, com::DispatchImpl<IVDShellFolder>,
                            com::ComAlias<IDispatch, com::DispatchImpl<IVDShellFolder>>, IPersistFolder2,
                            com::ComAlias<IPersistFolder, IPersistFolder2>, com::ComAlias<IPersist, IPersistFolder2>,
                            IShellFolder, IQueryInfo, IPersistIDList, IShellDetails>,
      public vdtransfer::IVDDropFolder {
public:
    static HRESULT CreateInstance(REFIID iid, void** out) noexcept;

    HRESULT FinalConstruct() noexcept;
    void FinalRelease() noexcept;

    // IPersist / IPersistFolder / IPersistFolder2
    STDMETHODIMP GetClassID(CLSID* out) noexcept override;
    STDMETHODIMP Initialize(LPCITEMIDLIST list) noexcept override;
    STDMETHODIMP GetCurFolder(LPITEMIDLIST* out) noexcept override;
    // IPersistIDList
    STDMETHODIMP SetIDList(LPCITEMIDLIST list) noexcept override;
    STDMETHODIMP GetIDList(LPITEMIDLIST* out) noexcept override;
    // IShellFolder
    STDMETHODIMP ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, LPITEMIDLIST*, ULONG*) noexcept override;
    STDMETHODIMP EnumObjects(HWND window, SHCONTF flags, IEnumIDList** out) noexcept override;
    STDMETHODIMP BindToObject(LPCITEMIDLIST list, IBindCtx* context, REFIID iid, void** out) noexcept override;
    STDMETHODIMP BindToStorage(LPCITEMIDLIST list, IBindCtx* context, REFIID iid, void** out) noexcept override;
    STDMETHODIMP CompareIDs(LPARAM column, LPCITEMIDLIST list1, LPCITEMIDLIST list2) noexcept override;
    STDMETHODIMP CreateViewObject(HWND window, REFIID iid, void** out) noexcept override;
    STDMETHODIMP GetAttributesOf(UINT count, LPCITEMIDLIST* lists, SFGAOF* inOut) noexcept override;
    STDMETHODIMP GetUIObjectOf(HWND window, UINT count, LPCITEMIDLIST* lists, REFIID iid, UINT* reserved,
                               void** out) noexcept override;
    STDMETHODIMP GetDisplayNameOf(LPCITEMIDLIST list, SHGDNF flags, STRRET* out) noexcept override;
    STDMETHODIMP SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, SHGDNF, LPITEMIDLIST*) noexcept override;
    // IQueryInfo
    STDMETHODIMP GetInfoTip(DWORD flags, LPWSTR* out) noexcept override;
    STDMETHODIMP GetInfoFlags(DWORD* out) noexcept override;
    // IShellDetails: the columns the shell's own view shows for this folder
    // (name, size, modified) while it hosts the folder.
    STDMETHODIMP GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* out) noexcept override;
    STDMETHODIMP ColumnClick(UINT column) noexcept override;

    // Paged enumeration of the view.
    HRESULT EnumObjectsEx(HWND window, SHCONTF flags, IEnumIDList** out, int first, int last, bool* atEnd,
                          bool* secondFlag) noexcept;
    static int GetInternalSortIndex(int index) noexcept;
    static bool IsTargetOK(LPCITEMIDLIST target) noexcept { return target != nullptr; }
    bool IsSyncFolder(LPCITEMIDLIST folder, const std::string& catalogId) noexcept;
    // Asks the caches to read a folder again; they notify the views.
    void GetDisk(LPCITEMIDLIST list) noexcept;
    static std::u16string GetTempDirectory();
    static std::u16string GetPassID();
    static void SetUserID(std::u16string_view id);

    // The shell's side of the sign-in: S_OK or E_ACCESSDENIED.
    HRESULT _Login() noexcept;

    // Drops and pastes. `target`: this folder or one of its catalogs, from
    // the cloud disk's root.
    HRESULT _DoDrop(IDataObject* data, DWORD mode, LPCITEMIDLIST target, int formatIndex) noexcept override;
    HRESULT _DoDrop_HDROP(HGLOBAL drop, DWORD mode, LPCITEMIDLIST target);
    HRESULT _DoDrop_NSEDRAGDROP(HGLOBAL drop, DWORD mode, LPCITEMIDLIST target);
    // Set by the view's Cut until the paste.
    void SetCutPending(bool on) noexcept { s_cutPending = on; }
    // Copy (or Cut) of children of this folder: their data object goes on
    // the clipboard.
    HRESULT CopyToClipboard(UINT count, LPCITEMIDLIST* items, bool cut) noexcept;
    // Paste into `target` (this folder or one of its catalogs): cloud items
    // first, local files when the clipboard holds none.
    HRESULT PasteFromClipboard(LPCITEMIDLIST target) noexcept;

    // IVDDropFolder
    IUnknown* FolderUnknown() noexcept override;
    LPCITEMIDLIST FolderPidl() const noexcept override { return m_pidl; }
    LPCITEMIDLIST FolderAbsolutePidl() const noexcept override;
    void SetDroppedByDrag(bool on) noexcept override { m_droppedByDrag = on; }
    HWND ViewListWindow() noexcept override { return nullptr; }
    HWND OwnerWindow() noexcept override { return m_owner; }

private:
    // The data object of items or the drop target of one catalog (or of
    // this folder when `count` is 0).
    HRESULT CreateDropObject(HWND window, UINT count, LPCITEMIDLIST* lists, REFIID iid, void** out);

    int ShareMode() const noexcept;
    std::u16string FullName(LPCITEMIDLIST item) const;

    LPITEMIDLIST m_pidl = nullptr;  // relative to the cloud disk root; null for the root
    bool m_isRoot = false;
    bool m_signedIn = false;
    bool m_cacheOnly = false;
    com::ComPtr<IShellView> m_view;
    mutable LPITEMIDLIST m_absolute = nullptr;  // made on first use
    HWND m_owner = nullptr;                     // the last window the shell gave us
    // A Cut in one folder window is pasted in another: the flag is the process's.
    static inline std::atomic<bool> s_cutPending{false};
    bool m_droppedByDrag = false;
};

}  // namespace vd
