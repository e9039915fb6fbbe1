// cloudserver: the reference cloud service on the loopback interface.
//   cloudserver [serve] --data DIR [--port N] [--token-ttl SECONDS] [--quota BYTES] [--seed]
//   cloudserver seed --data DIR [--bench-entries N]
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "cloud_store.h"
#include "http_server.h"
#include "seed.h"
#include "util.h"

namespace {

int Usage() {
  std::cerr << "usage: cloudserver [serve] --data DIR [--port N] [--token-ttl SECONDS] [--quota BYTES] [--seed]\n"
               "       cloudserver seed --data DIR [--bench-entries N]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace cloudserver;
  std::string mode = "serve", data;
  int64_t port = 0, benchEntries = 0;
  bool seed = false;
  CloudStore::Options options;
  int i = 1;
  if (i < argc && (std::strcmp(argv[i], "seed") == 0 || std::strcmp(argv[i], "serve") == 0)) mode = argv[i++];
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= argc) return std::nullopt;
      return std::string(argv[++i]);
    };
    auto number = [&]() -> std::optional<int64_t> {
      auto v = value();
      return v ? ParseDecimal(*v) : std::nullopt;
    };
    std::optional<int64_t> n;
    if (arg == "--data") {
      auto v = value();
      if (!v) return Usage();
      data = *v;
    } else if (arg == "--port") {
      if (!(n = number()) || *n > 65535) return Usage();
      port = *n;
    } else if (arg == "--token-ttl") {
      if (!(n = number()) || *n == 0) return Usage();
      options.tokenTtlSeconds = *n;
    } else if (arg == "--quota") {
      if (!(n = number())) return Usage();
      options.defaultQuota = *n;
    } else if (arg == "--bench-entries") {
      if (!(n = number())) return Usage();
      benchEntries = *n;
    } else if (arg == "--seed") {
      seed = true;
    } else {
      return Usage();
    }
  }
  if (data.empty()) return Usage();
  options.dataDir = data;

  try {
    CloudStore store(options);
    if (mode == "seed") {
      Seed(store, benchEntries, std::cout);
      return 0;
    }
    if (seed) Seed(store, benchEntries, std::cerr);

    // Signals are taken by one thread so that stopping is an ordinary call.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    HttpServer server(store, HttpServer::Limits{});
    int bound = server.Bind("127.0.0.1", static_cast<int>(port));
    if (bound <= 0) {
      std::cerr << "cannot bind 127.0.0.1:" << port << "\n";
      return 1;
    }
    std::printf("listening on 127.0.0.1:%d\n", bound);
    std::fflush(stdout);
    std::thread waiter([&] {
      int sig = 0;
      sigwait(&set, &sig);
      server.Stop();
    });
    server.Run();
    // Run() can also end on its own; wake the waiter so it can be joined.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "cloudserver: " << e.what() << "\n";
    return 1;
  }
}
