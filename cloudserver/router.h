#pragma once
// The service's routes as one plain function: method, path, query, headers
// and body in; status, headers and body out. The socket layer and the
// request fuzzer both call it, so every byte a client controls is parsed
// here and nowhere else.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "api.h"

namespace cloudserver {

class CloudStore;

struct RequestLimits {
  size_t maxJsonBody = 1 << 20;  // API calls
  size_t maxPutBody = 32 << 20;  // one upload range
  // Far above any call's shape; the JSON library recurses once per level
  // when it writes or compares a value.
  int maxJsonDepth = 64;
};

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct HttpRequest {
  std::string method;
  std::string path;  // without the query
  std::map<std::string, std::string> query;
  std::map<std::string, std::string, CaseInsensitiveLess> headers;
  std::string body;
};

// Bytes of a blob the answer streams instead of carrying them.
struct FileSlice {
  std::filesystem::path path;
  int64_t offset = 0;
  int64_t length = 0;
  int64_t total = 0;  // size of the whole file
};

struct HttpAnswer {
  int status = 200;
  std::string contentType;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<FileSlice> file;
};

// "bytes first-last/total" with first <= last < total.
struct ContentRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t total = 0;
};
std::optional<ContentRange> ParseContentRange(std::string_view text);

// The bytes one Range header ("bytes=a-b", "bytes=a-", "bytes=-n") asks of a
// blob of `size` bytes; an empty header asks for all of it. nullopt when it
// cannot be served: bad syntax, several ranges, a range not inside the blob.
struct ByteSpan {
  int64_t offset = 0;
  int64_t length = 0;
};
std::optional<ByteSpan> ResolveRange(std::string_view header, int64_t size);

// True when no array or object in the text nests deeper than maxDepth.
// Counts brackets outside strings; only meaningful for text that parses.
bool JsonDepthWithin(std::string_view text, int maxDepth);

class Router {
 public:
  Router(CloudStore& store, RequestLimits limits) : store_(store), api_(store), limits_(limits) {}

  // Never throws: a failure inside is a 500 answer.
  HttpAnswer Handle(const HttpRequest& request);

  // The body limit of a route, to refuse a body before it is read.
  size_t BodyLimit(std::string_view method, std::string_view path) const;

 private:
  HttpAnswer CallApi(const std::string& name, const HttpRequest& request);
  HttpAnswer PutRange(const std::string& task, const std::string& content, const HttpRequest& request);
  HttpAnswer Download(const std::string& ticket, const HttpRequest& request);
  HttpAnswer Thumbnail(const std::string& contentId, const HttpRequest& request);

  CloudStore& store_;
  Api api_;
  RequestLimits limits_;
};

}  // namespace cloudserver
