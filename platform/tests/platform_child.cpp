// Helper process for the cross-process cases of the platform contract test.
//   platform_child exit CODE
//   platform_child hold-mutex NAME MS          holds the mutex for MS ms
//   platform_child window NAME                 answers records until code 0xDEAD
//   platform_child sleep MS
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/message_channel.h"
#include "platform/sync.h"
#include "platform/text.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  std::string verb = argv[1];
  if (verb == "exit") return std::atoi(argv[2]);
  if (verb == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  std::u16string name = platform::Utf8ToWide(argv[2]);
  if (verb == "hold-mutex" && argc >= 4) {
    auto mutex = platform::NamedMutex::Create(name);
    if (!mutex) return 3;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
    return 0;
  }
  if (verb == "window") {
    std::atomic<int> received{0};
    std::atomic<bool> done{false};
    // Answer: code + 1000 * byte count + the sum of the bytes, so that a lost
    // or altered byte shows in the reply.
    auto window = platform::MessageWindow::Create(name, [&](uint64_t code, std::string_view bytes) -> intptr_t {
      if (code == 0xDEAD) {
        done = true;
        return 1;
      }
      ++received;
      intptr_t sum = 0;
      for (unsigned char c : bytes) sum += c;
      return static_cast<intptr_t>(code) + 1000 * static_cast<intptr_t>(bytes.size()) + sum;
    });
    if (!window) return 4;
    uint64_t deadline = platform::TickCountMs() + 60000;
    while (!done && platform::TickCountMs() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done ? 10 + received.load() : 5;
  }
  return 2;
}
