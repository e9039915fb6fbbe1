#include "http/http_client.h"

namespace corbel::http {
namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

}  // namespace

std::string Response::Header(std::string_view name) const {
  for (const auto& [key, value] : headers)
    if (EqualNoCase(key, name)) return value;
  return {};
}

const char* ErrorName(Error error) {
  switch (error) {
    case Error::kNone: return "none";
    case Error::kConnect: return "connect";
    case Error::kTimeout: return "timeout";
    case Error::kAborted: return "aborted";
    case Error::kTransport: return "transport";
    case Error::kBadUrl: return "bad url";
  }
  return "?";
}

std::vector<std::pair<std::string, std::string>> ParseHeaderLines(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    std::string_view name = Trim(line.substr(0, colon));
    if (name.empty()) continue;
    out.emplace_back(std::string(name), std::string(Trim(line.substr(colon + 1))));
  }
  return out;
}

}  // namespace corbel::http
