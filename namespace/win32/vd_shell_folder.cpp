#include "vd_shell_folder.h"

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>

#include "com_boundary.h"
#include "folder_refresh.h"
#include "login.h"
#include "message_box.h"
#include "platform/fault.h"
#include "platform/text.h"
#include "share_file_cache.h"
#include "shell_env.h"
#include "string_table.h"
#include "trace.h"
#include "vd_cache.h"

namespace vd {
namespace {

ViewObjects g_viewObjects;

using com::ComBoundary;
using com::ComPtr;

class CoTaskMemPidlAllocator final : public PidlAllocator {
public:
    void* Alloc(std::size_t bytes) noexcept override { return ::CoTaskMemAlloc(bytes); }
    void Free(void* p) noexcept override { ::CoTaskMemFree(p); }
};

PcPidl Bytes(LPCITEMIDLIST list) noexcept { return reinterpret_cast<PcPidl>(list); }
bool IsEmpty(LPCITEMIDLIST list) noexcept { return list == nullptr || list->mkid.cb == 0; }

// Largest element: the fixed part and a name of 259 characters with its zero.
constexpr std::size_t kMaxElementBytes = pidl_layout::kFixedBytes + 2 * pidl_layout::kMaxValidChars;
constexpr std::size_t kMaxElements = 128;

constexpr std::size_t kMaxDisplayChars = 2600;
constexpr std::size_t kMaxFullNameChars = 519;

HRESULT CopyToStrRet(const std::u16string& text, STRRET* out) {
    const std::size_t chars = std::min(text.size(), kMaxDisplayChars - 1);
    auto* buffer = static_cast<wchar_t*>(::CoTaskMemAlloc((chars + 1) * sizeof(wchar_t)));
    if (buffer == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::copy_n(text.data(), chars, reinterpret_cast<char16_t*>(buffer));
    buffer[chars] = L'\0';
    out->uType = STRRET_WSTR;
    out->pOleStr = buffer;
    return S_OK;
}

// Fixed nodes whose folders hold cloud data answer as catalogs.
bool IsCatalogNode(int index) {
    return index == kNodeCloudRoot || index == kNodePhonePictures || index == kNodeUnused6 ||
           index == kNodePhoneVideos || index == kNodeReceivedShares;
}

SFGAOF CatalogMask(const std::string& id) {
    constexpr SFGAOF kWithSubfolders = 0xE0000100;
    constexpr SFGAOF kWithoutSubfolders = 0x60000100;
    vdcache::CVDCache* cache = vdcache::CVDCache::GetInstance();
    return cache != nullptr && !id.empty() && cache->HasSubCatalog(id.substr(0, 32)) ? kWithSubfolders
                                                                                     : kWithoutSubfolders;
}

SFGAOF ItemMask(PcPidl item) {
    switch (VDPidlMgr::GetItemType(item)) {
        case kKindCatalog:
            return CatalogMask(platform::WideToAnsi(VDPidlMgr::GetIdString(item)));
        case kKindContent:
            return SFGAO_FILESYSTEM;
        case kKindNode: {
            const int index = VDPidlMgr::GetNodeIndex(item);
            if (!IsCatalogNode(index)) {
                return SFGAO_FOLDER;
            }
            const SymbolLink* row = CIVDPidlEnumEx::FindSymbolLink(index);
            if (row == nullptr || !row->catalogId) {
                return 0x60000100;
            }
            return CatalogMask(std::string(*row->catalogId));
        }
        default:
            return 0;
    }
}

HRESULT CompareResult(int order) { return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(order)); }

}  // namespace

PidlAllocator& ShellPidlAllocator() noexcept {
    static CoTaskMemPidlAllocator allocator;
    return allocator;
}

const VDPidlMgr& ShellPidlMgr() noexcept {
    static const VDPidlMgr mgr(ShellPidlAllocator());
    return mgr;
}

bool CheckShellList(LPCITEMIDLIST list) noexcept {
    if (list == nullptr) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(list);
    std::size_t total = 0;
    for (std::size_t n = 0;; ++n) {
        std::uint16_t cb = 0;
        std::memcpy(&cb, bytes + total, sizeof cb);
        if (cb == 0) {
            break;
        }
        if (n == kMaxElements || cb < pidl_layout::kMinValidCb || cb > kMaxElementBytes) {
            return false;
        }
        total += cb;
    }
    return ValidateList(bytes, total + 2).ok;
}

// ---------------------------------------------------------------- enumerator

STDMETHODIMP CIVDPidlEnum::Next(ULONG count, LPITEMIDLIST* out, ULONG* fetched) noexcept {
    if (out == nullptr || (count > 1 && fetched == nullptr)) {
        return E_POINTER;
    }
    std::uint32_t got = 0;
    const int rc = m_core.Next(count, reinterpret_cast<PidlPtr*>(out), &got);
    if (fetched != nullptr) {
        *fetched = got;
    }
    return rc == kEnumOk ? S_OK : S_FALSE;
}

STDMETHODIMP CIVDPidlEnum::Skip(ULONG count) noexcept { return m_core.Skip(count) == kEnumOk ? S_OK : S_FALSE; }

STDMETHODIMP CIVDPidlEnum::Reset() noexcept {
    m_core.Reset();
    return S_OK;
}

STDMETHODIMP CIVDPidlEnum::Clone(IEnumIDList** out) noexcept {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

// ---------------------------------------------------------------- folder

HRESULT CIVDShellFolder::CreateInstance(REFIID iid, void** out) noexcept {
    return com::CreateInstance<CIVDShellFolder>(iid, out);
}

HRESULT CIVDShellFolder::FinalConstruct() noexcept {
    m_pidl = nullptr;
    return ComBoundary("CIVDShellFolder::FinalConstruct", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::FinalConstruct");
        return ShellEnv::CheckAppVersion() ? S_OK : E_FAIL;
    });
}

void CIVDShellFolder::FinalRelease() noexcept {
    if (m_pidl != nullptr) {
        ::CoTaskMemFree(m_pidl);
        m_pidl = nullptr;
    }
    ::CoTaskMemFree(m_absolute);
    m_absolute = nullptr;
    m_view.reset();
}

STDMETHODIMP CIVDShellFolder::GetClassID(CLSID* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = CLSID_VDShellFolder;
    return S_OK;
}

STDMETHODIMP CIVDShellFolder::Initialize(LPCITEMIDLIST list) noexcept {
    return ComBoundary("CIVDShellFolder::Initialize", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::Initialize");
        if (list != nullptr && ShellEnv::RootList() == nullptr) {
            if (g_viewObjects.startViewLayer != nullptr) {
                g_viewObjects.startViewLayer();
            }
            const HRESULT hr = ShellEnv::FirstInitialize(list);
            m_isRoot = true;
            if (FAILED(hr)) {
                return hr;
            }
        }
        ShellEnv::StartLog();
        return S_OK;
    });
}

