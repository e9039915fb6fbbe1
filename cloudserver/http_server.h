#pragma once
// HTTP/1.1 front of the service on a loopback address. The only translation
// unit that includes the HTTP library on the server side.
#include <cstddef>
#include <memory>
#include <string>

namespace cloudserver {

class CloudStore;

class HttpServer {
 public:
  struct Limits {
    size_t maxJsonBody = 1 << 20;    // API calls
    size_t maxPutBody = 32 << 20;    // one upload range
  };
  HttpServer(CloudStore& store, Limits limits);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port (0 = ephemeral); answers the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves until Stop(); call after Bind().
  bool Run();
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace cloudserver
