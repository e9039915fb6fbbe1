// The cloud folder's drop entry: data dropped on it (or pasted) becomes an
// upload task (local files) or a copy or move on the service (cloud items).
#include <windows.h>
#include <shellapi.h>

#include "cloud_copy_move.h"
#include "com_boundary.h"
#include "drop_blocks.h"
#include "drop_rules.h"
#include "folder_refresh.h"
#include "login.h"
#include "message_box.h"
#include "platform/text.h"
#include "result_msg.h"
#include "share_file_cache.h"
#include "shell_env.h"
#include "string_table.h"
#include "trace.h"
#include "upload_task.h"
#include "vd_cache.h"
#include "vd_data_object.h"
#include "vd_drop_target.h"
#include "vd_shell_folder.h"

namespace vd {

using com::ComBoundary;
using com::ComPtr;

namespace {

PcPidl Bytes(LPCITEMIDLIST list) noexcept { return reinterpret_cast<PcPidl>(list); }

void Refresh(PcPidl list) {
    const FolderCaches caches{vdcache::CVDCache::GetInstance(), vdcache::CVDShareFileCache::GetInstance(),
                              CVDLogin::GetInstance().GetAccount()};
    RefreshFolderListing(caches, list, VDPidlMgr());
}

// The catalogs a folder holds, as the catalog cache knows them now.
std::vector<CatalogInfo> CachedCatalogs(const std::string& catalogId) {
    ListRequest request;
    request.account = CVDLogin::GetInstance().GetAccount();
    request.catalogID = catalogId;
    ListResult result;
    vdcache::CVDCache* cache = vdcache::CVDCache::GetInstance();
    if (cache == nullptr || cache->GetDiskFromCache(request, &result) != vdcache::kCacheOk) {
        return {};
    }
    return result.catalogs;
}

bool UnderReceivedShares(PcPidl list) {
    for (PcPidl e = list; e != nullptr && VDPidlMgr::GetByteSize(e) > 3; e = VDPidlMgr::GetNextItem(e)) {
        if (VDPidlMgr::GetItemType(e) == kKindNode && VDPidlMgr::GetNodeIndex(e) == kNodeReceivedShares) {
            return true;
        }
    }
    return false;
}

// The process around a copy or move, for the shell's thread.
class ShellCopyMoveHost final : public vdtransfer::ICopyMoveHost {
public:
    ShellCopyMoveHost(CIVDShellFolder& folder, HWND owner) : m_folder(folder), m_owner(owner) {}
    ICloudSdk* Sdk() override { return CurrentCloudSdk(); }
    std::string Account() override { return CVDLogin::GetInstance().GetAccount(); }
    std::string ResultMessage(int code) override { return CResultMsg::GetInstance().GetMsg(code); }
    void ShowMessage(const std::u16string& text, bool handIcon) override {
        ui::ShowText(m_owner, text, platform::Utf8ToUtf16(resources::LoadText(resources::IDS_CAPTION)),
                     MB_OK | (handIcon ? MB_ICONHAND : MB_ICONINFORMATION));
    }
    bool IsSyncFolder(PcPidl parent, const std::string& catalogId) override {
        return m_folder.IsSyncFolder(reinterpret_cast<LPCITEMIDLIST>(parent), catalogId);
    }
    bool HasSameDir(PcPidl target, const std::u16string& name) override {
        const std::string wanted = platform::WideToAnsi(name);
        for (const CatalogInfo& c : CachedCatalogs(vdtransfer::FolderCatalogId(target))) {
            if (c.catalogName == wanted) {
                return true;
            }
        }
        return false;
    }
    void EmptyClipboard() override {
        if (::OpenClipboard(nullptr)) {
            ::EmptyClipboard();
            ::CloseClipboard();
        }
    }
    void Refresh(PcPidl folder) override { vd::Refresh(folder); }

private:
    CIVDShellFolder& m_folder;
    HWND m_owner;
};

// Holds a medium's memory locked while it is read.
class LockedMedium {
public:
    explicit LockedMedium(HGLOBAL block) : m_block(block), m_data(block ? ::GlobalLock(block) : nullptr) {}
    ~LockedMedium() {
        if (m_data != nullptr) {
            ::GlobalUnlock(m_block);
        }
    }
    LockedMedium(const LockedMedium&) = delete;
    LockedMedium& operator=(const LockedMedium&) = delete;
    const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(m_data); }
    std::size_t size() const { return m_data != nullptr ? ::GlobalSize(m_block) : 0; }

private:
    HGLOBAL m_block;
    void* m_data;
};

}  // namespace

IUnknown* CIVDShellFolder::FolderUnknown() noexcept { return static_cast<IShellFolder*>(this); }

LPCITEMIDLIST CIVDShellFolder::FolderAbsolutePidl() const noexcept {
    if (m_absolute == nullptr && ShellEnv::RootList() != nullptr) {
        m_absolute = m_pidl != nullptr ? ::ILCombine(ShellEnv::RootList(), m_pidl) : ::ILClone(ShellEnv::RootList());
    }
    return m_absolute;
}

