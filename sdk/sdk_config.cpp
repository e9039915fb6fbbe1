#include "sdk_config.h"

#include <limits>

namespace corbel {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::optional<std::uint64_t> ParseUnsigned(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

std::optional<SdkConfig> ParseSdkConfig(std::string_view text) {
  SdkConfig config;
  bool inService = false;
  // A UTF-8 byte-order mark written by an editor.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = Trim(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[') {
      inService = EqualNoCase(Trim(line.substr(1, line.find(']') - 1)), "Service");
      continue;
    }
    std::size_t eq = line.find('=');
    if (!inService || eq == std::string_view::npos) continue;
    std::string_view key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (EqualNoCase(key, "Host")) {
      config.host = std::string(value);
      continue;
    }
    struct Number {
      const char* name;
      std::uint64_t min, max;
      std::uint64_t* out;
    };
    std::uint64_t port = 0, connect = 0, request = 0, idle = 0, retries = 0, delay = 0, chunk = 0;
    const Number numbers[] = {{"Port", 1, 65535, &port},
                              {"ConnectTimeoutMs", 1, 600000, &connect},
                              {"RequestTimeoutMs", 1, 3600000, &request},
                              {"IdleTimeoutMs", 1000, 3600000, &idle},
                              {"Retries", 0, 20, &retries},
                              {"RetryDelayMs", 0, 60000, &delay},
                              {"ChunkBytes", 4096, 32u << 20, &chunk}};
    for (const auto& n : numbers) {
      if (!EqualNoCase(key, n.name)) continue;
      auto v = ParseUnsigned(value);
      if (!v || *v < n.min || *v > n.max) return std::nullopt;
      *n.out = *v;
    }
    if (port) config.port = static_cast<int>(port);
    if (connect) config.connectTimeoutMs = static_cast<int>(connect);
    if (request) config.requestTimeoutMs = static_cast<int>(request);
    if (idle) config.idleTimeoutMs = static_cast<int>(idle);
    if (EqualNoCase(key, "Retries")) config.retries = static_cast<int>(retries);
    if (EqualNoCase(key, "RetryDelayMs")) config.retryDelayMs = static_cast<int>(delay);
    if (chunk) config.chunkBytes = static_cast<std::uint32_t>(chunk);
  }
  if (config.host.empty() || config.port == 0) return std::nullopt;
  return config;
}

}  // namespace corbel
