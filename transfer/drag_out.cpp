#include "drag_out.h"

#include "platform/files.h"
#include "platform/text.h"
#include "trace.h"

namespace vdtransfer {

DragOutHandOver& DragOutHandOver::Instance() {
  static DragOutHandOver* instance = new DragOutHandOver();  // lives until the module unloads
  return *instance;
}

void DragOutHandOver::Prepare(std::u16string marker, std::unique_ptr<platform::NamedEvent> dropped) {
  std::lock_guard<std::mutex> lock(m_lock);
  m_marker = std::move(marker);
  m_destination.clear();
  m_dropped = std::move(dropped);
  m_prepared = true;
}

std::u16string DragOutHandOver::Marker() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_marker;
}

std::u16string DragOutHandOver::Destination() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_destination;
}

bool DragOutHandOver::IsPrepared() const {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_prepared;
}

bool DragOutHandOver::WaitDropped(std::uint32_t timeoutMs) {
  platform::NamedEvent* dropped;
  {
    std::lock_guard<std::mutex> lock(m_lock);
    dropped = m_dropped.get();  // kept until the next Prepare, which the waiting download makes
  }
  if (!dropped) return false;
  const bool signalled = dropped->Wait(timeoutMs) == platform::WaitResult::Signaled;
  dropped->Reset();
  return signalled;
}

unsigned DragOutHandOver::CopyCallback(unsigned operation, const char16_t* source, const char16_t* destination) {
  std::lock_guard<std::mutex> lock(m_lock);
  const std::u16string from = source ? source : u"", to = destination ? destination : u"";
  if (m_prepared) {
    VD_LOG_INFO("wFunc:%d pszSrcFile=%s    pszDestFile=%s", static_cast<int>(operation), platform::WideToAnsi(from).c_str(),
                platform::WideToAnsi(to).c_str());
  }
  if (m_marker.empty()) m_marker = kDefaultPlaceholderMarker;
  if (operation != kFolderMove && operation != kFolderCopy) return kCopyHookYes;
  if (m_prepared) {
    VD_LOG_INFO("wFunc == FO_COPY || wFunc == FO_MOVE g_strVDTempPathShort=%s %p",
                platform::WideToAnsi(m_marker).c_str(), static_cast<void*>(m_dropped.get()));
  }
  if (!source || !destination || from.find(m_marker) == std::u16string::npos) return kCopyHookYes;
  // The destination is in place before the waiting download wakes.
  m_destination = to;
  if (m_dropped) m_dropped->Set();
  return kCopyHookNo;
}

std::u16string InitCopyGlobal() {
  static const std::u16string placeholder = [] {
    const std::optional<std::u16string> temp = platform::SystemFileSystem().GetKnownFolder(platform::KnownFolder::Temp);
    if (!temp) return std::u16string();
    const std::u16string marker = kDefaultPlaceholderMarker;
    std::u16string path = platform::JoinPath(*temp, u"$VD$SLDL$");
    path = platform::JoinPath(path, marker.substr(marker.find(u'\\') + 1));
    if (platform::SystemFileSystem().CreateDirectories(path) != platform::kOk) {
      VD_LOG_WARN("placeholder folder cannot be made");
      return std::u16string();
    }
    std::unique_ptr<platform::NamedEvent> dropped = platform::NamedEvent::Create(kDragOutEventName, false, false);
    if (!dropped) VD_LOG_WARN("CreateEvent");
    DragOutHandOver::Instance().Prepare(marker, std::move(dropped));
    return path;
  }();
  return placeholder;
}

}  // namespace vdtransfer
