#include "service_account.h"

#include <fstream>

#include <nlohmann/json.hpp>

#include "http/http_client.h"

namespace corbel::test {

bool SignIn(int port, const std::string& account, const std::string& password, Account* out) {
  auto client = http::CreateHttpClient();
  http::Request request;
  request.method = "POST";
  request.url = "http://127.0.0.1:" + std::to_string(port) + "/api/signIn";
  request.body = nlohmann::json{{"account", account}, {"password", password}}.dump();
  http::Response response;
  if (client->Send(request, http::Proxy{}, &response) != http::Error::kNone) return false;
  auto j = nlohmann::json::parse(response.body, nullptr, false);
  if (!j.is_object() || j.value("code", -1) != 0) return false;
  out->account = account;
  out->userID = j.value("userID", "");
  out->token = j.value("token", "");
  out->opToken = j.value("opToken", "");
  out->root = j.value("rootCatalogID", "");
  return true;
}

namespace {

// One call of the service straight over HTTP; null when it failed.
nlohmann::json Call(int port, const std::string& name, const nlohmann::json& body) {
  auto client = http::CreateHttpClient();
  http::Request request;
  request.method = "POST";
  request.url = "http://127.0.0.1:" + std::to_string(port) + "/api/" + name;
  request.body = body.dump();
  http::Response response;
  if (client->Send(request, http::Proxy{}, &response) != http::Error::kNone) return nullptr;
  auto j = nlohmann::json::parse(response.body, nullptr, false);
  if (!j.is_object() || j.value("code", -1) != 0) return nullptr;
  return j;
}

}  // namespace

std::string Mkdir(int port, const std::string& token, const std::string& parentID, const std::string& name) {
  const nlohmann::json j = Call(port, "SyncMkdir", {{"token", token}, {"parentCatalogID", parentID}, {"catalogName", name}});
  return j.is_object() ? j.value("catalogID", "") : std::string();
}

bool RenameContent(int port, const std::string& token, const std::string& contentID, const std::string& name) {
  return Call(port, "updateFile", {{"token", token}, {"contentID", contentID}, {"contentName", name}}).is_object();
}

void WriteSdkConfig(const std::filesystem::path& folder, int port, int retries, int idleMs, std::uint32_t chunkBytes) {
  std::ofstream out(folder / "sdkconfig.ini");
  out << "[Service]\nHost=127.0.0.1\nPort=" << port << "\nConnectTimeoutMs=2000\nRequestTimeoutMs=20000\n"
      << "IdleTimeoutMs=" << idleMs << "\nRetries=" << retries << "\nRetryDelayMs=50\nChunkBytes=" << chunkBytes
      << "\n";
}

}  // namespace corbel::test