STDMETHODIMP CIVDShellFolder::GetCurFolder(LPITEMIDLIST* out) noexcept { return GetIDList(out); }

STDMETHODIMP CIVDShellFolder::SetIDList(LPCITEMIDLIST) noexcept { return E_NOTIMPL; }

STDMETHODIMP CIVDShellFolder::GetIDList(LPITEMIDLIST* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    LPCITEMIDLIST root = ShellEnv::RootList();
    if (root == nullptr) {
        return E_FAIL;  // not initialized: the folder has no place in the namespace yet
    }
    *out = m_pidl != nullptr ? ::ILCombine(root, m_pidl) : ::ILClone(root);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CIVDShellFolder::ParseDisplayName(HWND, IBindCtx*, LPWSTR, ULONG*, LPITEMIDLIST* out, ULONG*) noexcept {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

int CIVDShellFolder::ShareMode() const noexcept {
    if (IsEmpty(m_pidl)) {
        return 0;
    }
    const PcPidl last = VDPidlMgr::GetLastItem(Bytes(m_pidl));
    if (VDPidlMgr::GetItemType(last) == kKindNode && VDPidlMgr::GetNodeIndex(last) == kNodeReceivedShares) {
        return 1;
    }
    for (PcPidl item = Bytes(m_pidl); item != last; item = VDPidlMgr::GetNextItem(item)) {
        if (VDPidlMgr::GetItemType(item) == kKindNode && VDPidlMgr::GetNodeIndex(item) == kNodeReceivedShares) {
            return 2;
        }
    }
    return 0;
}

HRESULT CIVDShellFolder::_Login() noexcept {
    return ComBoundary("CIVDShellFolder::_Login", [&]() -> HRESULT {
        ShellEnv::OpenProcessLogger();
        ShellEnv::Configure();
        if (CVDLogin::GetInstance().Login() != LoginResult::SignedIn) {
            return E_ACCESSDENIED;
        }
        m_signedIn = true;
        return S_OK;
    });
}

void SetViewObjects(const ViewObjects& objects) noexcept { g_viewObjects = objects; }

STDMETHODIMP CIVDShellFolder::EnumObjects(HWND window, SHCONTF flags, IEnumIDList** out) noexcept {
    return EnumObjectsEx(window, flags, out, -1, -1, nullptr, nullptr);
}

HRESULT CIVDShellFolder::EnumObjectsEx(HWND window, SHCONTF flags, IEnumIDList** out, int first, int last,
                                       bool* atEnd, bool* secondFlag) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return ComBoundary("CIVDShellFolder::EnumObjects", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::EnumObjects");
        if (!ShellEnv::IsSignInMutexPresent() && ShellEnv::OsMajor() >= 6 && window == nullptr) {
            return E_FAIL;  // nobody signed in and no window to start the client for
        }
        // Hosts without a view (file dialogs, shell listings) enumerate first,
        // so the sign-in happens here as well as at view creation.
        if (!m_signedIn) {
            const HRESULT hr = _Login();
            if (FAILED(hr)) {
                return hr;
            }
        }
        ComPtr<CIVDPidlEnum> enumerator;
        HRESULT hr = com::MakeObject(enumerator, ShellEnv::EnumEnv(window));
        if (FAILED(hr)) {
            return hr;
        }
        const int shareMode = ShareMode();
        VD_LOG_DEBUG("@@##hWnd=%p", static_cast<void*>(window));
        if (window == nullptr) {
            VD_LOG_DEBUG("@@##hWnd=%p  hWnd == 0", static_cast<void*>(window));
        }
        const bool cacheOnly = m_cacheOnly || window == nullptr;
        const bool ok = first < 0 ? enumerator->Core().Init(Bytes(m_pidl), flags, cacheOnly, shareMode)
                                  : enumerator->Core().InitEx(Bytes(m_pidl), flags, cacheOnly, atEnd, secondFlag,
                                                              first, last, shareMode);
        if (!ok) {
            return E_FAIL;
        }
        return enumerator->QueryInterface(IID_IEnumIDList, reinterpret_cast<void**>(out));
    });
}

