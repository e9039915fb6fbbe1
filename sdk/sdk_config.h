#pragma once
// "sdkconfig.ini" in the module folder: where the service is and how patient
// the SDK is with it.
//   [Service]
//   Host=127.0.0.1
//   Port=8080
//   ConnectTimeoutMs=5000    RequestTimeoutMs=30000   IdleTimeoutMs=30000
//   Retries=3                RetryDelayMs=200         ChunkBytes=16777216
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corbel {

struct SdkConfig {
  std::string host;
  int port = 0;
  int connectTimeoutMs = 5000;
  int requestTimeoutMs = 30000;  // whole exchange of one JSON call
  int idleTimeoutMs = 30000;     // transfers: no byte moved for this long
  int retries = 3;               // further attempts where a repeat is safe
  int retryDelayMs = 200;        // doubled after each attempt
  std::uint32_t chunkBytes = 16u << 20;  // bytes per upload PUT (the service takes at most 32 MiB)

  std::string BaseUrl() const { return "http://" + host + ":" + std::to_string(port); }
};

// Nothing when the host or port is missing or a number is malformed.
std::optional<SdkConfig> ParseSdkConfig(std::string_view iniText);

// Decimal text of a non-negative 64-bit number, nothing for anything else.
std::optional<std::uint64_t> ParseUnsigned(std::string_view text);

}  // namespace corbel
