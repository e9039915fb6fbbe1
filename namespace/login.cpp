#include "login.h"

#include <cstring>

#include "breviary_cache.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "platform/text.h"
#include "result_msg.h"
#include "share_file_cache.h"
#include "trace.h"
#include "vd_settings.h"

namespace vd {
namespace {

constexpr char kRootId[] = "00019700101000000001";
constexpr std::u16string_view kLoginInfoValue = u"RCSLoginInfo";

// Data paths are Windows paths; natively they become the platform's.
std::u16string Native(std::u16string path) {
    const char16_t sep = platform::PathSeparator();
    if (sep != u'\\') {
        for (char16_t& c : path) {
            if (c == u'\\') {
                c = sep;
            }
        }
    }
    return path;
}

std::string Narrow(std::u16string_view text) { return platform::WideToAnsi(text); }

}  // namespace

bool IsSafeFolderName(std::u16string_view name) {
    if (name.empty() || name.size() > 200 || name == u"." || name == u"..") {
        return false;
    }
    for (char16_t c : name) {
        if (c < 0x20 || std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos) {
            return false;
        }
    }
    return name.back() != u'.' && name.back() != u' ';
}

std::optional<std::u16string> ReadSignInValue(platform::IRegistry& registry, std::u16string_view key,
                                              std::u16string_view name) {
    const std::optional<platform::RegValue> value = registry.GetValue(platform::RegRoot::CurrentUser, key, name);
    if (!value || value->type != platform::RegValue::Type::String) {
        return std::nullopt;
    }
    const std::string& raw = value->raw;
    if (raw.size() > kMaxSignInValueBytes || raw.size() % 2 != 0 || raw.size() < 2) {
        return std::nullopt;
    }
    // Terminated: a zero unit somewhere in the stored bytes.
    for (std::size_t i = 0; i + 1 < raw.size(); i += 2) {
        if (raw[i] == 0 && raw[i + 1] == 0) {
            return value->text;
        }
    }
    return std::nullopt;
}

std::optional<LoginFields> SplitLoginInfo(std::u16string_view value) {
    const std::size_t a = value.find(u';');
    if (a == std::u16string_view::npos) {
        return std::nullopt;
    }
    const std::size_t b = value.find(u';', a + 1);
    if (b == std::u16string_view::npos) {
        return std::nullopt;
    }
    LoginFields f{std::u16string(value.substr(0, a)), std::u16string(value.substr(a + 1, b - a - 1)),
                  std::u16string(value.substr(b + 1))};
    // A trailing ";" after the third field is tolerated; more fields are not.
    if (!f.opToken.empty() && f.opToken.back() == u';') {
        f.opToken.pop_back();
    }
    if (f.account.empty() || f.token.empty() || f.opToken.empty() || f.opToken.find(u';') != std::u16string::npos) {
        return std::nullopt;
    }
    return f;
}

std::optional<TokenInfoEx> SplitOpToken(std::string_view value) {
    const std::size_t a = value.find(':');
    if (a == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t b = value.find(':', a + 1);
    if (b == std::string_view::npos) {
        return std::nullopt;
    }
    TokenInfoEx t;
    t.parts = {std::string(value.substr(0, a)), std::string(value.substr(a + 1, b - a - 1)),
               std::string(value.substr(b + 1))};
    return t;
}

ProxyFields SplitProxy(std::string_view value) {
    std::string fields[5];
    std::size_t n = 0;
    std::size_t start = 0;
    while (n < 5) {
        const std::size_t end = value.find(';', start);
        fields[n++] = std::string(value.substr(start, end == std::string_view::npos ? value.npos : end - start));
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    ProxyFields p;
    p.type = fields[0] == "1" ? "1" : "3";
    p.host = fields[1];
    p.port = fields[2];
    p.user = fields[3];
    p.password = fields[4];
    return p;
}

std::atomic<std::int32_t>& SignedOutFlag() {
    static std::atomic<std::int32_t> flag{0};
    return flag;
}

CVDLogin& CVDLogin::GetInstance() {
    static CVDLogin instance;  // lives until the process ends, like the caches it feeds
    return instance;
}

void CVDLogin::Configure(LoginEnv env) {
    std::lock_guard<std::mutex> login(m_loginLock);
    m_env = std::move(env);
}

ICloudSdk* CVDLogin::Sdk() const { return m_env.sdk != nullptr ? m_env.sdk : CurrentCloudSdk(); }

std::u16string CVDLogin::DataPath(std::u16string_view account, std::u16string_view leaf) const {
    std::u16string path = m_env.documents + u"\\ORLO";
    if (!account.empty()) {
        path += u"\\";
        path += account;
    }
    if (!leaf.empty()) {
        path += u"\\";
        path += leaf;
    }
    return Native(std::move(path));
}

LoginResult CVDLogin::Login() {
    VD_TRACE("CIVDShellFolder::_Login");
    if (!platform::NamedMutex::Exists(kSignInMutexName)) {
        const std::u16string exe = Native(m_env.moduleParent + u"\\" + kClientExeName);
        VD_LOG_INFO("no signed-in client; starting %s", platform::WideToUtf8(exe).c_str());
        if (!m_env.startClient || !m_env.startClient(exe)) {
            VD_LOG_WARN("the desktop client could not be started");
        }
        return LoginResult::NoClient;
    }
    return InitLoginInfoFromRegistry() ? LoginResult::SignedIn : LoginResult::Refused;
}

bool CVDLogin::InitSdkOnce() {
    if (m_sdkInitialised.load()) {
        return true;
    }
    ICloudSdk* sdk = Sdk();
    if (sdk == nullptr || m_env.files == nullptr) {
        return false;
    }
    const std::u16string logFolder = DataPath(u"", u"log\\VD");
    if (m_env.files->CreateDirectories(logFolder) != platform::kOk) {
        VD_LOG_ERROR("cannot create the SDK log folder");
        return false;
    }
    if (sdk->init(Narrow(logFolder), 0, Narrow(Native(m_env.moduleParent)), 1)) {
        VD_LOG_INFO("初始化VD　SDK成功!");
        m_sdkInitialised.store(true);
    }
    return m_sdkInitialised.load();
}

bool CVDLogin::InitLoginInfoFromRegistry() {
    VD_TRACE("CIVDShellFolder::_InitLoginInfoFromRegistry");
    std::lock_guard<std::mutex> login(m_loginLock);
    if (m_env.registry == nullptr) {
        return false;
    }
    const std::optional<std::u16string> value = ReadSignInValue(*m_env.registry, kLarkmereKey, kLoginInfoValue);
    if (!value) {
        VD_LOG_WARN("RCSLoginInfo missing or malformed");
        return false;
    }
    if (!InitSdkOnce()) {
        return false;
    }
    const std::optional<LoginFields> fields = SplitLoginInfo(*value);
    if (!fields) {
        VD_LOG_WARN("RCSLoginInfo does not hold three fields");
        return false;
    }
    if (!IsSafeFolderName(fields->account)) {
        VD_LOG_WARN("RCSLoginInfo names an account that cannot be a folder");
        return false;
    }
    ICloudSdk* sdk = Sdk();
    std::string proxyHost, proxyPort;
    sdk->GetIEProxy(&proxyHost, &proxyPort);
    sdk->InitHttpX(proxyHost, proxyPort, "", "");

    const std::string account = Narrow(fields->account);
    const std::string token = Narrow(fields->token);
    const std::string opToken = Narrow(fields->opToken);
    bool accountChanged = false;
    bool tokenChanged = false;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        accountChanged = account != m_account;
        tokenChanged = token != m_token;
    }
    if (accountChanged || tokenChanged) {
        VD_LOG_INFO("sign-in changed (account %d, token %d)", accountChanged ? 1 : 0, tokenChanged ? 1 : 0);
        SignedOutFlag().store(0);
        if (m_env.profile != nullptr) {
            const config::NewFunctionFlags flags =
                config::ReadNewFunctionFlags(*m_env.profile, DataPath(fields->account, u"NimbraSet.ini"));
            std::lock_guard<std::mutex> lock(m_lock);
            m_newFunctionMsg = flags.msg;
            m_newFunctionSafeBox = flags.safe_box;
        }
        if (accountChanged || m_firstLogin.load()) {
            OpenAccount(account);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_token = token;
    }
    sdk->SetTokenInfo(account, token, opToken);
    if (m_env.cache != nullptr) {
        m_env.cache->SetShareNull();
        m_env.cache->SetGetShareUserSuccess(0);
    }
    InitNimbraAndOPToken();
    if (m_env.files != nullptr && m_env.files->CreateDirectories(OpenFilesFolder()) != platform::kOk) {
        VD_LOG_ERROR("Create VD_OPEN_FILES Fail!!!");
    }
    Prefetch();
    VD_LOG_INFO("login in place");
    return true;
}

void CVDLogin::OpenAccount(const std::string& account) {
    CResultMsg::GetInstance().Build();
    if (m_env.cache != nullptr) {
        m_env.cache->Destroy();
    }
    if (m_env.shareCache != nullptr) {
        m_env.shareCache->Destroy();
    }
    const std::u16string wideAccount = platform::AnsiToWide(account);
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_account = account;
    }
    if (m_env.files != nullptr) {
        m_env.files->CreateDirectories(DataPath(wideAccount, u""));
    }
    const std::string db = Narrow(DataPath(wideAccount, u"cache.db"));
    if (m_env.cache != nullptr) {
        if (m_env.cache->Initialize(1, true, db, account) != vdcache::kCacheOk) {
            VD_LOG_ERROR("catalog cache did not open");
        }
        if (m_env.onCatalogChanged != nullptr) {
            m_env.cache->AddEventReceiver(m_env.onCatalogChanged);
        }
        if (m_env.onPageChanged != nullptr) {
            m_env.cache->AddUpdatePageEventReceiver(m_env.onPageChanged);
        }
    }
    if (m_env.shareCache != nullptr) {
        if (m_env.shareCache->Initialize(1, true, db, account) != vdcache::kCacheOk) {
            VD_LOG_ERROR("share cache did not open");
        }
        if (m_env.onCatalogChanged != nullptr) {
            m_env.shareCache->AddEventReceiver(m_env.onCatalogChanged);
        }
        if (m_env.onPageChanged != nullptr) {
            m_env.shareCache->AddUpdatePageEventReceiver(m_env.onPageChanged);
        }
    }
    if (m_env.breviary != nullptr) {
        vdcache::BreviaryMap records;
        m_env.breviary->Initialize(true, db, records);
        if (m_env.thumbnails != nullptr) {
            m_env.thumbnails->Load(std::move(records));
        }
    }
    if (m_env.registry != nullptr) {
        SetUserID(ReadSignInValue(*m_env.registry, kOrloKey, u"User_ID").value_or(u""));
        const std::u16string pass = ReadSignInValue(*m_env.registry, kOrloKey, u"PassID").value_or(u"");
        std::lock_guard<std::mutex> lock(m_lock);
        m_passId = pass;
    }
    if (m_env.files != nullptr &&
        m_env.files->AppendFile(DataPath(wideAccount, u"NimbraSet.ini"), std::string_view()) != platform::kOk) {
        VD_LOG_ERROR("Write NimbraSet.ini Fail!!!");
    }
    m_firstLogin.store(false);
    m_accountOpens.fetch_add(1);
}

void CVDLogin::Prefetch() {
    if (m_env.profile == nullptr || m_env.setupFolder.empty() ||
        !config::ReadIsPreCache(*m_env.profile, Native(m_env.setupFolder))) {
        return;
    }
    const std::string account = GetAccount();
    if (m_env.cache != nullptr) {
        m_env.cache->PrefetchAllCatalog(std::string(), kRootId);
    }
    if (m_env.shareCache != nullptr) {
        ShareListRequest request;
        request.account = account;
        m_env.shareCache->FetchShareCatalog(m_env.shareCache->ShareRootKey(), request);
    }
}

bool CVDLogin::InitNimbraAndOPToken() {
    VD_TRACE("Util::initNimbraAndOPToken");
    if (m_env.registry == nullptr) {
        return false;
    }
    const std::optional<std::u16string> value = ReadSignInValue(*m_env.registry, kOrloKey, u"Nimbra_OPToken");
    const std::string text = value ? Narrow(*value) : std::string();
    const std::optional<TokenInfoEx> token = value ? SplitOpToken(text) : std::nullopt;
    if (!token) {
        VD_LOG_ERROR("GetRegNimbra_OPToken!!!");
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (text == m_opToken) {
            return true;
        }
        m_opToken = text;
    }
    VD_LOG_INFO("SetTokenInfoEx %s", text.c_str());
    if (ICloudSdk* sdk = Sdk()) {
        sdk->SetTokenInfoEx(*token);
    }
    if (m_env.cache != nullptr) {
        m_env.cache->InitShareUser();
    }
    return true;
}

void CVDLogin::ReloadProxy() {
    VD_TRACE("CVDLogin::ReloadProxy");
    if (m_env.registry == nullptr) {
        return;
    }
    const std::optional<std::u16string> value = ReadSignInValue(*m_env.registry, kOrloKey, u"ProxySetInfo");
    const ProxyFields proxy = SplitProxy(value ? Narrow(*value) : std::string());
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_proxy = proxy;
    }
    if (ICloudSdk* sdk = Sdk(); sdk != nullptr && m_sdkInitialised.load()) {
        const bool configured = proxy.type == "1";
        sdk->InitHttpX(configured ? proxy.host : std::string(), configured ? proxy.port : std::string(),
                       configured ? proxy.user : std::string(), configured ? proxy.password : std::string());
    }
}

bool CVDLogin::OnViewRecord(const ViewRecord& record) {
    switch (record.code) {
        case SHELL_PRXOY_CHANGE:
            VD_LOG_INFO("SHELL_PRXOY_CHANGE In In In@@@@@@@");
            ReloadProxy();
            return true;
        case SHELL_REFRESH_TOKEN:
            VD_LOG_INFO("SHELL_REFRESH_TOKEN In In InRRRR");
            InitLoginInfoFromRegistry();
            return true;
        case REFRESH_NIMBRA_OP_TOKEN:
            VD_LOG_INFO("REFRESH_NIMBRA_OP_TOKEN");
            InitNimbraAndOPToken();
            return true;
        case SHELL_SIGNED_OUT:
            SignedOutFlag().store(1);
            return true;
        default:
            return false;
    }
}

std::string CVDLogin::GetAccount() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_account;
}

