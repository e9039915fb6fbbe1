#include "shell_env.h"

#include <shellapi.h>

#include <atomic>
#include <map>
#include <utility>
#include <mutex>

#include "breviary_cache.h"
#include "cloud_sdk.h"
#include "login.h"
#include "message_box.h"
#include "module_log.h"
#include "nimbra_messages.h"
#include "platform/files.h"
#include "platform/message_channel.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "predownload_tbimg.h"
#include "share_file_cache.h"
#include "thread_pool.h"
#include "shell_transfer_host.h"
#include "string_table.h"
#include "trace.h"
#include "untils.h"
#include "vd_cache.h"
#include "vd_module.h"
#include "vd_paths.h"
#include "vd_settings.h"
#include "xlogger_trace.h"

namespace vd {
namespace {

std::u16string ExePath() { return platform::ExecutablePath(); }

std::u16string Documents() {
    return platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Documents).value_or(u"");
}

std::u16string ModuleParent() { return reinterpret_cast<const char16_t*>(VDModule::Instance().m_parentFolder); }

bool StartClient(const std::u16string& exe) {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    info.hwnd = ::GetDesktopWindow();
    info.lpVerb = L"open";
    info.lpFile = reinterpret_cast<const wchar_t*>(exe.c_str());
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info)) {
        VD_LOG_ERROR("ShellExecuteEx failed: %lu", ::GetLastError());
        return false;
    }
    if (info.hProcess != nullptr) {
        ::CloseHandle(info.hProcess);
    }
    return true;
}

bool Is64BitProcessor() {
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// Cache notifications, on SDK threads: a catalog changed (posted to this
// process's views), one page of a first listing arrived (sent to every view).
void OnCatalogChanged(const std::string& catalogId) {
    Untils::SendCopyData2VDPer(SHELL_CATALOG_CHANGED, EncodeRecordBytes(catalogId));
}

void OnPageChanged(const std::string& catalogId) {
    Untils::SendCopyDataToViews(SHELL_PAGE_CHANGED, EncodeRecordBytes(catalogId));
}

// The prefetch of the signed-in account's thumbnails. Never freed: pool
// jobs may still run when the library is unloaded.
struct ThumbnailWiring {
    std::mutex lock;
    vdcache::ThumbnailRecords records;
    vdcache::ThreadPool* pool = nullptr;
    vdcache::PreDownloadTbimg* prefetch = nullptr;
    std::string account;
    // Catalogs with a fetch running, and whether another was asked for
    // meanwhile: two fetches of one catalog would write the same files.
    std::map<std::string, bool> running;
};

ThumbnailWiring& Thumbnails() {
    static auto* wiring = new ThumbnailWiring;
    return *wiring;
}

// The prefetch for the account signed in now; null before a sign-in.
vdcache::PreDownloadTbimg* ThumbnailPrefetch() {
    ThumbnailWiring& w = Thumbnails();
    const std::string account = CVDLogin::GetInstance().GetAccount();
    std::lock_guard<std::mutex> guard(w.lock);
    if (account.empty() || CurrentCloudSdk() == nullptr) return nullptr;
    if (w.prefetch != nullptr && w.account == account) return w.prefetch;
    if (w.pool == nullptr) w.pool = new vdcache::ThreadPool(2);
    // An earlier account's prefetch stays: its jobs may still run.
    w.prefetch = new vdcache::PreDownloadTbimg(
        CurrentCloudSdk(), &w.records, w.pool, platform::WideToAnsi(Documents()), account,
        [](const std::string& id) { return vdcache::CVDCache::GetInstance()->GetCatalogPath(id); });
    w.account = account;
    vdcache::CVDCache::GetInstance()->SetThumbnailPrefetch(w.prefetch);
    return w.prefetch;
}

class ThumbnailJob final : public vdcache::ThreadJob {
public:
    ThumbnailJob(vdcache::PreDownloadTbimg* prefetch, std::string catalogId, HWND notify, UINT message)
        : m_prefetch(prefetch), m_catalogId(std::move(catalogId)), m_notify(notify), m_message(message) {}
    void DoJob(void*) override {
        ThumbnailWiring& w = Thumbnails();
        bool again = true;
        while (again) {
            ListRequest request;
            request.account = CVDLogin::GetInstance().GetAccount();
            request.catalogID = m_catalogId;
            ListResult listing;
            if (vdcache::CVDCache::GetInstance()->GetDiskFromCache(request, &listing) == vdcache::kCacheOk) {
                VD_LOG_INFO("下载缩略图开始 %d", static_cast<int>(::GetTickCount()));
                m_prefetch->PreDownloadTbimgFiles(m_catalogId, listing);
            }
            if (::IsWindow(m_notify)) ::PostMessageW(m_notify, m_message, 0, 0);
            std::lock_guard<std::mutex> guard(w.lock);
            again = std::exchange(w.running[m_catalogId], false);
            if (!again) w.running.erase(m_catalogId);
        }
    }

private:
    vdcache::PreDownloadTbimg* m_prefetch;
    std::string m_catalogId;
    HWND m_notify;
    UINT m_message;
};

std::once_flag g_configured;
std::atomic<bool> g_logStarted{false};

}  // namespace

