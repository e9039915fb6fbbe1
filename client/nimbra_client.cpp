#include "nimbra_client.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <utility>

#include "http/http_client.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace nimbra {
namespace {

constexpr int kServiceRefusedCredentials = 103;
constexpr std::chrono::milliseconds kWindowPoll{250};

std::string Ansi(const std::string& utf8) { return platform::WideToAnsi(platform::Utf8ToUtf16(utf8)); }

std::string Narrow(std::u16string_view text) { return platform::Utf16ToUtf8(text); }

}  // namespace

NimbraClient::NimbraClient(ClientOptions options, std::u16string folder, platform::IRegistry& registry,
                           ICloudSdk* sdk, ViewBroadcaster broadcaster, LogSink log)
    : options_(std::move(options)),
      folder_(std::move(folder)),
      registry_(registry),
      sdk_(sdk),
      broadcaster_(std::move(broadcaster)),
      log_(std::move(log)) {}

NimbraClient::~NimbraClient() {
  // The window's thread calls back into this object: stop it first.
  window_.reset();
  mutex_.reset();
}

void NimbraClient::Log(const std::string& line) {
  if (log_) log_(line);
}

Session NimbraClient::session() const {
  std::lock_guard lock(lock_);
  return session_;
}

uint64_t NimbraClient::dropped_records() const {
  std::lock_guard lock(lock_);
  return dropped_;
}

