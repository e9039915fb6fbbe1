#pragma once
// The hand-over of a drag-out between the download engine and the copy hook.
// Dragging cloud items out drops a placeholder folder; the shell asks the
// copy hook before it copies it, and the hook tells the waiting download
// where the user dropped it instead of letting the placeholder be copied.
// Process-wide: the hook and the download run on different threads.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/sync.h"

namespace vdtransfer {

// The tail of every placeholder path, from the marker folder on.
inline constexpr char16_t kDefaultPlaceholderMarker[] = u"$VD$SLDL$\\$$PandrelDownload";
// The event a waiting drag-out download sleeps on.
inline constexpr char16_t kDragOutEventName[] = u"PandrelWaitDownLoadEvet";

// The shell's folder operations the hook sees (FO_*).
inline constexpr unsigned kFolderMove = 1, kFolderCopy = 2, kFolderDelete = 3, kFolderRename = 4;
// Its answers: go on, or skip this folder.
inline constexpr unsigned kCopyHookYes = 6, kCopyHookNo = 7;

class DragOutHandOver {
 public:
  static DragOutHandOver& Instance();

  // The download engine, setting up a drag-out: the placeholder's marker
  // (its path from "$VD$SLDL$" on) and the event it waits on.
  void Prepare(std::u16string marker, std::unique_ptr<platform::NamedEvent> dropped);
  std::u16string Marker() const;
  // The destination the hook handed over; empty before.
  std::u16string Destination() const;
  // True once the download has prepared a drag-out in this process.
  bool IsPrepared() const;
  // The download's wait for the drop: true when the hook signalled within
  // the time. The event is reset afterwards either way.
  bool WaitDropped(std::uint32_t timeoutMs);

  // The copy hook's answer for one folder operation: kCopyHookNo for a copy
  // or move of the placeholder (after handing its destination over and
  // signalling the event), kCopyHookYes for anything else.
  unsigned CopyCallback(unsigned operation, const char16_t* source, const char16_t* destination);

 private:
  mutable std::mutex m_lock;
  std::u16string m_marker;
  std::u16string m_destination;
  std::unique_ptr<platform::NamedEvent> m_dropped;
  bool m_prepared = false;
};

// The placeholder folder a drag-out offers (the temporary folder, then the
// marker), made once per process together with the hand-over's event;
// empty when it cannot be made.
std::u16string InitCopyGlobal();

}  // namespace vdtransfer
