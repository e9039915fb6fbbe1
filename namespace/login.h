#pragma once
// Sign-in state of the process. The desktop client signs the user in, holds
// the sign-in mutex and leaves the sign-in values in HKCU; this class reads
// them, initialises the SDK once, opens the account's caches when the account
// changes, and keeps copies of the account data every other thread reads.
// Portable: the OS is reached through the platform interfaces only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cloud_sdk.h"
#include "nimbra_messages.h"
#include "vd_cache.h"

namespace platform {
class IRegistry;
class IProfile;
class IFileSystem;
}  // namespace platform

namespace vdcache {
class CVDShareFileCache;
class CBreviaryCache;
class ThumbnailRecords;
}  // namespace vdcache

namespace vd {

inline constexpr char16_t kSignInMutexName[] = u"ORLOSyncLoginMutex";
inline constexpr char16_t kClientExeName[] = u"Nimbra.exe";
inline constexpr char16_t kLarkmereKey[] = u"SOFTWARE\\Larkmere";
inline constexpr char16_t kOrloKey[] = u"SOFTWARE\\Larkmere\\ORLO";
// Longest value accepted, terminator included.
inline constexpr std::size_t kMaxSignInValueBytes = 2048;

// A REG_SZ / REG_EXPAND_SZ value of HKCU that passes the reader's rules:
// at most 2048 bytes, an even byte count, a terminating zero unit.
std::optional<std::u16string> ReadSignInValue(platform::IRegistry& registry, std::u16string_view key,
                                              std::u16string_view name);

// The account names a folder under <documents>\ORLO: true when it stays one
// plain folder name there.
bool IsSafeFolderName(std::u16string_view name);

struct LoginFields {
    std::u16string account, token, opToken;
};
// "account;token;opToken": all three present and non-empty.
std::optional<LoginFields> SplitLoginInfo(std::u16string_view value);
// Three parts split at the first and second ":" (the last keeps later ":").
std::optional<TokenInfoEx> SplitOpToken(std::string_view value);

struct ProxyFields {
    std::string type = "3";  // "1": a configured proxy; anything else reads as 3
    std::string host, port, user, password;
};
ProxyFields SplitProxy(std::string_view value);

// What a login needs from its host process.
struct LoginEnv {
    platform::IRegistry* registry = nullptr;
    platform::IProfile* profile = nullptr;
    platform::IFileSystem* files = nullptr;
    ICloudSdk* sdk = nullptr;          // null: CurrentCloudSdk() at each call
    std::u16string documents;          // My Documents; data folders live under <documents>\ORLO
    std::u16string moduleParent;       // holds Nimbra.exe and sdkconfig.ini
    std::u16string setupFolder;        // holds Config.ini; empty: no prefetch setting
    vdcache::CVDCache* cache = nullptr;
    vdcache::CVDShareFileCache* shareCache = nullptr;
    vdcache::CBreviaryCache* breviary = nullptr;
    vdcache::ThumbnailRecords* thumbnails = nullptr;
    // Cache notifications of the views: a catalog changed, a page arrived.
    vdcache::CacheReceiver onCatalogChanged = nullptr;
    vdcache::CacheReceiver onPageChanged = nullptr;
    // Starts the desktop client; the folder calls it when nobody is signed in.
    std::function<bool(const std::u16string& exePath)> startClient;
};

enum class LoginResult { SignedIn, NoClient, Refused };

class CVDLogin {
public:
    static CVDLogin& GetInstance();

    CVDLogin() = default;
    CVDLogin(const CVDLogin&) = delete;
    CVDLogin& operator=(const CVDLogin&) = delete;

    void Configure(LoginEnv env);

    // The desktop client's mutex decides: missing, the client is started and
    // NoClient returned; present, the registry sign-in is set up.
    LoginResult Login();
    // Sets up or refreshes the sign-in from the registry; true when one is in place.
    bool InitLoginInfoFromRegistry();
    // Hands a changed operation token to the SDK.
    bool InitNimbraAndOPToken();
    // The client changed its proxy settings.
    void ReloadProxy();
    // Acts on the sign-in records of the client (10, 11, 12, 401); false for
    // any other record, which belongs to the views.
    bool OnViewRecord(const ViewRecord& record);

    std::string GetAccount() const;
    std::string GetToken() const;
    std::u16string GetUserID() const;
    void SetUserID(std::u16string_view id);
    std::u16string GetPassID() const;
    std::string GetOpToken() const;
    ProxyFields GetProxy() const;
    int GetNewFunctionMsg() const;
    int GetNewFunctionSafeBox() const;
    // <documents>\ORLO\<account>\... for the signed-in account; empty before a login.
    std::u16string AccountFolder() const;
    std::u16string OpenFilesFolder() const;
    std::u16string AccountSettingsFile() const;
    std::u16string TempFolder() const;

    // Times the account's databases were opened in this process.
    int AccountOpenCount() const { return m_accountOpens.load(); }
    bool IsSdkInitialised() const { return m_sdkInitialised.load(); }

private:
    ICloudSdk* Sdk() const;
    std::u16string DataPath(std::u16string_view account, std::u16string_view leaf) const;
    bool InitSdkOnce();
    void OpenAccount(const std::string& account);
    void Prefetch();

    LoginEnv m_env;
    mutable std::mutex m_lock;  // every value below that is not atomic
    std::string m_account;
    std::string m_token;
    std::u16string m_userId;
    std::u16string m_passId;
    std::string m_opToken;       // "Nimbra_OPToken" last handed to the SDK
    ProxyFields m_proxy;
    int m_newFunctionMsg = 1;
    int m_newFunctionSafeBox = 1;
    std::atomic<bool> m_sdkInitialised{false};
    std::atomic<bool> m_firstLogin{true};
    std::atomic<int> m_accountOpens{0};
    std::mutex m_loginLock;  // one login at a time: they run on view and message threads
};

// Process-wide stop flag: 1 once the user signed out; every transfer loop ends on it.
std::atomic<std::int32_t>& SignedOutFlag();

}  // namespace vd
