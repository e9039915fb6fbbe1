#pragma once
// The transfer record: what the SDK sees of the product's TransferObject,
// through which it reads (upload) or writes (download) one local file.
//
// The product owns the file, the locks and the completion event; the SDK only
// calls these hooks, so no lock or handle is shared between the two modules'
// runtimes. The product's engines and progress dialog wait on the event and
// read the status word and byte counts through their own side of the object.
#include <cstdint>
#include <string>

#include "cloud_sdk_records.h"

// Status word. The end bits are tested together with kTransferEndMask; the
// product's waits also stop on a cancel (kTransferStopMask).
enum TransferStatus : std::uint32_t {
  kTransferStatusNone = 0,           // handed over, not finished
  kTransferStatusCancel = 4,         // written by the product: stop as soon as possible
  kTransferStatusDone = 8,           // every byte moved and confirmed by the service
  kTransferStatusEnd10 = 0x10,       // reserved end bit; the product reads it as a failure
  kTransferStatusEnd20 = 0x20,       // reserved end bit; the product reads it as a failure
  kTransferStatusFailed = 0x8000,    // failed; also set when the local file did not open
  kTransferEndMask = 0x8038,
  kTransferStopMask = 0x803C,
};

// Rules both sides keep:
// - The product fills the record (file opened, URL, header, header fields)
//   before it hands the record to uploadFile, downloadFile or
//   pcDownloadFileRequest; those fields do not change afterwards.
// - The SDK takes one reference when a call accepts the record (returns 0) and
//   drops it after its last touch. The product drops its own whenever it is
//   done, even while the SDK still runs (after a cancel, say).
// - The SDK moves bytes starting at the range of the header it made (from 0
//   when there is no header) and keeps the transferred count current; a
//   resumed upload's count starts at the bytes the service already holds.
// - The SDK ends a transfer with exactly one SetStatus carrying an end bit
//   (kTransferStatusDone or kTransferStatusFailed). It polls GetStatus between
//   chunks and, on seeing kTransferStatusCancel, stops without writing the
//   status again.
class ITransferRecord {
 public:
  virtual void AddRef() = 0;
  virtual void Release() = 0;

  // Fixed before hand-over.
  virtual std::string GetLocalPath() const = 0;
  virtual std::string GetUrl() const = 0;         // may be empty for pcDownloadFileRequest
  virtual std::string GetHttpHeader() const = 0;  // from make*HttpHeader; empty for a plain URL
  virtual DownloadHeaderRequest GetHeaderFields() const = 0;  // downloads; empty otherwise
  virtual bool IsReadMode() const = 0;            // true: upload source, false: download target
  virtual bool IsGzip() const = 0;                // upload body to be sent gzip-compressed

  // The local file the product opened. Offsets are absolute.
  virtual bool IsFileOpen() const = 0;
  // Bytes read (0 at the end of the file), or -1 on an error.
  virtual std::int64_t ReadFile(std::uint64_t offset, void* buffer, std::uint32_t size) = 0;
  // True when all size bytes were written.
  virtual bool WriteFile(std::uint64_t offset, const void* data, std::uint32_t size) = 0;
  // Cuts or extends the file to size bytes (a download from 0 over an old partial file).
  virtual bool TruncateFile(std::uint64_t size) = 0;

  // Status word under the record's status lock; SetStatus signals the
  // completion event after the write.
  virtual std::uint32_t GetStatus() const = 0;
  virtual void SetStatus(std::uint32_t status) = 0;

  // Byte counts under the record's count lock. The SDK sets the file size of
  // a download once the service has told it.
  virtual std::uint64_t GetFileSize() const = 0;
  virtual void SetFileSize(std::uint64_t bytes) = 0;
  virtual std::uint64_t GetTransferred() const = 0;
  virtual void SetTransferred(std::uint64_t bytes) = 0;

 protected:
  ~ITransferRecord() = default;
};
