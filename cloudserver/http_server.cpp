#include "http_server.h"

#include <httplib.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include "cloud_store.h"
#include "util.h"

namespace cloudserver {
namespace {

void SendRefusal(httplib::Response& res, int status, int code, const char* message) {
  res.status = status;
  res.set_content(Json{{"code", code}, {"message", message}}.dump(), "application/json; charset=utf-8");
}

HttpRequest ToRouter(const httplib::Request& req, std::string body) {
  HttpRequest r;
  r.method = req.method;
  r.path = req.path;
  for (const auto& [name, value] : req.params) r.query.emplace(name, value);
  for (const auto& [name, value] : req.headers) r.headers.emplace(name, value);
  r.body = std::move(body);
  return r;
}

// The library slices every 2xx body by the request's Range itself; the span
// the router chose must be the one the library is about to send.
bool LibrarySendsSpan(const httplib::Request& req, const FileSlice& file) {
  if (req.ranges.empty()) return file.offset == 0 && file.length == file.total;
  if (req.ranges.size() != 1) return false;
  auto [a, b] = req.ranges[0];
  int64_t first = a, last = b;
  if (a < 0) {
    first = file.total - b;
    last = file.total - 1;
  } else if (b < 0) {
    last = file.total - 1;
  }
  return first == file.offset && last - first + 1 == file.length;
}

void Send(const httplib::Request& req, httplib::Response& res, HttpAnswer answer) {
  res.status = answer.status;
  for (auto& [name, value] : answer.headers) res.set_header(name, value);
  if (!answer.file) {
    if (!answer.body.empty() || !answer.contentType.empty()) res.set_content(answer.body, answer.contentType);
    return;
  }
  const FileSlice& file = *answer.file;
  if (!LibrarySendsSpan(req, file)) {
    res.status = 416;
    res.set_header("Content-Range", "bytes */" + std::to_string(file.total));
    return;
  }
  auto in = std::make_shared<std::ifstream>(file.path, std::ios::binary);
  if (!*in) return SendRefusal(res, 500, codes::kServerError, "blob unreadable");
  res.set_content_provider(static_cast<size_t>(file.total), answer.contentType,
                           [in](size_t offset, size_t length, httplib::DataSink& sink) {
                             char buf[1 << 16];
                             in->clear();
                             in->seekg(static_cast<std::streamoff>(offset));
                             in->read(buf, static_cast<std::streamsize>(std::min(length, sizeof buf)));
                             std::streamsize n = in->gcount();
                             if (n <= 0) return false;
                             return sink.write(buf, static_cast<size_t>(n));
                           });
}

}  // namespace

struct HttpServer::Impl {
  Impl(CloudStore& s, Limits l) : router(s, l) {}
  Router router;
  httplib::Server server;
  // The library ignores stop() until its accept loop runs; these let Stop()
  // land whenever it is called.
  std::mutex stateMutex;
  bool stopRequested = false;
  bool runEntered = false;
  std::atomic<bool> runFinished{false};
};

HttpServer::HttpServer(CloudStore& store, Limits limits) : impl_(std::make_unique<Impl>(store, limits)) {
  auto& srv = impl_->server;
  Impl* impl = impl_.get();
  // A backstop only: every route's own limit is enforced before its body is read.
  srv.set_payload_max_length(std::max(limits.maxJsonBody, limits.maxPutBody));
  // An answer goes out as its header and then its body: with Nagle on, the
  // body waits for the client's delayed ACK of the header, ~40 ms a request.
  srv.set_tcp_nodelay(true);

  // Runs before the library reads a body: a declared length past the route's
  // limit is refused unread. The answer asks the client to close, since the
  // unread bytes cannot be told from a next request.
  srv.set_pre_routing_handler([impl](const httplib::Request& req, httplib::Response& res) {
    if (!req.has_header("Content-Length")) return httplib::Server::HandlerResponse::Unhandled;
    const std::string length = req.get_header_value("Content-Length");
    if (length.empty() || length.find_first_not_of("0123456789") != std::string::npos) {
      SendRefusal(res, 400, codes::kBadRequest, "bad Content-Length");
    } else {
      auto declared = ParseDecimal(length);  // nullopt past 18 digits: beyond any limit
      if (declared && static_cast<uint64_t>(*declared) <= impl->router.BodyLimit(req.method, req.path))
        return httplib::Server::HandlerResponse::Unhandled;
      SendRefusal(res, 413, codes::kTooLarge, "body too large");
    }
    res.set_header("Connection", "close");
    return httplib::Server::HandlerResponse::Handled;
  });

  // Bodies without a declared length (chunked) are read up to the limit.
  auto withBody = [impl](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
    const size_t limit = impl->router.BodyLimit(req.method, req.path);
    std::string body;
    bool tooLarge = false;
    bool complete = reader([&](const char* data, size_t length) {
      if (length > limit - body.size()) {
        tooLarge = true;
        return false;
      }
      body.append(data, length);
      return true;
    });
    if (tooLarge) {
      SendRefusal(res, 413, codes::kTooLarge, "body too large");
      res.set_header("Connection", "close");
      return;
    }
    if (!complete) return SendRefusal(res, 400, codes::kBadRequest, "body shorter than declared");
    Send(req, res, impl->router.Handle(ToRouter(req, std::move(body))));
  };
  auto withoutBody = [impl](const httplib::Request& req, httplib::Response& res) {
    Send(req, res, impl->router.Handle(ToRouter(req, {})));
  };
  // The library routes by these patterns before the router sees a request;
  // they only keep unknown paths from reaching a body reader.
  srv.Post(R"(/api/[A-Za-z0-9_]{1,64})", withBody);
  srv.Put(R"(/blob/upload/[0-9a-f]{32}/[0-9]{32})", withBody);
  srv.Get(R"(/blob/download/[0-9a-f]{32})", withoutBody);
  srv.Get(R"(/thumb/[0-9]{32})", withoutBody);

  srv.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    // The router fills its own bodies; this covers what the library refuses
    // itself (unknown path, bad request line). A 416 keeps an empty body.
    if (!res.body.empty() || res.status == 416) return;
    int code = res.status == 413 ? codes::kTooLarge : codes::kBadRequest;
    res.set_content(Json{{"code", code}, {"message", "HTTP " + std::to_string(res.status)}}.dump(),
                    "application/json; charset=utf-8");
  });
  srv.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    SendRefusal(res, 500, codes::kServerError, "internal error");
  });
}

HttpServer::~HttpServer() { Stop(); }

int HttpServer::Bind(const std::string& host, int port) {
  if (port == 0) return impl_->server.bind_to_any_port(host);
  return impl_->server.bind_to_port(host, port) ? port : -1;
}

bool HttpServer::Run() {
  {
    std::lock_guard lock(impl_->stateMutex);
    if (impl_->stopRequested) return true;
    impl_->runEntered = true;
  }
  bool ok = impl_->server.listen_after_bind();
  impl_->runFinished = true;
  return ok;
}

void HttpServer::Stop() {
  {
    std::lock_guard lock(impl_->stateMutex);
    impl_->stopRequested = true;
    if (!impl_->runEntered) return;  // Run() will see the request and not start
  }
  // Run() is between its check and the accept loop for a moment at most.
  while (!impl_->server.is_running() && !impl_->runFinished) std::this_thread::yield();
  impl_->server.stop();
}

}  // namespace cloudserver
