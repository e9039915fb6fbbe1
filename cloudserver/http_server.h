#pragma once
// HTTP/1.1 front of the service on a loopback address. The only translation
// unit that includes the HTTP library on the server side; what a request
// means is decided by Router.
#include <memory>
#include <string>

#include "router.h"

namespace cloudserver {

class CloudStore;

class HttpServer {
 public:
  using Limits = RequestLimits;
  HttpServer(CloudStore& store, Limits limits);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port (0 = ephemeral); answers the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop(); call after Bind(). Returns at once when Stop() came
  // first.
  bool Run();
  // Any thread, any time, also before Run() has started.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cloudserver