STDMETHODIMP CIVDShellFolder::BindToObject(LPCITEMIDLIST list, IBindCtx*, REFIID iid, void** out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return ComBoundary("CIVDShellFolder::BindToObject", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::BindToObject");
        if (!IsEqualIID(iid, IID_IShellFolder)) {
            return E_NOINTERFACE;
        }
        if (!CheckShellList(list) || IsEmpty(list)) {
            return E_INVALIDARG;
        }
        ComPtr<CIVDShellFolder> child;
        HRESULT hr = com::MakeObject(child);
        if (FAILED(hr)) {
            return hr;
        }
        child->m_pidl = m_pidl != nullptr ? ::ILCombine(m_pidl, list) : ::ILClone(list);
        if (child->m_pidl == nullptr) {
            return E_OUTOFMEMORY;
        }
        child->m_signedIn = m_signedIn;
        return child->QueryInterface(iid, out);
    });
}

STDMETHODIMP CIVDShellFolder::BindToStorage(LPCITEMIDLIST, IBindCtx*, REFIID, void** out) noexcept {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

int CIVDShellFolder::GetInternalSortIndex(int index) noexcept {
    switch (index) {
        case 4: return 1;
        case 8: return 2;
        case 2: return 3;
        case 3: return 4;
        case 1: return 5;
        case 7: return 6;
        case 5: return 7;
        case 9: return 8;
        case 6: return 12;
        case 10: return 13;
        default: return 0;
    }
}

STDMETHODIMP CIVDShellFolder::CompareIDs(LPARAM, LPCITEMIDLIST list1, LPCITEMIDLIST list2) noexcept {
    return ComBoundary("CIVDShellFolder::CompareIDs", [&]() -> HRESULT {
        if (!CheckShellList(list1) || !CheckShellList(list2) || IsEmpty(list1) || IsEmpty(list2)) {
            return E_INVALIDARG;
        }
        const PcPidl a = VDPidlMgr::GetLastItem(Bytes(list1));
        const PcPidl b = VDPidlMgr::GetLastItem(Bytes(list2));
        const int k1 = VDPidlMgr::GetItemType(a);
        const int k2 = VDPidlMgr::GetItemType(b);
        if (k1 == k2 && k1 != kKindNode) {
            char16_t n1[kMaxFullNameChars + 1] = {};
            char16_t n2[kMaxFullNameChars + 1] = {};
            std::size_t l1 = kMaxFullNameChars;
            std::size_t l2 = kMaxFullNameChars;
            VDPidlMgr::GetFullName(Bytes(list1), n1, l1);
            VDPidlMgr::GetFullName(Bytes(list2), n2, l2);
            const int c = std::u16string_view(n1, l1).compare(std::u16string_view(n2, l2));
            return CompareResult(c == 0 ? 0 : (c > 0 ? 1 : -1));
        }
        if (k1 == kKindNode && k2 == kKindNode) {
            const int s1 = GetInternalSortIndex(VDPidlMgr::GetNodeIndex(a));
            const int s2 = GetInternalSortIndex(VDPidlMgr::GetNodeIndex(b));
            return CompareResult(s1 == s2 ? 0 : (s1 > s2 ? 1 : -1));
        }
        if (k1 == kKindNode) {
            return CompareResult(-1);
        }
        if (k2 == kKindNode) {
            return CompareResult(1);
        }
        // Catalogs before contents, as the enumerator lists them.
        return CompareResult(k1 < k2 ? -1 : 1);
    });
}

STDMETHODIMP CIVDShellFolder::CreateViewObject(HWND window, REFIID iid, void** out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return ComBoundary("CIVDShellFolder::CreateViewObject", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::CreateViewObject");
        if (IsEqualIID(iid, IID_IShellView)) {
            HRESULT login = m_signedIn ? S_OK : _Login();
            if (!IsEmpty(m_pidl)) {
                const PcPidl last = VDPidlMgr::GetLastItem(Bytes(m_pidl));
                const int index = VDPidlMgr::GetItemType(last) == kKindNode ? VDPidlMgr::GetNodeIndex(last) : 0;
                if (index == kNodeCalendar || index == kNodeMessages || index == kNodeContacts || index == kNodeNotes) {
                    ShellEnv::ShellNimbraView(index, window);
                    return E_NOTIMPL;
                }
            }
            if (FAILED(login)) {
                return login;
            }
            if (g_viewObjects.createView != nullptr) {
                return g_viewObjects.createView(this, m_pidl, iid, out);
            }
            // Without the view library (tests of the folder alone): the shell's own view.
            SFV_CREATE create = {};
            create.cbSize = sizeof create;
            create.pshf = this;
            ComPtr<IShellView> view;
            HRESULT hr = ::SHCreateShellFolderView(&create, view.put());
            if (FAILED(hr)) {
                return hr;
            }
            m_view = view;
            return view->QueryInterface(iid, out);
        }
        if (IsEqualIID(iid, IID_IDropTarget)) {
            return CreateDropObject(window, 0, nullptr, iid, out);
        }
        return E_NOINTERFACE;
    });
}