void ShellEnv::Configure() {
    std::call_once(g_configured, [] {
        if (CurrentCloudSdk() == nullptr) {
            InstallCloudSdk(GetCloudSdk());
        }
        LoginEnv env;
        env.registry = &platform::SystemRegistry();
        env.profile = &platform::SystemProfile();
        env.files = &platform::SystemFileSystem();
        env.documents = Documents();
        env.moduleParent = ModuleParent();
        env.setupFolder = config::ReadSetupFolder(*env.registry, Is64BitProcessor()).value_or(u"");
        env.cache = vdcache::CVDCache::GetInstance();
        env.shareCache = vdcache::CVDShareFileCache::GetInstance();
        env.breviary = vdcache::CBreviaryCache::GetInstance();
        env.thumbnails = &Thumbnails().records;
        env.startClient = &StartClient;
        env.onCatalogChanged = &OnCatalogChanged;
        env.onPageChanged = &OnPageChanged;
        vdcache::ShareUserHooks hooks;
        hooks.broadcastLoaded = [] { Untils::SendCopyData2VDPer(SHELL_SHARE_USERS_LOADED, std::string_view()); };
        hooks.tokenInvalid = [] {
            VD_LOG_INFO("Send SHELL_NIMBRA_TOKEN_INVALID To Nimbra");
            Untils::SendToNimbra(SHELL_NIMBRA_TOKEN_INVALID, std::string_view(), 5000);
        };
        hooks.contactFolder = [] { return platform::WideToAnsi(CVDLogin::GetInstance().AccountFolder()); };
        env.cache->SetShareUserHooks(std::move(hooks));
        CVDLogin::GetInstance().Configure(std::move(env));
        static vdtransfer::ShellTransferHost uploadHost(ModuleParent());
        vdtransfer::SetTransferHost(&uploadHost);
    });
}

bool ShellEnv::CheckAppVersion() { return config::CheckAppVersion(ExePath(), &module::CAppVersion::Major); }

LPCITEMIDLIST ShellEnv::RootList() { return VDModule::Instance().m_rootPidl; }

HRESULT ShellEnv::FirstInitialize(LPCITEMIDLIST root) {
    VDModule& module = VDModule::Instance();
    module.m_rootPidl = ::ILClone(root);
    if (module.m_rootPidl == nullptr) {
        return E_OUTOFMEMORY;
    }
    Configure();
    return module::GetGlobalSettings() ? S_OK : E_FAIL;
}

void ShellEnv::StartLog() {
    if (!g_logStarted.load()) {
        g_logStarted.store(module::StartModuleLog(Documents(), ModuleParent(), ExePath()));
    }
}

void ShellEnv::OpenProcessLogger() {
    static std::once_flag opened;
    std::call_once(opened, [] {
        if (XLOGGER::OpenProcessLogger(config::DataFolders(Documents()).XLogFolder()) == nullptr) {
            VD_LOG_WARN("the process logger did not open: scope traces stay off");
        }
    });
}

bool ShellEnv::IsSignInMutexPresent() { return platform::NamedMutex::Exists(kSignInMutexName); }

DWORD ShellEnv::OsMajor() { return VDModule::Instance().m_osMajor; }

bool ShellEnv::IsHostInExplorer() { return config::IsHostInExplorer(ExePath()); }

