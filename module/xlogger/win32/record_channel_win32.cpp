// The section as the log server's protocol has it: named shared memory, a
// named mutex for writers of every process and a named auto-reset event.
#include <windows.h>

#include "platform/text.h"
#include "platform/win32/unique.h"
#include "record_channel.h"

namespace XLOGGER {
namespace {

using platform::win32::unique_handle;
using platform::win32::unique_mapview;
using platform::win32::W;

class SectionChannel final : public IRecordChannel {
 public:
  SectionChannel(unique_handle mapping, unique_mapview view, unique_handle mutex, unique_handle event, size_t size)
      : mapping_(std::move(mapping)), view_(std::move(view)), mutex_(std::move(mutex)), event_(std::move(event)), size_(size) {}
  uint8_t* Data() override { return static_cast<uint8_t*>(view_.get()); }
  size_t Size() const override { return size_; }
  bool Lock(uint32_t timeout_ms) override {
    DWORD r = ::WaitForSingleObject(mutex_.get(), timeout_ms);
    return r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;  // a writer that died still leaves whole records
  }
  void Unlock() override { ::ReleaseMutex(mutex_.get()); }
  void SignalReader() override { ::SetEvent(event_.get()); }
  bool WaitForRecords(uint32_t timeout_ms) override { return ::WaitForSingleObject(event_.get(), timeout_ms) == WAIT_OBJECT_0; }

 private:
  unique_handle mapping_;
  unique_mapview view_;
  unique_handle mutex_;
  unique_handle event_;
  size_t size_;
};

}  // namespace

std::unique_ptr<IRecordChannel> OpenRecordChannel(std::u16string_view name, size_t size, std::string* error) {
  std::u16string section(name);
  unique_handle mapping(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, static_cast<DWORD>(size), W(section)));
  if (!mapping) {
    if (error) *error = "Call CreateFileMapping FALSE! Mapping Object Name: " + platform::WideToUtf8(section);
    return nullptr;
  }
  unique_mapview view(::MapViewOfFile(mapping.get(), FILE_MAP_ALL_ACCESS, 0, 0, size));
  if (!view) {
    if (error) *error = "Call MapViewOfFile FALSE! Mapping Object Name: " + platform::WideToUtf8(section);
    return nullptr;
  }
  std::u16string mutex_name = section + u"_XLOGGER_WRITE_EVENT";
  unique_handle mutex(::CreateMutexW(nullptr, FALSE, W(mutex_name)));
  if (!mutex) {
    if (error) *error = "Call CreateMutex FALSE! Object Name: " + platform::WideToUtf8(mutex_name);
    return nullptr;
  }
  std::u16string event_name = section + u"_XLOGGER_READ_EVENT";
  unique_handle event(::CreateEventW(nullptr, FALSE, TRUE, W(event_name)));
  if (!event) {
    if (error) *error = "Call CreateEvent FALSE! Object Name: " + platform::WideToUtf8(event_name);
    return nullptr;
  }
  return std::make_unique<SectionChannel>(std::move(mapping), std::move(view), std::move(mutex), std::move(event), size);
}

}  // namespace XLOGGER
