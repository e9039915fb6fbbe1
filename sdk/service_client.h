#pragma once
// One JSON call to the service: the account's token added, timeouts on every
// exchange, repeats only where a repeat cannot do a change twice, and the
// answer's code (or the SDK's own code for a failure on the way).
#include <nlohmann/json.hpp>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "http/http_client.h"
#include "sdk_config.h"

namespace corbel {

using Json = nlohmann::json;

// Whether a call may be sent again after a failure in the middle of its
// exchange. A call that never reached the service is always sent again.
enum class Repeat { kSafe, kUnsafe };

struct Tokens {
  std::string token;
  std::string opToken;
};

class ServiceClient {
 public:
  explicit ServiceClient(std::unique_ptr<http::IHttpClient> http);

  void Configure(const SdkConfig& config);
  std::optional<SdkConfig> Config() const;
  void SetProxy(const http::Proxy& proxy);
  http::Proxy Proxy() const;
  void SetTokens(const std::string& account, const Tokens& tokens);
  // The account's token; an empty account means the one signed in last.
  std::optional<std::string> TokenFor(const std::string& account) const;
  std::string LastAccount() const;

  // POST /api/<name>. body gets the account's "token" unless it has one or
  // withToken is false. On
  // success *answer holds the whole answer object.
  int Call(const std::string& name, const std::string& account, Json body, Repeat repeat, Json* answer,
           bool withToken = true);

  // One exchange with the configured timeouts and proxy; repeats are the caller's.
  http::Error Send(http::Request& request, http::Response* response, bool transfer);
  // Absolute URL for a service path ("/blob/...") or an absolute URL unchanged.
  std::string Resolve(const std::string& url) const;

  // Set when the SDK shuts down: every loop ends at its next check.
  std::atomic<bool>& Stopping() { return stopping_; }
  http::IHttpClient& Http() { return *http_; }

 private:
  std::unique_ptr<http::IHttpClient> http_;
  mutable std::mutex mutex_;
  std::optional<SdkConfig> config_;
  http::Proxy proxy_;
  std::map<std::string, Tokens> tokens_;
  std::string lastAccount_;
  std::atomic<bool> stopping_{false};
};

// Sleeps in small steps; false when the SDK began to stop meanwhile.
bool PauseUnlessStopping(ServiceClient& service, int ms);

}  // namespace corbel
