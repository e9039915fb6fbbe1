#pragma once
// The stand-in desktop client: signs the user in to the cloud service, leaves
// the sign-in values for the shell extension, holds the sign-in mutex while
// signed in, and serves the extension's copy-data records on its window.
//
// Threads: the message window's thread decodes records and queues them; the
// thread in Run() acts on them (network, registry, records to the views), so
// a sender never waits on the service.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "client_options.h"
#include "client_protocol.h"
#include "cloud_sdk.h"
#include "platform/message_channel.h"
#include "platform/registry.h"
#include "platform/sync.h"
#include "sign_in_values.h"

namespace nimbra {

// Exit codes of Nimbra.exe.
enum ExitCode : int {
  kExitOk = 0,
  kExitUsage = 2,
  kExitUnreachable = 3,   // the service did not answer
  kExitRefused = 4,       // wrong account or password
  kExitSignInFailed = 5,  // the service or the SDK refused the sign-in otherwise
  kExitAlreadyRunning = 6,
  kExitLocalFailure = 7,  // registry, mutex or window could not be set up
};

// Hands one record to every view window; answers how many took it.
using ViewBroadcaster = std::function<int(uint64_t code, std::string_view bytes)>;
using LogSink = std::function<void(const std::string& line)>;

// What the service answered to a sign-in.
struct Session {
  LoginInfo login;
  std::string userId;
  std::string rootCatalogId;
};

class NimbraClient {
 public:
  // `folder` holds "sdkconfig.ini" for the SDK (written here from the options).
  NimbraClient(ClientOptions options, std::u16string folder, platform::IRegistry& registry,
               ICloudSdk* sdk, ViewBroadcaster broadcaster, LogSink log);
  ~NimbraClient();
  NimbraClient(const NimbraClient&) = delete;
  NimbraClient& operator=(const NimbraClient&) = delete;

  // Signs in and sets up the values, the mutex and the window. kExitOk or the
  // failure's exit code; on failure nothing is left behind.
  int SignIn();
  // Serves records until sign-out, a quit record, or the window's end.
  int Run();
  // Asks Run() to end as a quit record would (any thread).
  void RequestQuit();

  // The copy-data handler: decodes, queues, answers 1 for a taken record and
  // 0 for a dropped one.
  intptr_t OnRecord(uint64_t code, std::string_view bytes);

  Session session() const;
  uint64_t dropped_records() const;

 private:
  int SignInOverHttp(Session* session);
  int HandToSdk(const Session& session);
  void RefreshToken();
  void SignOut();
  void Handle(const ClientRecord& record);
  void Log(const std::string& line);

  ClientOptions options_;
  std::u16string folder_;
  platform::IRegistry& registry_;
  ICloudSdk* sdk_;
  ViewBroadcaster broadcaster_;
  LogSink log_;

  std::unique_ptr<platform::NamedMutex> mutex_;
  std::unique_ptr<platform::MessageWindow> window_;

  mutable std::mutex lock_;
  std::condition_variable wake_;
  std::deque<ClientRecord> queue_;
  Session session_;
  uint64_t dropped_ = 0;
  bool refresh_queued_ = false;
};

// Sends a request record (sign-out, quit) to the running client.
int SendToRunningClient(uint64_t code, LogSink log);

}  // namespace nimbra
