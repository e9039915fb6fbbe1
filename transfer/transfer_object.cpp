#include "transfer_object.h"

namespace vdtransfer {

TransferObject* TransferObject::Create(const std::string& ansiPath, std::uint32_t status, bool readMode,
                                       std::uint32_t attributes) {
  return new TransferObject(ansiPath, status, readMode, attributes);
}

TransferObject::TransferObject(std::string path, std::uint32_t status, bool readMode, std::uint32_t attributes)
    : m_path(std::move(path)), m_status(status), m_readMode(readMode), m_attributes(attributes) {
  m_done = platform::NamedEvent::Create(u"", true, false);
  m_file = platform::LocalFile::Open(m_path, readMode ? platform::LocalFile::Mode::Read : platform::LocalFile::Mode::Write,
                                     m_attributes, &m_openError);
  // Not a status write: nobody waits yet, and the event stays as it is.
  if (!m_file) m_status |= kTransferStatusFailed;
  // An upload sends the whole file unless its header names a range.
  if (m_file && readMode) m_fileSize = m_file->Size().value_or(0);
}

void TransferObject::Release() {
  if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

std::int64_t TransferObject::ReadFile(std::uint64_t offset, void* buffer, std::uint32_t size) {
  return m_file ? m_file->ReadAt(offset, buffer, size) : -1;
}

bool TransferObject::WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) {
  return m_file && !m_readMode && m_file->WriteAt(offset, data, size);
}

bool TransferObject::TruncateFile(std::uint64_t size) { return m_file && !m_readMode && m_file->Truncate(size); }

std::uint32_t TransferObject::GetStatus() const {
  std::lock_guard<std::mutex> lock(m_statusLock);
  return m_status;
}

void TransferObject::SetStatus(std::uint32_t status) {
  {
    std::lock_guard<std::mutex> lock(m_statusLock);
    m_status = status;
  }
  if (m_done) m_done->Set();
}

bool TransferObject::WaitSignalled(std::uint32_t timeoutMs, std::uint32_t* status) const {
  const bool signalled = m_done && m_done->Wait(timeoutMs) == platform::WaitResult::Signaled;
  if (status) *status = GetStatus();
  return signalled;
}

std::uint64_t TransferObject::GetFileSize() const {
  std::lock_guard<std::mutex> lock(m_countLock);
  return m_fileSize;
}

void TransferObject::SetFileSize(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_countLock);
  m_fileSize = bytes;
}

std::uint64_t TransferObject::GetTransferred() const {
  std::lock_guard<std::mutex> lock(m_countLock);
  return m_transferred;
}

void TransferObject::SetTransferred(std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(m_countLock);
  m_transferred = bytes;
}

}  // namespace vdtransfer