int NimbraClient::SignInOverHttp(Session* session) {
  auto http = corbel::http::CreateHttpClient();
  corbel::http::Request request;
  request.method = "POST";
  request.url = "http://" + options_.host + ":" + std::to_string(options_.port) + "/api/signIn";
  request.headers.emplace_back("Content-Type", "application/json");
  request.body = nlohmann::json{{"account", options_.account}, {"password", options_.password}}.dump();
  request.totalTimeoutMs = 30000;
  corbel::http::Proxy proxy;
  if (options_.proxy.type == "1") {
    proxy = {options_.proxy.host, options_.proxy.port, options_.proxy.user, options_.proxy.password};
  }
  corbel::http::Response response;
  auto error = http->Send(request, proxy, &response);
  if (error != corbel::http::Error::kNone) {
    Log(std::string("sign-in: service unreachable: ") + corbel::http::ErrorName(error));
    return kExitUnreachable;
  }
  auto answer = nlohmann::json::parse(response.body, nullptr, false);
  if (!answer.is_object() || !answer.contains("code") || !answer["code"].is_number_integer()) {
    Log("sign-in: malformed answer, HTTP status " + std::to_string(response.status));
    return kExitSignInFailed;
  }
  const int code = answer["code"].get<int>();
  if (code != 0) {
    Log("sign-in refused, code " + std::to_string(code));
    return code == kServiceRefusedCredentials ? kExitRefused : kExitSignInFailed;
  }
  auto text = [&](const char* name) {
    auto it = answer.find(name);
    return it != answer.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  session->login = {options_.account, text("token"), text("opToken")};
  session->userId = text("userID");
  session->rootCatalogId = text("rootCatalogID");
  if (session->login.token.empty() || session->login.opToken.empty() || session->userId.empty()) {
    Log("sign-in: answer without tokens or user id");
    return kExitSignInFailed;
  }
  return kExitOk;
}

int NimbraClient::HandToSdk(const Session& session) {
  if (!sdk_) return kExitSignInFailed;
  if (sdk_->SetTokenInfo(Ansi(session.login.account), Ansi(session.login.token), Ansi(session.login.opToken)) !=
      kSdkOk) {
    Log("SDK refused the tokens");
    return kExitSignInFailed;
  }
  // A call that needs a valid token: proves the SDK reaches the service with it.
  std::string domainToken;
  int code = sdk_->getTokenByDomain("AAS", &domainToken);
  if (code != kSdkOk || domainToken.empty()) {
    Log("SDK check with the new token failed, code " + std::to_string(code));
    return code == kSdkNetworkUnavailable ? kExitUnreachable : kExitSignInFailed;
  }
  return kExitOk;
}

int NimbraClient::SignIn() {
  if (options_.host.empty() || options_.port == 0 || options_.account.empty() || options_.password.empty()) {
    Log("sign-in needs host, port, account and password");
    return kExitUsage;
  }
  if (platform::WindowExists(kClientWindowName)) {
    Log("another client is running");
    return kExitAlreadyRunning;
  }
  Session session;
  if (int r = SignInOverHttp(&session); r != kExitOk) return r;

  // The SDK, in this process and in the extension, finds the service here.
  auto& profile = platform::SystemProfile();
  const std::u16string config = platform::JoinPath(folder_, u"sdkconfig.ini");
  if (profile.WriteString(config, u"Service", u"Host", platform::Utf8ToUtf16(options_.host)) != platform::kOk ||
      profile.WriteString(config, u"Service", u"Port", platform::Utf8ToUtf16(std::to_string(options_.port))) !=
          platform::kOk) {
    Log("cannot write sdkconfig.ini");
    return kExitLocalFailure;
  }
  std::u16string log_folder = folder_;
  if (auto docs = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Documents)) {
    std::u16string candidate = platform::JoinPath(platform::JoinPath(platform::JoinPath(*docs, u"ORLO"), u"log"), u"Nimbra");
    if (platform::SystemFileSystem().CreateDirectories(candidate) == platform::kOk) log_folder = candidate;
  }
  if (!sdk_ || !sdk_->init(platform::WideToAnsi(log_folder), 0, platform::WideToAnsi(folder_), 1)) {
    Log("SDK init failed");
    return kExitSignInFailed;
  }
  const ProxySettings& proxy = options_.proxy;
  if (sdk_->InitHttpX(proxy.type == "1" ? Ansi(proxy.host) : "", proxy.type == "1" ? Ansi(proxy.port) : "",
                      Ansi(proxy.user), Ansi(proxy.password)) != kSdkOk) {
    Log("SDK refused the proxy");
    return kExitSignInFailed;
  }
  if (int r = HandToSdk(session); r != kExitOk) return r;

  SignInValues values;
  values.login = session.login;
  values.userId = session.userId;
  // The service issues no separate pass id; the account the user signed in
  // with is the identity the pages are opened for.
  values.passId = session.login.account;
  values.proxy = proxy;
  if (auto r = WriteSignInValues(registry_, values); r != platform::kOk) {
    Log("cannot write the sign-in values, error " + std::to_string(r));
    ClearLoginInfo(registry_);
    return kExitLocalFailure;
  }
  {
    std::lock_guard lock(lock_);
    session_ = session;
  }
  platform::Result error = platform::kOk;
  mutex_ = platform::NamedMutex::Create(kSignInMutexName, &error);
  if (!mutex_ || error == platform::kAlreadyExists) {
    Log("sign-in mutex is held by someone else");
    mutex_.reset();
    ClearLoginInfo(registry_);
    return kExitAlreadyRunning;
  }
  window_ = platform::MessageWindow::Create(
      kClientWindowName, [this](uint64_t code, std::string_view bytes) { return OnRecord(code, bytes); }, &error);
  if (!window_) {
    Log("cannot create the client window, error " + std::to_string(error));
    mutex_.reset();
    ClearLoginInfo(registry_);
    return error == platform::kAlreadyExists ? kExitAlreadyRunning : kExitLocalFailure;
  }
  Log("signed in as " + session.login.account + ", user " + session.userId);
  // Views opened while nobody was signed in pick the new sign-in up.
  broadcaster_(kViewSignInChanged, {});
  return kExitOk;
}

intptr_t NimbraClient::OnRecord(uint64_t code, std::string_view bytes) {
  DecodeResult decoded = DecodeClientRecord(code, bytes);
  std::lock_guard lock(lock_);
  if (!decoded.ok) {
    ++dropped_;
    if (log_) {
      log_("dropped record " + std::to_string(code) + " of " + std::to_string(bytes.size()) +
           " bytes: " + DropReasonName(decoded.reason));
    }
    return 0;
  }
  if (decoded.record.kind == RecordKind::TokenInvalid) {
    // Views report an invalid token once per failed listing: one refresh serves them all.
    if (refresh_queued_) return 1;
    refresh_queued_ = true;
  }
  queue_.push_back(std::move(decoded.record));
  wake_.notify_one();
  return 1;
}