HRESULT CIVDShellFolder::_DoDrop(IDataObject* data, DWORD mode, LPCITEMIDLIST target, int formatIndex) noexcept {
    if (data == nullptr) {
        return E_POINTER;
    }
    return ComBoundary("CIVDShellFolder::_DoDrop", [&]() -> HRESULT {
        VD_TRACE("CIVDShellFolder::_DoDrop");
        if (target != nullptr && target->mkid.cb != 0 && VDPidlMgr::GetFlag(VDPidlMgr::GetLastItem(Bytes(target))) == 1) {
            ui::ShowText(m_owner, u"该目录下的文件不支持此类操作！", u"提示", MB_OK);
            return S_OK;
        }
        FORMATETC format = {0, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
        if (formatIndex == vdtransfer::kFormatHDrop) {
            format.cfFormat = CF_HDROP;
        } else if (formatIndex == vdtransfer::kFormatNseDragDrop) {
            format.cfFormat = vdtransfer::NseDragDropFormat();
        } else {
            return E_INVALIDARG;
        }
        STGMEDIUM medium = {};
        if (FAILED(data->GetData(&format, &medium))) {
            return E_INVALIDARG;
        }
        if (medium.tymed != TYMED_HGLOBAL || medium.hGlobal == nullptr) {
            ::ReleaseStgMedium(&medium);
            return E_INVALIDARG;
        }
        HRESULT hr = E_UNEXPECTED;
        try {
            hr = formatIndex == vdtransfer::kFormatHDrop ? _DoDrop_HDROP(medium.hGlobal, mode, target)
                                                         : _DoDrop_NSEDRAGDROP(medium.hGlobal, mode, target);
        } catch (...) {
            ::ReleaseStgMedium(&medium);
            throw;
        }
        ::ReleaseStgMedium(&medium);
        return hr;
    });
}

HRESULT CIVDShellFolder::_DoDrop_HDROP(HGLOBAL drop, DWORD mode, LPCITEMIDLIST target) {
    VD_TRACE("CIVDShellFolder::_DoDrop_HDROP");
    const std::string account = CVDLogin::GetInstance().GetAccount();
    if (m_droppedByDrag) {
        if (ICloudSdk* sdk = CurrentCloudSdk()) {
            OprLogRecord record;
            record.Set(OprLogRecord::kCode, "30300069");
            record.Set(OprLogRecord::kAccount, account);
            record.Set(OprLogRecord::kChannel, "10000024");
            record.Set(OprLogRecord::kResult, "0");
            record.Set(OprLogRecord::kTerminal, "PC");
            record.Set(OprLogRecord::kProduct, "ORLO");
            sdk->RecordOprLogExAndXML(record, 1);
        }
    }
    if (!IsTargetOK(target)) {
        ui::ShowMessage(m_owner, resources::IDS_NOT_ALLOWED_HERE, MB_OK | MB_ICONHAND);
        return E_FAIL;
    }
    std::vector<std::u16string> paths;
    {
        LockedMedium block(drop);
        if (block.data() == nullptr) {
            return E_OUTOFMEMORY;
        }
        auto read = vdtransfer::ReadDropFiles(block.data(), block.size(), MAX_PATH - 1);
        if (!read) {
            VD_LOG_WARN("unreadable CF_HDROP block of %zu bytes", block.size());
            return E_INVALIDARG;
        }
        paths = std::move(*read);
    }
    VDPidlMgr mgr;
    UniquePidl full = mgr.Own(Util::AddMyFilePidl(mgr, Bytes(target)));
    if (!full) {
        return E_OUTOFMEMORY;
    }
    const std::string targetId = vdtransfer::FolderCatalogId(full.get());
    std::vector<std::string> folders;
    for (const CatalogInfo& c : CachedCatalogs(targetId)) {
        folders.push_back(c.catalogName);
    }
    const std::u16string filter = ShellEnv::UploadFilterSuffix();
    vdtransfer::DropCollection collected = vdtransfer::CollectDrop(paths, folders, filter);
    if (auto refusal = vdtransfer::DropRefusal(collected, Util::IsCurRevShareDir(full.get()), static_cast<int>(mode))) {
        ui::ShowText(m_owner, refusal->text, platform::Utf8ToUtf16(resources::LoadText(refusal->captionId)),
                     MB_OK | (refusal->handIcon ? MB_ICONHAND : MB_ICONINFORMATION));
        return S_FALSE;
    }
    VD_LOG_INFO("szDropTarget %s", targetId.c_str());
    collected.root.catalogId = targetId;
    auto* task = new vdtransfer::CVDUploadFileTask();
    task->mode = static_cast<int>(mode);
    task->title = platform::AnsiToWide(collected.title);
    task->shareTarget = UnderReceivedShares(full.get()) ? 1 : 0;
    UniquePidl refreshed = mgr.Own(mgr.Copy(full.get()));
    auto done = std::make_shared<UniquePidl>(std::move(refreshed));
    const int started = task->StartUploadServer(
        collected.root, account, full.get(), collected.emptyCount, collected.emptyFiles, collected.sameNameCount,
        collected.sameNameFolders, collected.itemCount, collected.byteTotal, platform::AnsiToWide(targetId), m_owner,
        [done](int result, const std::vector<vdtransfer::UploadResultItem>&, PcPidl) {
            VD_LOG_INFO("uploadTaskCallback %d", result);
            if (*done) {
                Refresh(done->get());
            }
        });
    return started == 0 ? S_OK : E_FAIL;
}

HRESULT CIVDShellFolder::_DoDrop_NSEDRAGDROP(HGLOBAL drop, DWORD mode, LPCITEMIDLIST target) {
    VD_TRACE("CIVDShellFolder::_DoDrop_NSEDRAGDROP");
    LockedMedium block(drop);
    if (block.data() == nullptr) {
        return E_FAIL;
    }
    ShellCopyMoveHost host(*this, m_owner);
    vdtransfer::NseDrop request;
    request.block = block.data();
    request.size = block.size();
    request.target = Bytes(target);
    request.mode = static_cast<int>(mode);
    request.cutPending = s_cutPending;
    request.droppedByDrag = m_droppedByDrag;
    return vdtransfer::DoDropNseDragDrop(host, request);
}

HRESULT CIVDShellFolder::CreateDropObject(HWND window, UINT count, LPCITEMIDLIST* lists, REFIID iid, void** out) {
    if (window != nullptr) {
        m_owner = window;
    }
    if (IsEqualIID(iid, IID_IDataObject)) {
        ComPtr<vdtransfer::CIVDDataObject> data;
        HRESULT hr = com::MakeObject(data);
        if (SUCCEEDED(hr)) {
            hr = data->_Init(this, count, lists);
        }
        return SUCCEEDED(hr) ? data->QueryInterface(iid, out) : hr;
    }
    // The drop target of one catalog (or of this folder itself).
    VDPidlMgr mgr;
    UniquePidl catalog;
    if (count == 1 && lists != nullptr) {
        catalog = mgr.Own(m_pidl != nullptr ? mgr.Concatenate(Bytes(m_pidl), Bytes(lists[0])) : mgr.Copy(Bytes(lists[0])));
        if (!catalog) {
            return E_OUTOFMEMORY;
        }
    }
    if (catalog) {
        // The drop lands on the catalog's own folder object.
        ComPtr<CIVDShellFolder> child;
        HRESULT hr = com::MakeObject(child);
        if (FAILED(hr)) {
            return hr;
        }
        child->m_pidl = reinterpret_cast<LPITEMIDLIST>(ShellPidlMgr().Copy(catalog.get()));
        if (child->m_pidl == nullptr) {
            return E_OUTOFMEMORY;
        }
        child->m_signedIn = m_signedIn;
        child->m_owner = m_owner;
        return child->CreateDropObject(window, 0, nullptr, iid, out);
    }
    ComPtr<vdtransfer::CIVDDropTarget> dropTarget;
    HRESULT hr = com::MakeObject(dropTarget);
    if (SUCCEEDED(hr)) {
        hr = dropTarget->_Init(this, FolderAbsolutePidl());
    }
    return SUCCEEDED(hr) ? dropTarget->QueryInterface(iid, out) : hr;
}

HRESULT CIVDShellFolder::CopyToClipboard(UINT count, LPCITEMIDLIST* items, bool cut) noexcept {
    return ComBoundary("CIVDShellFolder::CopyToClipboard", [&]() -> HRESULT {
        ComPtr<vdtransfer::CIVDDataObject> data;
        HRESULT hr = com::MakeObject(data);
        if (SUCCEEDED(hr)) {
            hr = data->_Init(this, count, items);
        }
        if (FAILED(hr)) {
            return hr;
        }
        data->SetMode(cut ? vdtransfer::CIVDDataObject::kCut : vdtransfer::CIVDDataObject::kCopied);
        hr = ::OleSetClipboard(data.get());
        if (SUCCEEDED(hr)) {
            s_cutPending = cut;
        }
        return hr;
    });
}

HRESULT CIVDShellFolder::PasteFromClipboard(LPCITEMIDLIST target) noexcept {
    return ComBoundary("CIVDShellFolder::PasteFromClipboard", [&]() -> HRESULT {
        ComPtr<IDataObject> data;
        HRESULT hr = ::OleGetClipboard(data.put());
        if (FAILED(hr)) {
            return hr;
        }
        hr = _DoDrop(data.get(), vdtransfer::kDropPaste, target, vdtransfer::kFormatNseDragDrop);
        if (hr == E_INVALIDARG) {
            hr = _DoDrop(data.get(), vdtransfer::kDropPaste, target, vdtransfer::kFormatHDrop);
        }
        s_cutPending = false;
        return hr;
    });
}

}  // namespace vd