PidlEnumEnv ShellEnv::EnumEnv(HWND window) {
    const CVDLogin& login = CVDLogin::GetInstance();
    PidlEnumEnv env;
    env.cache = vdcache::CVDCache::GetInstance();
    env.shareCache = vdcache::CVDShareFileCache::GetInstance();
    env.account = login.GetAccount();
    env.userId = platform::WideToAnsi(login.GetUserID());
    if (window != nullptr) {
        // The caller's own window owns the box, never whatever is in front.
        env.reportShareFailure = [window](int id) { ui::ShowMessage(window, id); };
    }
    return env;
}

void ShellEnv::ShellNimbraView(int nodeIndex, HWND window) {
    VD_TRACE("CIVDShellFolder::ShellNimbraView");
    const auto login = ReadSignInValue(platform::SystemRegistry(), kLarkmereKey, u"RCSLoginInfo");
    if (!login) {
        return;
    }
    const char16_t* page = nullptr;
    switch (nodeIndex) {
        case kNodeCalendar: page = u"calender"; break;
        case kNodeMessages: page = u"message"; break;
        case kNodeContacts: page = u"contact"; break;
        case kNodeNotes: page = u"nimbranote"; break;
        default: return;
    }
    if (nodeIndex == kNodeCalendar) {
        if (platform::WindowExists(kClientWindowName)) {
            platform::SendCopyData(kClientWindowName, NIMBRA_PAGE_REQUEST, EncodeRecordText(page), 1000);
        }
        return;
    }
    if (nodeIndex == kNodeMessages) {
        const std::u16string settings = CVDLogin::GetInstance().AccountSettingsFile();
        if (!settings.empty()) {
            platform::SystemProfile().WriteString(settings, u"Pandrel", u"NewFunctionMsg", u"0");
        }
    }
    // Opening a page: the network first, then the page program, then its
    // window if it runs, else the program itself.
    if (!config::IsNetworkAvailable(platform::SystemRegistry())) {
        ui::ShowMessage(window, resources::IDS_NETWORK_UNAVAILABLE);
        return;
    }
    const std::u16string helper = ModuleParent() + u"\\mhost.exe";
    if (!platform::SystemFileSystem().Exists(helper)) {
        ui::ShowMessage(window, resources::IDS_NO_CLIENT);
        return;
    }
    if (platform::WindowExists(kPageHelperWindowName)) {
        platform::SendCopyData(kPageHelperWindowName, NIMBRA_PAGE_REQUEST, EncodeRecordText(page), 1000);
        return;
    }
    // The sign-in value and ";" lead; the page follows; the messages page
    // ends with ";" and the pass id.
    std::u16string parameters = *login + u";" + page;
    if (nodeIndex == kNodeMessages) {
        parameters += u";" + CVDLogin::GetInstance().GetPassID();
    }
    ::ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(helper.c_str()),
                    reinterpret_cast<const wchar_t*>(parameters.c_str()), nullptr, SW_SHOWNORMAL);
}

std::u16string ShellEnv::UploadFilterSuffix() {
    return config::ReadUploadFilterSuffix(platform::SystemProfile(), ModuleParent());
}

std::u16string ShellEnv::ThumbnailFolder(const std::string& catalogId) {
    vdcache::PreDownloadTbimg* prefetch = ThumbnailPrefetch();
    if (prefetch == nullptr) return {};
    const std::string folder =
        prefetch->GetBreviaryPath(vdcache::CVDCache::GetInstance()->GetCatalogPath(catalogId));
    return platform::AnsiToWide(folder);
}

void ShellEnv::BeginDownloadTbimg(const std::string& catalogId, HWND notify, UINT message) {
    vdcache::PreDownloadTbimg* prefetch = ThumbnailPrefetch();
    if (prefetch == nullptr || catalogId.empty()) return;
    ThumbnailWiring& w = Thumbnails();
    {
        std::lock_guard<std::mutex> guard(w.lock);
        const auto [at, fresh] = w.running.emplace(catalogId, false);
        if (!fresh) {
            at->second = true;  // the running fetch goes round once more
            return;
        }
    }
    w.pool->CallJob(new ThumbnailJob(prefetch, catalogId, notify, message));
}

}  // namespace vd
