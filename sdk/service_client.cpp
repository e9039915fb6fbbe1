#include "service_client.h"

#include <chrono>
#include <thread>

#include "cloud_sdk.h"

namespace corbel {

ServiceClient::ServiceClient(std::unique_ptr<http::IHttpClient> http) : http_(std::move(http)) {}

void ServiceClient::Configure(const SdkConfig& config) {
  std::lock_guard lock(mutex_);
  config_ = config;
}

std::optional<SdkConfig> ServiceClient::Config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void ServiceClient::SetProxy(const http::Proxy& proxy) {
  std::lock_guard lock(mutex_);
  proxy_ = proxy;
}

http::Proxy ServiceClient::Proxy() const {
  std::lock_guard lock(mutex_);
  return proxy_;
}

void ServiceClient::SetTokens(const std::string& account, const Tokens& tokens) {
  std::lock_guard lock(mutex_);
  tokens_[account] = tokens;
  lastAccount_ = account;
}

std::optional<std::string> ServiceClient::TokenFor(const std::string& account) const {
  std::lock_guard lock(mutex_);
  auto it = tokens_.find(account.empty() ? lastAccount_ : account);
  if (it == tokens_.end()) return std::nullopt;
  return it->second.token.empty() ? it->second.opToken : it->second.token;
}

std::string ServiceClient::LastAccount() const {
  std::lock_guard lock(mutex_);
  return lastAccount_;
}

std::string ServiceClient::Resolve(const std::string& url) const {
  if (url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0) return url;
  auto config = Config();
  if (!config) return {};
  return config->BaseUrl() + (url.empty() || url.front() != '/' ? "/" : "") + url;
}

http::Error ServiceClient::Send(http::Request& request, http::Response* response, bool transfer) {
  auto config = Config();
  if (!config) return http::Error::kBadUrl;
  request.connectTimeoutMs = config->connectTimeoutMs;
  request.idleTimeoutMs = transfer ? config->idleTimeoutMs : config->requestTimeoutMs;
  request.totalTimeoutMs = transfer ? 0 : config->requestTimeoutMs;
  return http_->Send(request, Proxy(), response);
}

int ServiceClient::Call(const std::string& name, const std::string& account, Json body, Repeat repeat,
                        Json* answer, bool withToken) {
  auto config = Config();
  if (!config) return kSdkFailed;
  if (withToken && !body.contains("token")) {
    auto token = TokenFor(account);
    // No token for the account: it must sign in, as with a rejected token.
    if (!token) return kSdkTokenInvalid;
    body["token"] = *token;
  }
  http::Request request;
  request.method = "POST";
  request.url = config->BaseUrl() + "/api/" + name;
  request.headers = {{"Content-Type", "application/json; charset=utf-8"}};
  try {
    request.body = body.dump();
  } catch (const Json::exception&) {
    return kSdkFailed;  // text that is not valid UTF-8 after conversion
  }

  int delay = config->retryDelayMs;
  for (int attempt = 0;; ++attempt) {
    http::Response response;
    http::Error error = Send(request, &response, false);
    if (error == http::Error::kNone) {
      Json parsed = Json::parse(response.body, nullptr, false);
      if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("code") ||
          !parsed["code"].is_number_integer())
        return response.status >= 500 ? kSdkNetworkUnavailable : kSdkFailed;
      int code = parsed["code"].get<int>();
      if (answer) *answer = std::move(parsed);
      return code;
    }
    if (error == http::Error::kBadUrl) return kSdkFailed;
    const bool neverSent = error == http::Error::kConnect;
    if (attempt >= config->retries || (!neverSent && repeat == Repeat::kUnsafe)) return kSdkNetworkUnavailable;
    if (!PauseUnlessStopping(*this, delay)) return kSdkNetworkUnavailable;
    delay *= 2;
  }
}

bool PauseUnlessStopping(ServiceClient& service, int ms) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    if (service.Stopping().load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 20 ? ms : 20));
  }
  return !service.Stopping().load();
}

}  // namespace corbel
