#pragma once
// The plain-HTTP baseline of the upload benchmarks: a file sent as ranged
// PUTs of `chunk` bytes with libcurl, the way the SDK sends it, and nothing
// else (no SDK, no engine).
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
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

}  // namespace bench