STDMETHODIMP CIVDShellFolder::GetAttributesOf(UINT count, LPCITEMIDLIST* lists, SFGAOF* inOut) noexcept {
    if (inOut == nullptr) {
        return E_POINTER;
    }
    return ComBoundary("CIVDShellFolder::GetAttributesOf", [&]() -> HRESULT {
        if (count == 0 || lists == nullptr || IsEmpty(lists[0])) {
            *inOut &= 0xA0000140;
            return S_OK;
        }
        for (UINT i = 0; i < count; ++i) {
            if (!CheckShellList(lists[i]) || IsEmpty(lists[i])) {
                return E_INVALIDARG;
            }
        }
        for (UINT i = 0; i < count; ++i) {
            *inOut &= ItemMask(VDPidlMgr::GetLastItem(Bytes(lists[i])));
        }
        return S_OK;
    });
}

STDMETHODIMP CIVDShellFolder::GetUIObjectOf(HWND window, UINT count, LPCITEMIDLIST* lists, REFIID iid, UINT*,
                                            void** out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return ComBoundary("CIVDShellFolder::GetUIObjectOf", [&]() -> HRESULT {
        if (count == 0) {
            ui::ShowText(window, u"CMyVirtualFolder::GetUIObjectOf() nCount=0", u"NSF", MB_OK);
            return E_INVALIDARG;
        }
        if (lists == nullptr || !CheckShellList(lists[0])) {
            return E_INVALIDARG;
        }
        if (IsEqualIID(iid, IID_IContextMenu)) {
            return E_NOTIMPL;
        }
        if (IsEqualIID(iid, IID_IExtractIconW)) {
            if (count != 1 || g_viewObjects.createExtractIcon == nullptr) {
                return E_NOINTERFACE;
            }
            return g_viewObjects.createExtractIcon(
                reinterpret_cast<LPCITEMIDLIST>(VDPidlMgr::GetLastItem(Bytes(lists[0]))), iid, out);
        }
        if (IsEqualIID(iid, IID_IDropTarget) && count != 1) {
            return E_FAIL;
        }
        for (UINT i = 1; i < count; ++i) {
            if (!CheckShellList(lists[i])) {
                return E_INVALIDARG;
            }
        }
        if (IsEqualIID(iid, IID_IDataObject) || IsEqualIID(iid, IID_IDropTarget)) {
            if (IsEqualIID(iid, IID_IDropTarget) &&
                VDPidlMgr::GetItemType(VDPidlMgr::GetLastItem(Bytes(lists[0]))) != kKindCatalog) {
                return E_NOINTERFACE;  // only catalogs take drops
            }
            return CreateDropObject(window, count, lists, iid, out);
        }
        // Icons come with their own objects; until then the shell uses its defaults.
        return E_NOINTERFACE;
    });
}

