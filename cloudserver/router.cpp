#include "router.h"

#include <algorithm>
#include <cctype>
#include <fstream>

#include "cloud_store.h"
#include "util.h"

namespace cloudserver {
namespace {

constexpr const char* kJsonType = "application/json; charset=utf-8";

HttpAnswer JsonAnswer(int status, const Json& body) {
  HttpAnswer a;
  a.status = status;
  a.contentType = kJsonType;
  // Replacing keeps one bad byte from turning an answer into an exception.
  a.body = body.dump(-1, ' ', false, Json::error_handler_t::replace);
  return a;
}

HttpAnswer Refuse(int status, int code, const char* message) {
  return JsonAnswer(status, Json{{"code", code}, {"message", message}});
}

bool AllOf(std::string_view text, size_t length, bool (*allowed)(char)) {
  return text.size() == length && std::all_of(text.begin(), text.end(), allowed);
}
bool IsLowerHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// The rest of path after prefix, or nullopt.
std::optional<std::string_view> After(std::string_view path, std::string_view prefix) {
  if (path.substr(0, prefix.size()) != prefix) return std::nullopt;
  return path.substr(prefix.size());
}

std::optional<std::string> ApiName(std::string_view path) {
  auto rest = After(path, "/api/");
  if (!rest || rest->empty() || rest->size() > 64 || !std::all_of(rest->begin(), rest->end(), IsNameChar))
    return std::nullopt;
  return std::string(*rest);
}

// "/blob/upload/<32 hex task>/<32-digit content>"
std::optional<std::pair<std::string, std::string>> UploadTarget(std::string_view path) {
  auto rest = After(path, "/blob/upload/");
  if (!rest || rest->size() != 65 || (*rest)[32] != '/') return std::nullopt;
  auto task = rest->substr(0, 32), content = rest->substr(33);
  if (!AllOf(task, 32, IsLowerHex) || !AllOf(content, 32, IsDigit)) return std::nullopt;
  return std::pair{std::string(task), std::string(content)};
}

std::optional<std::string> Tail(std::string_view path, std::string_view prefix, bool (*allowed)(char)) {
  auto rest = After(path, prefix);
  if (!rest || !AllOf(*rest, 32, allowed)) return std::nullopt;
  return std::string(*rest);
}

std::string Header(const HttpRequest& request, const std::string& name) {
  auto it = request.headers.find(name);
  return it == request.headers.end() ? std::string() : it->second;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
    return std::tolower(x) < std::tolower(y);
  });
}

std::optional<ContentRange> ParseContentRange(std::string_view text) {
  auto rest = After(text, "bytes ");
  if (!rest) return std::nullopt;
  auto dash = rest->find('-'), slash = rest->find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return std::nullopt;
  auto a = ParseDecimal(rest->substr(0, dash)), b = ParseDecimal(rest->substr(dash + 1, slash - dash - 1)),
       t = ParseDecimal(rest->substr(slash + 1));
  if (!a || !b || !t || *a > *b || *b >= *t) return std::nullopt;
  return ContentRange{*a, *b, *t};
}

std::optional<ByteSpan> ResolveRange(std::string_view header, int64_t size) {
  if (header.empty()) return ByteSpan{0, size};
  auto asked = After(header, "bytes=");
  if (!asked) return std::nullopt;
  auto dash = asked->find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  // ParseDecimal takes digits only, so a second range ("0-1,5-6") fails here.
  std::string_view a = asked->substr(0, dash), b = asked->substr(dash + 1);
  if (a.empty()) {  // the last n bytes
    auto n = ParseDecimal(b);
    if (!n || *n == 0 || *n > size) return std::nullopt;
    return ByteSpan{size - *n, *n};
  }
  auto first = ParseDecimal(a);
  if (!first || *first >= size) return std::nullopt;
  if (b.empty()) return ByteSpan{*first, size - *first};
  auto last = ParseDecimal(b);
  if (!last || *last < *first || *last >= size) return std::nullopt;
  return ByteSpan{*first, *last - *first + 1};
}