void NimbraClient::RequestQuit() {
  std::lock_guard lock(lock_);
  queue_.push_back(ClientRecord{kQuitRequest, RecordKind::Quit, {}, {}, {}});
  wake_.notify_one();
}

int NimbraClient::Run() {
  while (true) {
    ClientRecord record;
    {
      std::unique_lock lock(lock_);
      if (!wake_.wait_for(lock, kWindowPoll, [&] { return !queue_.empty(); })) {
        lock.unlock();
        // A WM_QUIT posted to the window's thread ends it and its window.
        if (!platform::WindowExists(kClientWindowName)) {
          Log("client window gone; ending");
          return kExitOk;
        }
        continue;
      }
      record = std::move(queue_.front());
      queue_.pop_front();
    }
    if (record.kind == RecordKind::SignOut) {
      SignOut();
      return kExitOk;
    }
    if (record.kind == RecordKind::Quit) {
      Log("quit requested");
      window_.reset();
      mutex_.reset();
      return kExitOk;
    }
    Handle(record);
  }
}

void NimbraClient::Handle(const ClientRecord& record) {
  switch (record.kind) {
    case RecordKind::TokenInvalid:
      RefreshToken();
      break;
    case RecordKind::SyncStateRequest:
      // The stand-in keeps no sync folders: an empty state table.
      broadcaster_(kViewSyncStates, EncodeRecordText(FormatSyncStates(0, 0, u"", {})));
      break;
    case RecordKind::SaveShareTo: {
      // The stand-in has no folder chooser: shares are saved into the disk's root.
      std::string destination = Ansi(session().rootCatalogId);
      destination.push_back('\0');
      broadcaster_(kViewSaveDestination, destination);
      break;
    }
    case RecordKind::ItemList:
      Log("record " + std::to_string(record.code) + ": " + std::to_string(record.items.size()) + " items");
      break;
    case RecordKind::StopSync:
      Log("stop syncing " + Narrow(platform::AnsiToWide(record.bytes)));
      break;
    case RecordKind::PageRequest:
      Log("page request " + Narrow(record.text));
      break;
    case RecordKind::UploadStarted:
    case RecordKind::UploadsDone:
    case RecordKind::MenuCommand:
      Log("record " + std::to_string(record.code) + (record.text.empty() ? "" : " " + Narrow(record.text)));
      break;
    case RecordKind::SignOut:
    case RecordKind::Quit:
      break;
  }
}

void NimbraClient::RefreshToken() {
  {
    std::lock_guard lock(lock_);
    refresh_queued_ = false;
  }
  Log("token invalid; signing in again");
  Session fresh;
  if (SignInOverHttp(&fresh) != kExitOk) return;  // logged; the next notice tries again
  if (HandToSdk(fresh) != kExitOk) return;
  if (auto r = WriteTokens(registry_, fresh.login); r != platform::kOk) {
    Log("cannot rewrite the tokens, error " + std::to_string(r));
    return;
  }
  {
    std::lock_guard lock(lock_);
    session_ = fresh;
  }
  broadcaster_(kViewSignInChanged, {});
  broadcaster_(kViewOpTokenChanged, {});
  Log("token refreshed");
}

void NimbraClient::SignOut() {
  Log("signing out");
  // Stop taking records first, so nothing acts on a sign-in that is going away.
  window_.reset();
  mutex_.reset();
  if (auto r = ClearLoginInfo(registry_); r != platform::kOk) Log("cannot clear RCSLoginInfo, error " + std::to_string(r));
  int views = broadcaster_(kViewSignedOut, {});
  Log("sign-out sent to " + std::to_string(views) + " views");
}

int SendToRunningClient(uint64_t code, LogSink log) {
  intptr_t reply = 0;
  platform::Result r = platform::SendCopyData(kClientWindowName, code, {}, 5000, &reply);
  if (r != platform::kOk || reply != 1) {
    if (log) log("no running client took the request (error " + std::to_string(r) + ")");
    return kExitSignInFailed;
  }
  return kExitOk;
}

}  // namespace nimbra
