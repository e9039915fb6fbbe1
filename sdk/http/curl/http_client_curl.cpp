// libcurl behind the SDK's HTTP interface. Easy handles are pooled so that
// consecutive calls reuse their keep-alive connection to the service.
#include <curl/curl.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "http/http_client.h"

namespace corbel::http {
namespace {

struct Exchange {
  const Request* request = nullptr;
  Response* response = nullptr;
  CURL* handle = nullptr;
  bool aborted = false;
  bool statusKnown = false;
  bool success = false;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  std::string_view line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    // A new status line (after a 100 Continue or a proxy's answer) starts over.
    ex->response->headers.clear();
    ex->statusKnown = false;
  } else {
    for (auto& h : ParseHeaderLines(line)) ex->response->headers.push_back(std::move(h));
  }
  return size * count;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  const size_t n = size * count;
  if (!ex->statusKnown) {
    long status = 0;
    curl_easy_getinfo(ex->handle, CURLINFO_RESPONSE_CODE, &status);
    ex->success = status >= 200 && status < 300;
    ex->statusKnown = true;
    ex->response->status = static_cast<int>(status);
  }
  if (ex->success && ex->request->bodySink) {
    if (!ex->request->bodySink(data, n)) {
      ex->aborted = true;
      return 0;  // makes curl stop with CURLE_WRITE_ERROR
    }
    return n;
  }
  // Error bodies are small JSON objects; cap them anyway.
  if (ex->response->body.size() + n > (std::size_t{8} << 20)) return 0;
  ex->response->body.append(data, n);
  return n;
}

size_t OnRead(char* buffer, size_t size, size_t count, void* user) {
  auto* ex = static_cast<Exchange*>(user);
  std::int64_t n = ex->request->bodySource(buffer, size * count);
  if (n < 0) {
    ex->aborted = true;
    return CURL_READFUNC_ABORT;
  }
  return static_cast<size_t>(n);
}

class CurlHttpClient final : public IHttpClient {
 public:
  CurlHttpClient() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
  }
  ~CurlHttpClient() override {
    for (CURL* h : idle_) curl_easy_cleanup(h);
  }

  Error Send(const Request& request, const Proxy& proxy, Response* response) override {
    *response = Response{};
    if (request.url.rfind("http://", 0) != 0 && request.url.rfind("https://", 0) != 0) return Error::kBadUrl;
    CURL* h = Take();
    if (!h) return Error::kTransport;
    Exchange ex{&request, response, h};

    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
    // Idle detection: less than one byte a second for the idle span.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, static_cast<long>((request.idleTimeoutMs + 999) / 1000));
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &ex);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &ex);
    curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024);
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);

    std::string proxyUrl, proxyAuth;
    if (proxy.host.empty()) {
      curl_easy_setopt(h, CURLOPT_PROXY, "");  // also overrides http_proxy from the environment
    } else {
      proxyUrl = "http://" + proxy.host + (proxy.port.empty() ? "" : ":" + proxy.port);
      curl_easy_setopt(h, CURLOPT_PROXY, proxyUrl.c_str());
      if (!proxy.user.empty()) {
        proxyAuth = proxy.user + ":" + proxy.password;
        curl_easy_setopt(h, CURLOPT_PROXYUSERPWD, proxyAuth.c_str());
      }
    }

    curl_slist* headers = nullptr;
    for (const auto& [name, value] : request.headers)
      headers = curl_slist_append(headers, (name + ": " + value).c_str());
    // No "Expect: 100-continue" round trip before each chunk.
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    const bool hasBody = request.bodySource || !request.body.empty() || request.method == "POST" ||
                         request.method == "PUT";
    if (request.method == "GET") {
      curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    } else if (request.bodySource) {
      curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
      curl_easy_setopt(h, CURLOPT_READFUNCTION, OnRead);
      curl_easy_setopt(h, CURLOPT_READDATA, &ex);
      curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(request.bodyLength));
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (hasBody) {
      curl_easy_setopt(h, CURLOPT_POST, 1L);
      curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
      curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
      if (request.method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else {
      curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    CURLcode rc = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    response->status = static_cast<int>(status);
    curl_slist_free_all(headers);

    Error error = Error::kNone;
    if (ex.aborted) {
      error = Error::kAborted;
    } else if (rc != CURLE_OK) {
      switch (rc) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: error = Error::kConnect; break;
        case CURLE_OPERATION_TIMEDOUT: error = Error::kTimeout; break;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: error = Error::kBadUrl; break;
        default: error = Error::kTransport; break;
      }
    }
    // A broken connection must not go back to the pool.
    Give(h, error == Error::kNone);
    return error;
  }

 private:
  CURL* Take() {
    {
      std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        CURL* h = idle_.back();
        idle_.pop_back();
        curl_easy_reset(h);  // keeps the connection cache
        return h;
      }
    }
    return curl_easy_init();
  }
  void Give(CURL* h, bool reusable) {
    if (reusable) {
      std::lock_guard lock(mutex_);
      if (idle_.size() < 16) {
        idle_.push_back(h);
        return;
      }
    }
    curl_easy_cleanup(h);
  }

  std::mutex mutex_;
  std::vector<CURL*> idle_;
};

}  // namespace

std::unique_ptr<IHttpClient> CreateHttpClient() { return std::make_unique<CurlHttpClient>(); }

bool SystemProxy(std::string* host, std::string* port) {
  // The desktop's proxy on POSIX is the conventional environment variable.
  host->clear();
  port->clear();
  const char* value = std::getenv("http_proxy");
  if (!value || !*value) value = std::getenv("HTTP_PROXY");
  if (!value || !*value) return false;
  std::string_view v(value);
  if (auto scheme = v.find("://"); scheme != std::string_view::npos) v.remove_prefix(scheme + 3);
  if (auto at = v.rfind('@'); at != std::string_view::npos) v.remove_prefix(at + 1);
  if (auto slash = v.find('/'); slash != std::string_view::npos) v = v.substr(0, slash);
  auto colon = v.rfind(':');
  *host = std::string(v.substr(0, colon));
  if (colon != std::string_view::npos) *port = std::string(v.substr(colon + 1));
  return !host->empty();
}

}  // namespace corbel::http