std::u16string CIVDShellFolder::FullName(LPCITEMIDLIST item) const {
    const VDPidlMgr& mgr = ShellPidlMgr();
    UniquePidl joined = mgr.Own(m_pidl != nullptr ? mgr.Concatenate(Bytes(m_pidl), Bytes(item)) : mgr.Copy(Bytes(item)));
    if (!joined) {
        throw std::bad_alloc();
    }
    char16_t buffer[kMaxDisplayChars] = {};
    std::size_t length = kMaxDisplayChars - 1;
    if (VDPidlMgr::GetFullName(joined.get(), buffer, length) != kSOk) {
        return std::u16string();
    }
    return std::u16string(buffer, length);
}

STDMETHODIMP CIVDShellFolder::GetDisplayNameOf(LPCITEMIDLIST list, SHGDNF flags, STRRET* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    return ComBoundary("CIVDShellFolder::GetDisplayNameOf", [&]() -> HRESULT {
        const bool forParsing = (flags & 0xFF00) == SHGDN_FORPARSING;
        if (!IsEmpty(list) && !CheckShellList(list)) {
            return E_INVALIDARG;
        }
        // The name in its folder, asked once for every item listed: nothing more.
        if (!IsEmpty(list) && ((flags & 0xFF) == SHGDN_INFOLDER || (flags & 0xFF00) == 0)) {
            return CopyToStrRet(VDPidlMgr::GetName(Bytes(list)), out);
        }
        const std::u16string displayName = platform::Utf8ToUtf16(resources::LoadText(resources::IDS_VD_DISPLAY_NAME));
        if (IsEmpty(list)) {
            return CopyToStrRet(forParsing ? displayName + u"\\" : displayName, out);
        }
        std::u16string text = forParsing ? GetTempDirectory() : displayName;
        text += u"\\";
        std::u16string full = FullName(list);
        const std::u16string rootPrefix = std::u16string(CloudRootName()) + u"\\";
        if (full.starts_with(rootPrefix) && ShellEnv::IsHostInExplorer()) {
            full.erase(0, rootPrefix.size());
        }
        return CopyToStrRet(text + full, out);
    });
}

STDMETHODIMP CIVDShellFolder::SetNameOf(HWND, LPCITEMIDLIST, LPCWSTR, SHGDNF, LPITEMIDLIST* out) noexcept {
    if (out != nullptr) {
        *out = nullptr;
    }
    return E_NOTIMPL;
}

