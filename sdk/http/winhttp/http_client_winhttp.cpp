// WinHTTP, the system's own stack, behind the SDK's HTTP interface.
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "http/http_client.h"

namespace corbel::http {
namespace {

std::wstring Widen(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view s) {
  if (s.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

struct InternetHandle {
  HINTERNET h = nullptr;
  explicit InternetHandle(HINTERNET handle = nullptr) : h(handle) {}
  ~InternetHandle() {
    if (h) WinHttpCloseHandle(h);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  explicit operator bool() const { return h != nullptr; }
};

// WinHTTP bounds each wait, never a whole exchange: a server that trickles a
// byte just inside the receive timeout would hold a call forever. The clock
// gives every wait what is left of the call's total and ends it at the total.
class CallClock {
 public:
  explicit CallClock(const Request& request)
      : request_(request),
        deadline_(request.totalTimeoutMs > 0 ? GetTickCount64() + static_cast<ULONGLONG>(request.totalTimeoutMs) : 0) {}

  bool Expired() const { return deadline_ != 0 && GetTickCount64() >= deadline_; }

  // Sets the handle's waits for the next step; false when no time is left.
  bool Arm(HINTERNET handle) const {
    if (Expired()) return false;
    const int connect = Cap(request_.connectTimeoutMs);
    const int idle = Cap(request_.idleTimeoutMs);
    return WinHttpSetTimeouts(handle, connect, connect, idle, idle) != FALSE;
  }

 private:
  int Cap(int wait) const {
    if (deadline_ == 0) return wait;
    const ULONGLONG now = GetTickCount64();
    const ULONGLONG left = deadline_ > now ? deadline_ - now : 1;
    return static_cast<int>(std::min<ULONGLONG>(static_cast<ULONGLONG>(wait), left));
  }

  const Request& request_;
  const ULONGLONG deadline_;
};

Error FromLastError() {
  switch (GetLastError()) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // what Wine's stack reports for a receive that timed out
      return Error::kTimeout;
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED: return Error::kConnect;
    case ERROR_WINHTTP_INVALID_URL:
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME: return Error::kBadUrl;
    default: return Error::kTransport;
  }
}

class WinHttpClient final : public IHttpClient {
 public:
  WinHttpClient()
      : session_(WinHttpOpen(L"CorbelSdk/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                             WINHTTP_NO_PROXY_BYPASS, 0)) {}

  Error Send(const Request& request, const Proxy& proxy, Response* response) override {
    *response = Response{};
    if (!session_) return Error::kTransport;
    std::wstring url = Widen(request.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return Error::kBadUrl;
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";

    InternetHandle connection(WinHttpConnect(session_.h, host.c_str(), parts.nPort, 0));
    if (!connection) return FromLastError();
    InternetHandle req(WinHttpOpenRequest(connection.h, Widen(request.method).c_str(), path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!req) return FromLastError();

    const CallClock clock(request);
    if (!clock.Arm(req.h)) return Error::kTimeout;
    if (!proxy.host.empty()) {
      std::wstring server = Widen(proxy.host + (proxy.port.empty() ? "" : ":" + proxy.port));
      WINHTTP_PROXY_INFO info{};
      info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      info.lpszProxy = server.data();
      info.lpszProxyBypass = nullptr;
      WinHttpSetOption(req.h, WINHTTP_OPTION_PROXY, &info, sizeof info);
      if (!proxy.user.empty()) {
        std::wstring user = Widen(proxy.user), password = Widen(proxy.password);
        WinHttpSetOption(req.h, WINHTTP_OPTION_PROXY_USERNAME, user.data(), static_cast<DWORD>(user.size()));
        WinHttpSetOption(req.h, WINHTTP_OPTION_PROXY_PASSWORD, password.data(),
                         static_cast<DWORD>(password.size()));
      }
    }

    std::wstring headerText;
    for (const auto& [name, value] : request.headers) headerText += Widen(name + ": " + value + "\r\n");
    const bool streamed = static_cast<bool>(request.bodySource);
    const std::uint64_t length = streamed ? request.bodyLength : request.body.size();
    if (length > 0xFFFFFFFFull) return Error::kTransport;
    if (!WinHttpSendRequest(req.h, headerText.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headerText.c_str(),
                            static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(length), 0))
      return FromLastError();

    if (streamed) {
      std::vector<char> buffer(256 * 1024);
      std::uint64_t sent = 0;
      while (sent < length) {
        std::int64_t n = request.bodySource(buffer.data(),
                                            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), length - sent)));
        if (n < 0) return Error::kAborted;
        if (n == 0) return Error::kTransport;
        DWORD written = 0;
        if (!clock.Arm(req.h)) return Error::kTimeout;
        if (!WinHttpWriteData(req.h, buffer.data(), static_cast<DWORD>(n), &written)) return FromLastError();
        sent += static_cast<std::uint64_t>(n);
      }
    } else if (!request.body.empty()) {
      DWORD written = 0;
      if (!WinHttpWriteData(req.h, request.body.data(), static_cast<DWORD>(request.body.size()), &written))
        return FromLastError();
    }
    if (!clock.Arm(req.h)) return Error::kTimeout;
    if (!WinHttpReceiveResponse(req.h, nullptr)) return FromLastError();

    DWORD status = 0, size = sizeof status;
    WinHttpQueryHeaders(req.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &status, &size, WINHTTP_NO_HEADER_INDEX);
    response->status = static_cast<int>(status);
    DWORD rawSize = 0;
    WinHttpQueryHeaders(req.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &rawSize,
                        WINHTTP_NO_HEADER_INDEX);
    if (rawSize > 0) {
      std::wstring raw(rawSize / sizeof(wchar_t) + 1, L'\0');
      if (WinHttpQueryHeaders(req.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, raw.data(),
                              &rawSize, WINHTTP_NO_HEADER_INDEX)) {
        raw.resize(rawSize / sizeof(wchar_t));
        response->headers = ParseHeaderLines(Narrow(raw));
      }
    }

    const bool success = status >= 200 && status < 300;
    std::vector<char> buffer(256 * 1024);
    for (;;) {
      // Ask what has arrived and read only that: a read of a whole buffer
      // may wait for the buffer to fill, whatever the clock says.
      if (!clock.Arm(req.h)) return Error::kTimeout;
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(req.h, &available)) return clock.Expired() ? Error::kTimeout : FromLastError();
      if (available == 0) break;  // the body is complete
      DWORD got = 0;
      const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(buffer.size()));
      if (!WinHttpReadData(req.h, buffer.data(), want, &got)) {
        return clock.Expired() ? Error::kTimeout : FromLastError();
      }
      if (got == 0) break;
      if (success && request.bodySink) {
        if (!request.bodySink(buffer.data(), got)) return Error::kAborted;
      } else {
        if (response->body.size() + got > (std::size_t{8} << 20)) return Error::kTransport;
        response->body.append(buffer.data(), got);
      }
    }
    return Error::kNone;
  }

 private:
  InternetHandle session_;
};

}  // namespace

std::unique_ptr<IHttpClient> CreateHttpClient() { return std::make_unique<WinHttpClient>(); }

bool SystemProxy(std::string* host, std::string* port) {
  host->clear();
  port->clear();
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&config)) return false;
  std::wstring proxy = config.lpszProxy ? config.lpszProxy : L"";
  if (config.lpszProxy) GlobalFree(config.lpszProxy);
  if (config.lpszProxyBypass) GlobalFree(config.lpszProxyBypass);
  if (config.lpszAutoConfigUrl) GlobalFree(config.lpszAutoConfigUrl);
  if (proxy.empty()) return false;
  // "host:port", or per-scheme "http=host:port;https=...": take the http one.
  std::string text = Narrow(proxy);
  if (auto eq = text.find("http="); eq != std::string::npos) {
    text = text.substr(eq + 5);
    text = text.substr(0, text.find(';'));
  } else {
    text = text.substr(0, text.find(';'));
  }
  auto colon = text.rfind(':');
  *host = text.substr(0, colon);
  if (colon != std::string::npos) *port = text.substr(colon + 1);
  return !host->empty();
}

}  // namespace corbel::http
