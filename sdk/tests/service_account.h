#pragma once
// Signing in to the reference service over plain HTTP, as the desktop
// client does it, and pointing the SDK at that service. Portable: used by
// native and Wine tests alike.
#include <cstdint>
#include <filesystem>
#include <string>

namespace corbel::test {

struct Account {
  std::string account;
  std::string userID;
  std::string token;
  std::string opToken;
  std::string root;
};

// signIn straight over HTTP, as the desktop client does it.
bool SignIn(int port, const std::string& account, const std::string& password, Account* out);

// mkdir straight over HTTP; the new catalog's ID, or "" on failure.
std::string Mkdir(int port, const std::string& token, const std::string& parentID, const std::string& name);

// updateFile straight over HTTP: renames a content; false on any failure.
bool RenameContent(int port, const std::string& token, const std::string& contentID, const std::string& name);

// Writes <folder>/sdkconfig.ini for the service on port with short waits.
void WriteSdkConfig(const std::filesystem::path& folder, int port, int retries = 2, int idleMs = 3000,
                    std::uint32_t chunkBytes = 1u << 20);

}  // namespace corbel::test