STDMETHODIMP CIVDShellFolder::GetInfoTip(DWORD, LPWSTR* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    return ComBoundary("CIVDShellFolder::GetInfoTip", [&]() -> HRESULT {
        const std::u16string tip = platform::Utf8ToUtf16(resources::LoadText(resources::IDS_INFO_TIP));
        const std::size_t bytes = (tip.size() + 1) * sizeof(wchar_t);
        *out = static_cast<LPWSTR>(::CoTaskMemAlloc(bytes));
        if (*out == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::memcpy(*out, tip.c_str(), bytes);
        return S_OK;
    });
}

STDMETHODIMP CIVDShellFolder::GetInfoFlags(DWORD*) noexcept { return E_NOTIMPL; }

STDMETHODIMP CIVDShellFolder::GetDetailsOf(PCUITEMID_CHILD item, UINT column, SHELLDETAILS* out) noexcept {
    if (out == nullptr) {
        return E_POINTER;
    }
    return ComBoundary("CIVDShellFolder::GetDetailsOf", [&]() -> HRESULT {
        struct Column {
            int title;
            int format;
            int chars;
            int detail;  // VDPidlMgr::GetDetailText column, -1 for the name
        };
        static constexpr Column kColumns[] = {{resources::IDS_COLUMN_NAME, LVCFMT_LEFT, 30, -1},
                                              {resources::IDS_COLUMN_SIZE, LVCFMT_RIGHT, 14, 2},
                                              {resources::IDS_COLUMN_MODIFIED, LVCFMT_LEFT, 20, 3}};
        if (column >= std::size(kColumns)) {
            return E_FAIL;  // no more columns
        }
        const Column& c = kColumns[column];
        out->fmt = c.format;
        out->cxChar = c.chars;
        if (item == nullptr) {
            return CopyToStrRet(platform::Utf8ToUtf16(resources::LoadText(c.title)), &out->str);
        }
        if (!CheckShellList(item) || IsEmpty(item)) {
            return E_INVALIDARG;
        }
        if (c.detail < 0) {
            return CopyToStrRet(VDPidlMgr::GetName(Bytes(item)), &out->str);
        }
        return CopyToStrRet(VDPidlMgr::GetDetailText(Bytes(item), c.detail).value_or(u""), &out->str);
    });
}

STDMETHODIMP CIVDShellFolder::ColumnClick(UINT) noexcept { return S_FALSE; }  // the view sorts by CompareIDs

bool CIVDShellFolder::IsSyncFolder(LPCITEMIDLIST folder, const std::string& catalogId) noexcept {
    try {
        vdcache::CVDCache* cache = vdcache::CVDCache::GetInstance();
        if (cache == nullptr || (folder != nullptr && !CheckShellList(folder))) {
            return false;
        }
        ListRequest request;
        request.catalogID = IsEmpty(folder) ? std::string("00019700101000000001")
                                            : platform::WideToAnsi(VDPidlMgr::GetIdString(Bytes(folder)));
        ListResult result;
        if (cache->GetDiskFromCache(request, &result) != vdcache::kCacheOk) {
            return false;
        }
        for (const CatalogInfo& c : result.catalogs) {
            if (c.catalogID == catalogId) {
                return c.catalogType == "7";
            }
        }
    } catch (...) {
    }
    return false;
}

void CIVDShellFolder::GetDisk(LPCITEMIDLIST list) noexcept {
    platform::NoThrow("CIVDShellFolder::GetDisk", [&] {
        if (IsEmpty(list) || !CheckShellList(list)) {
            return;
        }
        const FolderCaches caches{vdcache::CVDCache::GetInstance(), vdcache::CVDShareFileCache::GetInstance(),
                                  CVDLogin::GetInstance().GetAccount()};
        RefreshFolderListing(caches, Bytes(list), ShellPidlMgr());
    });
}

std::u16string CIVDShellFolder::GetTempDirectory() { return CVDLogin::GetInstance().TempFolder(); }
std::u16string CIVDShellFolder::GetPassID() { return CVDLogin::GetInstance().GetPassID(); }
void CIVDShellFolder::SetUserID(std::u16string_view id) { CVDLogin::GetInstance().SetUserID(id); }

}  // namespace vd
