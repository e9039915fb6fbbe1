#include "http_server.h"

#include <httplib.h>

#include <fstream>

#include "api.h"
#include "cloud_store.h"
#include "util.h"

namespace cloudserver {
namespace {

void SendJson(httplib::Response& res, int status, const Json& body) {
  res.status = status;
  res.set_content(body.dump(), "application/json; charset=utf-8");
}

// "bytes first-last/total" with first <= last < total.
bool ParseContentRange(const std::string& text, int64_t* first, int64_t* last, int64_t* total) {
  const std::string prefix = "bytes ";
  if (text.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = text.substr(prefix.size());
  auto dash = rest.find('-'), slash = rest.find('/');
  if (dash == std::string::npos || slash == std::string::npos || slash < dash) return false;
  auto a = ParseDecimal(rest.substr(0, dash)), b = ParseDecimal(rest.substr(dash + 1, slash - dash - 1)),
       t = ParseDecimal(rest.substr(slash + 1));
  if (!a || !b || !t || *a > *b || *b >= *t) return false;
  *first = *a;
  *last = *b;
  *total = *t;
  return true;
}

// The library slices 2xx bodies by the request's Range itself but does not
// clamp; only ranges lying wholly inside the blob are let through.
bool RangeSatisfiable(const httplib::Request& req, int64_t size) {
  if (req.ranges.empty()) return true;
  if (req.ranges.size() != 1) return false;
  auto [a, b] = req.ranges[0];
  if (a < 0) return b > 0 && b <= size;  // suffix range "-n"
  if (a >= size) return false;
  return b < 0 || (b >= a && b < size);
}

std::string BearerToken(const httplib::Request& req) {
  std::string auth = req.get_header_value("Authorization");
  const std::string prefix = "Bearer ";
  if (auth.compare(0, prefix.size(), prefix) == 0) return auth.substr(prefix.size());
  return req.get_param_value("token");
}

}  // namespace

struct HttpServer::Impl {
  Impl(CloudStore& s, Limits l) : store(s), api(s), limits(l) {}
  CloudStore& store;
  Api api;
  Limits limits;
  httplib::Server server;
};

HttpServer::HttpServer(CloudStore& store, Limits limits) : impl_(std::make_unique<Impl>(store, limits)) {
  auto& srv = impl_->server;
  Impl* impl = impl_.get();
  srv.set_payload_max_length(std::max(limits.maxJsonBody, limits.maxPutBody));

  srv.Post(R"(/api/([A-Za-z0-9_]{1,64}))", [impl](const httplib::Request& req, httplib::Response& res) {
    if (req.body.size() > impl->limits.maxJsonBody)
      return SendJson(res, 413, Json{{"code", codes::kTooLarge}, {"message", "body too large"}});
    Json request = Json::parse(req.body, nullptr, false);
    if (request.is_discarded() || !request.is_object())
      return SendJson(res, 400, Json{{"code", codes::kBadRequest}, {"message", "malformed JSON"}});
    bool known = false;
    Json answer = impl->api.Call(req.matches[1], request, &known);
    SendJson(res, known ? 200 : 404, answer);
  });

  srv.Put(R"(/blob/upload/([0-9a-f]{32})/([0-9]{32}))", [impl](const httplib::Request& req, httplib::Response& res) {
    int64_t first = 0, last = 0, total = 0;
    if (!ParseContentRange(req.get_header_value("Content-Range"), &first, &last, &total) ||
        static_cast<int64_t>(req.body.size()) != last - first + 1)
      return SendJson(res, 400, Json{{"code", codes::kBadRequest}, {"message", "bad Content-Range"}});
    Reply r = impl->store.UploadRange(req.matches[1], req.matches[2], first, total, req.body);
    Json body = r.data;
    body["code"] = r.code;
    int status = 200;
    if (r.code == codes::kTaskMissing)
      status = 404;
    else if (r.code == codes::kBadRequest && body.contains("storedBytes"))
      status = 416;  // a gap before this range: resume from storedBytes
    else if (r.code != codes::kOk)
      status = 400;
    SendJson(res, status, body);
  });

  srv.Get(R"(/blob/download/([0-9a-f]{32}))", [impl](const httplib::Request& req, httplib::Response& res) {
    auto blob = impl->store.ResolveDownload(req.matches[1]);
    if (!blob) return SendJson(res, 404, Json{{"code", codes::kContentMissing}, {"message", "unknown ticket"}});
    if (!RangeSatisfiable(req, blob->size)) {
      res.status = 416;
      res.set_header("Content-Range", "bytes */" + std::to_string(blob->size));
      return;
    }
    auto file = std::make_shared<std::ifstream>(blob->path, std::ios::binary);
    if (!*file) return SendJson(res, 500, Json{{"code", codes::kServerError}, {"message", "blob unreadable"}});
    res.set_header("Accept-Ranges", "bytes");
    res.set_content_provider(static_cast<size_t>(blob->size), "application/octet-stream",
                             [file](size_t offset, size_t length, httplib::DataSink& sink) {
                               char buf[1 << 16];
                               file->clear();
                               file->seekg(static_cast<std::streamoff>(offset));
                               file->read(buf, static_cast<std::streamsize>(std::min(length, sizeof buf)));
                               std::streamsize n = file->gcount();
                               if (n <= 0) return false;
                               return sink.write(buf, static_cast<size_t>(n));
                             });
  });

  srv.Get(R"(/thumb/([0-9]{32}))", [impl](const httplib::Request& req, httplib::Response& res) {
    int edge = 160;
    if (req.has_param("edge")) {
      auto e = ParseDecimal(req.get_param_value("edge"));
      if (!e) return SendJson(res, 400, Json{{"code", codes::kBadRequest}, {"message", "bad edge"}});
      edge = static_cast<int>(std::min<int64_t>(*e, 4096));
    }
    std::filesystem::path thumb;
    Reply r = impl->store.Thumbnail(BearerToken(req), req.matches[1], edge, &thumb);
    if (r.code == codes::kTokenInvalid) return SendJson(res, 401, Json{{"code", r.code}});
    if (r.code) return SendJson(res, 404, Json{{"code", r.code}});
    std::ifstream in(thumb, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    bool png = bytes.size() > 4 && bytes.compare(1, 3, "PNG") == 0;
    res.set_content(bytes, png ? "image/png" : "image/jpeg");
  });

  srv.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    // Handlers fill their own bodies; this covers what the library refuses
    // itself (unknown path, oversized body). A 416 keeps an empty body.
    if (!res.body.empty() || res.status == 416) return;
    int code = res.status == 413 ? codes::kTooLarge : codes::kBadRequest;
    res.set_content(Json{{"code", code}, {"message", "HTTP " + std::to_string(res.status)}}.dump(),
                    "application/json; charset=utf-8");
  });
  srv.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendJson(res, 500, Json{{"code", codes::kServerError}, {"message", "internal error"}});
  });
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Bind(const std::string& host, int port) {
  if (port == 0) return impl_->server.bind_to_any_port(host);
  return impl_->server.bind_to_port(host, port) ? port : -1;
}

bool HttpServer::Run() { return impl_->server.listen_after_bind(); }

void HttpServer::Stop() { impl_->server.stop(); }

}  // namespace cloudserver