bool JsonDepthWithin(std::string_view text, int maxDepth) {
  int depth = 0;
  bool inString = false, escaped = false;
  for (char c : text) {
    if (inString) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

size_t Router::BodyLimit(std::string_view method, std::string_view path) const {
  return method == "PUT" && UploadTarget(path) ? limits_.maxPutBody : limits_.maxJsonBody;
}

HttpAnswer Router::Handle(const HttpRequest& request) {
  try {
    const bool get = request.method == "GET" || request.method == "HEAD";
    if (request.method == "POST")
      if (auto name = ApiName(request.path)) return CallApi(*name, request);
    if (request.method == "PUT")
      if (auto target = UploadTarget(request.path)) return PutRange(target->first, target->second, request);
    if (get)
      if (auto ticket = Tail(request.path, "/blob/download/", IsLowerHex)) return Download(*ticket, request);
    if (get)
      if (auto content = Tail(request.path, "/thumb/", IsDigit)) return Thumbnail(*content, request);
    return Refuse(404, codes::kBadRequest, "unknown path");
  } catch (const std::exception&) {
    return Refuse(500, codes::kServerError, "internal error");
  }
}

HttpAnswer Router::CallApi(const std::string& name, const HttpRequest& request) {
  if (request.body.size() > limits_.maxJsonBody) return Refuse(413, codes::kTooLarge, "body too large");
  // Checked before parsing: the parser itself is iterative, but writing or
  // comparing the value afterwards would recurse once per level.
  if (!JsonDepthWithin(request.body, limits_.maxJsonDepth))
    return Refuse(400, codes::kBadRequest, "JSON nested too deep");
  Json body = Json::parse(request.body, nullptr, false);
  if (body.is_discarded() || !body.is_object()) return Refuse(400, codes::kBadRequest, "malformed JSON");
  bool known = false;
  Json answer = api_.Call(name, body, &known);
  return JsonAnswer(known ? 200 : 404, answer);
}

HttpAnswer Router::PutRange(const std::string& task, const std::string& content, const HttpRequest& request) {
  if (request.body.size() > limits_.maxPutBody) return Refuse(413, codes::kTooLarge, "body too large");
  auto range = ParseContentRange(Header(request, "Content-Range"));
  if (!range || static_cast<int64_t>(request.body.size()) != range->last - range->first + 1)
    return Refuse(400, codes::kBadRequest, "bad Content-Range");
  Reply r = store_.UploadRange(task, content, range->first, range->total, request.body);
  Json body = r.data.is_object() ? r.data : Json::object();
  body["code"] = r.code;
  int status = 200;
  if (r.code == codes::kTaskMissing)
    status = 404;
  else if (r.code == codes::kBadRequest && body.contains("storedBytes"))
    status = 416;  // a gap before this range: resume from storedBytes
  else if (r.code != codes::kOk)
    status = 400;
  return JsonAnswer(status, body);
}

HttpAnswer Router::Download(const std::string& ticket, const HttpRequest& request) {
  auto blob = store_.ResolveDownload(ticket);
  if (!blob) return Refuse(404, codes::kContentMissing, "unknown ticket");
  std::string range = Header(request, "Range");
  auto span = ResolveRange(range, blob->size);
  HttpAnswer a;
  if (!span) {
    a.status = 416;
    a.headers.emplace_back("Content-Range", "bytes */" + std::to_string(blob->size));
    return a;
  }
  a.status = range.empty() ? 200 : 206;
  a.contentType = "application/octet-stream";
  a.headers.emplace_back("Accept-Ranges", "bytes");
  a.file = FileSlice{blob->path, span->offset, span->length, blob->size};
  return a;
}

HttpAnswer Router::Thumbnail(const std::string& contentId, const HttpRequest& request) {
  int edge = 160;
  if (auto it = request.query.find("edge"); it != request.query.end()) {
    auto e = ParseDecimal(it->second);
    if (!e) return Refuse(400, codes::kBadRequest, "bad edge");
    edge = static_cast<int>(std::min<int64_t>(*e, 4096));
  }
  std::string token = Header(request, "Authorization");
  if (auto bearer = After(token, "Bearer "))
    token = std::string(*bearer);
  else if (auto it = request.query.find("token"); it != request.query.end())
    token = it->second;
  else
    token.clear();
  std::filesystem::path thumb;
  Reply r = store_.Thumbnail(token, contentId, edge, &thumb);
  if (r.code == codes::kTokenInvalid) return JsonAnswer(401, Json{{"code", r.code}});
  if (r.code) return JsonAnswer(404, Json{{"code", r.code}});
  std::ifstream in(thumb, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.empty()) return Refuse(500, codes::kServerError, "thumbnail unreadable");
  HttpAnswer a;
  a.contentType = bytes.compare(0, 4, "\x89PNG") == 0 ? "image/png" : "image/jpeg";
  a.body = std::move(bytes);
  return a;
}

}  // namespace cloudserver
