#pragma once
// The SDK's narrow view of an HTTP/1.1 client: one blocking exchange at a
// time per call, any number of calls in parallel. Bodies may be streamed in
// both directions so that transfers never hold a whole file in memory and a
// cancel can stop them between two buffers.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corbel::http {

struct Proxy {
  std::string host;  // empty: direct connection (environment proxies are ignored too)
  std::string port;
  std::string user;
  std::string password;
};

struct Request {
  std::string method = "GET";
  std::string url;  // absolute http:// URL
  std::vector<std::pair<std::string, std::string>> headers;
  // Body: either the bytes here, or bodyLength bytes pulled from bodySource,
  // which answers the bytes it put into the buffer, or -1 to abort.
  std::string body;
  std::uint64_t bodyLength = 0;
  std::function<std::int64_t(char* buffer, std::size_t size)> bodySource;
  // Successful (2xx) bodies go to bodySink when it is set; false aborts.
  // Other statuses always collect their (small) body in Response::body.
  std::function<bool(const char* data, std::size_t size)> bodySink;
  int connectTimeoutMs = 5000;
  int idleTimeoutMs = 30000;  // the exchange fails when no byte moves for this long
  int totalTimeoutMs = 0;     // 0: no bound on the whole exchange
};

struct Response {
  int status = 0;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // First header of that name, compared without case; empty when absent.
  std::string Header(std::string_view name) const;
};

enum class Error {
  kNone = 0,
  kConnect,   // could not reach the host (refused, unresolved)
  kTimeout,   // connect, idle or total timeout
  kAborted,   // bodySource or bodySink asked to stop
  kTransport, // connection broke during the exchange, malformed answer
  kBadUrl,
};

const char* ErrorName(Error error);

class IHttpClient {
 public:
  virtual ~IHttpClient() = default;
  virtual Error Send(const Request& request, const Proxy& proxy, Response* response) = 0;
};

// The platform's implementation (libcurl natively, WinHTTP on Windows).
std::unique_ptr<IHttpClient> CreateHttpClient();

// The system's configured proxy as host and port; false when there is none.
bool SystemProxy(std::string* host, std::string* port);

// "Name: value" lines separated by CR LF (or LF) into pairs; lines without a
// colon are skipped.
std::vector<std::pair<std::string, std::string>> ParseHeaderLines(std::string_view text);

}  // namespace corbel::http
