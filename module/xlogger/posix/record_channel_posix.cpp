// Natively the section is a block shared by the loggers of this process.
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include "record_channel.h"

namespace XLOGGER {
namespace {

struct Section {
  std::vector<uint8_t> data;
  std::timed_mutex lock;
  std::mutex event_mutex;
  std::condition_variable event;
  bool signaled = true;  // auto-reset, initially set
};

std::mutex g_sections_mutex;
std::map<std::u16string, std::weak_ptr<Section>> g_sections;

class LocalChannel final : public IRecordChannel {
 public:
  explicit LocalChannel(std::shared_ptr<Section> s) : s_(std::move(s)) {}
  uint8_t* Data() override { return s_->data.data(); }
  size_t Size() const override { return s_->data.size(); }
  bool Lock(uint32_t timeout_ms) override { return s_->lock.try_lock_for(std::chrono::milliseconds(timeout_ms)); }
  void Unlock() override { s_->lock.unlock(); }
  void SignalReader() override {
    {
      std::lock_guard g(s_->event_mutex);
      s_->signaled = true;
    }
    s_->event.notify_one();
  }
  bool WaitForRecords(uint32_t timeout_ms) override {
    std::unique_lock g(s_->event_mutex);
    if (!s_->event.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] { return s_->signaled; })) return false;
    s_->signaled = false;
    return true;
  }

 private:
  std::shared_ptr<Section> s_;
};

}  // namespace

std::unique_ptr<IRecordChannel> OpenRecordChannel(std::u16string_view name, size_t size, std::string* error) {
  std::lock_guard g(g_sections_mutex);
  auto& slot = g_sections[std::u16string(name)];
  auto section = slot.lock();
  if (!section) {
    section = std::make_shared<Section>();
    section->data.assign(size, 0);
    slot = section;
  } else if (section->data.size() != size) {
    if (error) *error = "section exists with another size";
    return nullptr;
  }
  return std::make_unique<LocalChannel>(std::move(section));
}

}  // namespace XLOGGER