std::string CVDLogin::GetToken() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_token;
}

std::u16string CVDLogin::GetUserID() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_userId;
}

void CVDLogin::SetUserID(std::u16string_view id) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_userId = std::u16string(id);
}

std::u16string CVDLogin::GetPassID() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_passId;
}

std::string CVDLogin::GetOpToken() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_opToken;
}

ProxyFields CVDLogin::GetProxy() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_proxy;
}

int CVDLogin::GetNewFunctionMsg() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_newFunctionMsg;
}

int CVDLogin::GetNewFunctionSafeBox() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_newFunctionSafeBox;
}

std::u16string CVDLogin::AccountFolder() const {
    const std::string account = GetAccount();
    return account.empty() ? std::u16string() : DataPath(platform::AnsiToWide(account), u"");
}

std::u16string CVDLogin::OpenFilesFolder() const {
    const std::string account = GetAccount();
    return account.empty() ? std::u16string() : DataPath(platform::AnsiToWide(account), u"VDOpenFiles");
}

std::u16string CVDLogin::AccountSettingsFile() const {
    const std::string account = GetAccount();
    return account.empty() ? std::u16string() : DataPath(platform::AnsiToWide(account), u"NimbraSet.ini");
}

std::u16string CVDLogin::TempFolder() const {
    const std::string account = GetAccount();
    return account.empty() ? std::u16string() : DataPath(platform::AnsiToWide(account), u"temp");
}

}  // namespace vd
