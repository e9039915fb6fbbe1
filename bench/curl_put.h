#pragma once
// The plain-HTTP baselines of the transfer benchmarks: a file sent as ranged
// PUTs of `chunk` bytes with libcurl, the way the SDK sends it; a JSON call;
// a GET into a file; a download as a ticket request and its GET. Nothing
// else: no SDK, no engine.
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace bench {

inline size_t ReadFromFd(char* buffer, size_t size, size_t count, void* user) {
  ssize_t n = read(*static_cast<int*>(user), buffer, size * count);
  return n < 0 ? CURL_READFUNC_ABORT : static_cast<size_t>(n);
}
inline size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

// True when every PUT was answered 200.
inline bool CurlPutChunks(const std::string& url, const std::string& path, std::uint64_t bytes, std::uint64_t chunk) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  CURL* h = curl_easy_init();
  bool ok = true;
  for (std::uint64_t at = 0; at < bytes && ok; at += chunk) {
    const std::uint64_t n = std::min<std::uint64_t>(chunk, bytes - at);
    std::string range = "Content-Range: bytes " + std::to_string(at) + "-" + std::to_string(at + n - 1) + "/" +
                        std::to_string(bytes);
    curl_slist* headers = curl_slist_append(nullptr, range.c_str());
    headers = curl_slist_append(headers, "Expect:");
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, ReadFromFd);
    curl_easy_setopt(h, CURLOPT_READDATA, &fd);
    curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(n));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    // The SDK's upload buffer: the same sized reads and writes on both sides.
    curl_easy_setopt(h, CURLOPT_UPLOAD_BUFFERSIZE, 512L * 1024);
    long code = 0;
    ok = curl_easy_perform(h) == CURLE_OK;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    ok = ok && code == 200;
    curl_slist_free_all(headers);
  }
  curl_easy_cleanup(h);
  close(fd);
  return ok;
}

inline size_t WriteToFd(char* data, size_t size, size_t count, void* user) {
  return static_cast<size_t>(write(*static_cast<int*>(user), data, size * count));
}
inline size_t Collect(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

// POSTs `body` and returns the answer. handle: reuse it (and its connection)
// as the SDK reuses its own; null: a handle of its own for this call.
inline std::string PostJson(const std::string& url, const std::string& body, CURL* handle = nullptr) {
  CURL* h = handle ? handle : curl_easy_init();
  std::string answer;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_perform(h);
  if (!handle) curl_easy_cleanup(h);
  return answer;
}

// GETs `url` into a new file at `path`; true on a complete 200 answer.
inline bool CurlGetToFile(const std::string& url, const std::string& path, CURL* handle = nullptr) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  CURL* h = handle ? handle : curl_easy_init();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, WriteToFd);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &fd);
  curl_easy_setopt(h, CURLOPT_PROXY, "");
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 512L * 1024);
  long code = 0;
  bool ok = curl_easy_perform(h) == CURLE_OK;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
  if (!handle) curl_easy_cleanup(h);
  close(fd);
  return ok && code == 200;
}

// A content downloaded the plain way from the service at `base`
// ("http://host:port"): a ticket, then one GET of its bytes into `path`.
inline bool TicketAndGet(const std::string& base, const std::string& token, const std::string& contentId,
                         const std::string& path, CURL* handle = nullptr) {
  const auto ticket = nlohmann::json::parse(
      PostJson(base + "/api/pcDownloadFileRequest", nlohmann::json{{"token", token}, {"contentID", contentId}}.dump(),
               handle),
      nullptr, false);
  if (!ticket.is_object()) return false;
  return CurlGetToFile(base + ticket.value("downloadURL", ""), path, handle);
}

}  // namespace bench
