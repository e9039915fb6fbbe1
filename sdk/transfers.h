#pragma once
// Transfers run on the caller's transfer record: bytes are read from or
// written to the file through it, progress and the end are reported through
// its counters and status word, and a cancel written by the caller stops
// the loop at its next buffer.
#include <cstdint>
#include <optional>
#include <string>

#include "cloud_sdk_records.h"
#include "cloud_sdk_transfer.h"
#include "service_client.h"

namespace corbel {

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
};

// "Content-Range: bytes <first>-<last>/<total>" among header lines.
std::optional<ByteRange> FindContentRange(const std::string& headerText);
// First byte of "Range: bytes=<first>-[<last>]" among header lines.
std::optional<std::uint64_t> FindRangeStart(const std::string& headerText);

std::string MakeUploadHeader(const ByteRange& range);
std::string MakeDownloadHeader(std::uint64_t first, std::optional<std::uint64_t> last);

// Holds the SDK's reference on a record for the life of one transfer.
class RecordRef {
 public:
  explicit RecordRef(ITransferRecord* record) : record_(record) { record_->AddRef(); }
  ~RecordRef() { record_->Release(); }
  RecordRef(const RecordRef&) = delete;
  RecordRef& operator=(const RecordRef&) = delete;
  ITransferRecord* get() const { return record_; }

 private:
  ITransferRecord* record_;
};

void RunUpload(ServiceClient& service, ITransferRecord* record);
void RunContentDownload(ServiceClient& service, const DownloadFileRequest& request, ITransferRecord* record);
void RunUrlDownload(ServiceClient& service, ITransferRecord* record);
// Content by ID into a local path (written beside it, renamed when whole).
int DownloadContentToPath(ServiceClient& service, const std::string& token, const std::string& contentID,
                          const std::string& localPath);

}  // namespace corbel
