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

Error FromLastError() {
  switch (GetLastError()) {
    case ERROR_WINHTTP_TIMEOUT: return Error::kTimeout;
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

    const int total = request.totalTimeoutMs > 0 ? request.totalTimeoutMs : request.idleTimeoutMs;
    WinHttpSetTimeouts(req.h, request.connectTimeoutMs, request.connectTimeoutMs, request.idleTimeoutMs,
                       total > request.idleTimeoutMs ? total : request.idleTimeoutMs);
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
        if (!WinHttpWriteData(req.h, buffer.data(), static_cast<DWORD>(n), &written)) return FromLastError();
        sent += static_cast<std::uint64_t>(n);
      }
    } else if (!request.body.empty()) {
      DWORD written = 0;
      if (!WinHttpWriteData(req.h, request.body.data(), static_cast<DWORD>(request.body.size()), &written))
        return FromLastError();
    }
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
      DWORD got = 0;
      if (!WinHttpReadData(req.h, buffer.data(), static_cast<DWORD>(buffer.size()), &got)) return FromLastError();
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
