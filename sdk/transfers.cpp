#include "transfers.h"

#include <algorithm>
#include <vector>

#include "cloud_sdk.h"
#include "local_file.h"
#include "wire.h"

namespace corbel {
namespace {

bool Cancelled(ITransferRecord* record) { return (record->GetStatus() & kTransferStatusCancel) != 0; }

// Parses "<a>-<b>" with b optional; the text after the unit has been cut.
bool ParseSpan(std::string_view text, std::uint64_t* first, std::optional<std::uint64_t>* last) {
  auto dash = text.find('-');
  if (dash == std::string_view::npos) return false;
  auto a = ParseUnsigned(text.substr(0, dash));
  if (!a) return false;
  *first = *a;
  std::string_view rest = text.substr(dash + 1);
  if (rest.empty()) {
    *last = std::nullopt;
    return true;
  }
  auto b = ParseUnsigned(rest);
  if (!b || *b < *a) return false;
  *last = *b;
  return true;
}

std::string HeaderValue(const std::string& headerText, std::string_view name) {
  http::Response lines;
  lines.headers = http::ParseHeaderLines(headerText);
  return lines.Header(name);
}

// Outcome of one attempt of a transfer loop.
enum class Step { kContinue, kDone, kFailed, kCancelled };

}  // namespace

std::optional<ByteRange> FindContentRange(const std::string& headerText) {
  std::string value = HeaderValue(headerText, "Content-Range");
  if (value.rfind("bytes ", 0) != 0) return std::nullopt;
  std::string_view v(value);
  v.remove_prefix(6);
  auto slash = v.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  ByteRange range;
  std::optional<std::uint64_t> last;
  auto total = ParseUnsigned(v.substr(slash + 1));
  if (!total || !ParseSpan(v.substr(0, slash), &range.first, &last) || !last || *last >= *total)
    return std::nullopt;
  range.last = *last;
  range.total = *total;
  return range;
}

std::optional<std::uint64_t> FindRangeStart(const std::string& headerText) {
  std::string value = HeaderValue(headerText, "Range");
  if (value.rfind("bytes=", 0) != 0) return std::nullopt;
  std::uint64_t first = 0;
  std::optional<std::uint64_t> last;
  if (!ParseSpan(std::string_view(value).substr(6), &first, &last)) return std::nullopt;
  return first;
}

std::string MakeUploadHeader(const ByteRange& range) {
  return "Content-Range: bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" +
         std::to_string(range.total) + "\r\n";
}

std::string MakeDownloadHeader(std::uint64_t first, std::optional<std::uint64_t> last) {
  return "Range: bytes=" + std::to_string(first) + "-" + (last ? std::to_string(*last) : std::string()) + "\r\n";
}

// ------------------------------------------------------------------ upload

void RunUpload(ServiceClient& service, ITransferRecord* record) {
  auto fail = [&] {
    if (!Cancelled(record)) record->SetStatus(kTransferStatusFailed);
  };
  auto config = service.Config();
  if (!config || !record->IsFileOpen()) return fail();
  ByteRange range;
  if (auto parsed = FindContentRange(record->GetHttpHeader())) {
    range = *parsed;
  } else {
    const std::uint64_t size = record->GetFileSize();
    if (size == 0) return fail();
    range = ByteRange{0, size - 1, size};
  }
  const std::string url = service.Resolve(record->GetUrl());
  if (url.empty()) return fail();

  std::uint64_t offset = range.first;  // bytes the service is known to hold
  std::uint64_t highest = offset;      // the most it ever held: only going past it is progress
  record->SetTransferred(offset);
  int failures = 0, delay = config->retryDelayMs;
  for (;;) {
    if (Cancelled(record)) return;
    if (service.Stopping().load()) return fail();
    const std::uint64_t length = std::min<std::uint64_t>(config->chunkBytes, range.total - offset);
    if (length == 0) return fail();  // everything sent, yet the service never said complete

    bool localError = false;
    std::uint64_t sent = 0;
    http::Request request;
    request.method = "PUT";
    request.url = url;
    request.headers = {{"Content-Type", "application/octet-stream"},
                       {"Content-Range", "bytes " + std::to_string(offset) + "-" +
                                             std::to_string(offset + length - 1) + "/" +
                                             std::to_string(range.total)}};
    request.bodyLength = length;
    request.bodySource = [&](char* buffer, std::size_t size) -> std::int64_t {
      if (Cancelled(record) || service.Stopping().load()) return -1;
      const auto want = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, length - sent));
      std::uint32_t got = 0;
      // Fill the whole buffer: a short read in the middle is not the end.
      while (got < want) {
        std::int64_t n = record->ReadFile(offset + sent + got, buffer + got, want - got);
        if (n <= 0) {
          localError = true;  // read error, or the file shrank under us
          return -1;
        }
        got += static_cast<std::uint32_t>(n);
      }
      sent += got;
      record->SetTransferred(offset + sent);
      return got;
    };
    http::Response response;
    http::Error error = service.Send(request, &response, true);
    if (error == http::Error::kAborted) {
      if (Cancelled(record)) return;
      return fail();
    }
    Step step = Step::kContinue;
    if (error == http::Error::kNone) {
      Json answer = Json::parse(response.body, nullptr, false);
      auto stored = ParseUnsigned(wire::Text(answer, "storedBytes"));
      if (response.status == 200 && stored && *stored > range.total) {
        step = Step::kFailed;  // more than the file holds: the service is not talking about this file
      } else if (response.status == 200 && stored) {
        offset = *stored;
        record->SetTransferred(offset);
        if (wire::Text(answer, "complete") == "1") {
          step = Step::kDone;
        } else if (offset > highest) {
          highest = offset;
          failures = 0;
          delay = config->retryDelayMs;
        } else {
          // Accepted, yet nothing new is held: a service that keeps saying so
          // must not keep this loop going.
          error = http::Error::kTransport;
        }
      } else if (response.status == 416 && stored && *stored < offset) {
        // The service lost bytes it had confirmed: continue from what it holds,
        // as one of the tries a chunk gets.
        offset = *stored;
        record->SetTransferred(offset);
        error = http::Error::kTransport;
      } else if (response.status >= 500) {
        error = http::Error::kTransport;  // a passing fault; the range may be sent again
      } else {
        step = Step::kFailed;  // unknown task, MD5 mismatch, refused range
      }
    }
    if (step == Step::kDone) {
      record->SetStatus(kTransferStatusDone);
      return;
    }
    if (step == Step::kFailed) return fail();
    if (error != http::Error::kNone) {
      // A ranged PUT may be repeated: it replaces whatever followed its start.
      record->SetTransferred(offset);
      if (++failures > config->retries || !PauseUnlessStopping(service, delay)) return fail();
      delay *= 2;
    }
  }
}

// ------------------------------------------------------------------ download

namespace {

struct Fetch {
  std::string url;
  std::vector<std::pair<std::string, std::string>> headers;
  std::uint64_t start = 0;
  std::optional<std::uint64_t> size;  // whole-content size when known
};

// Writes the body from fetch.start on through write(); retries a broken
// exchange from the first byte not yet written. kSdkOk when complete.
template <class Write, class Cancel, class Progress>
int FetchLoop(ServiceClient& service, const Fetch& fetch, Write write, Cancel cancelled, Progress progress,
              std::uint64_t* end) {
  auto config = service.Config();
  if (!config) return kSdkFailed;
  std::uint64_t offset = fetch.start;
  int failures = 0, delay = config->retryDelayMs;
  for (;;) {
    if (cancelled()) return kSdkFailed;
    if (service.Stopping().load()) return kSdkFailed;
    if (fetch.size && offset >= *fetch.size) {
      *end = offset;
      return kSdkOk;
    }
    http::Request request;
    request.url = fetch.url;
    request.headers = fetch.headers;
    if (offset > 0) request.headers.emplace_back("Range", "bytes=" + std::to_string(offset) + "-");
    bool localError = false, rangeIgnored = false, first = true, overrun = false;
    const std::uint64_t requested = offset;
    http::Response* current = nullptr;
    request.bodySink = [&](const char* data, std::size_t size) {
      if (first) {
        first = false;
        // A server that ignores the range answers 200 with the whole body.
        if (requested > 0 && current && current->status == 200) rangeIgnored = true;
      }
      if (rangeIgnored || cancelled() || service.Stopping().load()) return false;
      if (fetch.size && offset + size > *fetch.size) {
        overrun = true;  // more than the content holds: nothing past its end is written
        return false;
      }
      if (!write(offset, data, size)) {
        localError = true;
        return false;
      }
      offset += size;
      progress(offset);
      return true;
    };
    http::Response response;
    current = &response;
    const std::uint64_t before = offset;
    http::Error error = service.Send(request, &response, true);
    if (overrun) return kSdkFailed;
    if (error == http::Error::kAborted && !rangeIgnored) return kSdkFailed;  // cancel, stop or local write
    if (error == http::Error::kNone) {
      if (response.status == 200 || response.status == 206) {
        if (!fetch.size || offset >= *fetch.size) {
          *end = offset;
          return kSdkOk;
        }
        // Ended early without an error: ask for the rest.
      } else if (response.status == 416 && fetch.size && offset == *fetch.size) {
        *end = offset;
        return kSdkOk;
      } else if (response.status < 500) {
        return response.status == 404 ? 204029400 : kSdkFailed;
      }
    }
    if (rangeIgnored) return kSdkFailed;
    if (offset > before) {
      failures = 0;
      delay = config->retryDelayMs;
    }
    if (++failures > config->retries || !PauseUnlessStopping(service, delay)) return kSdkNetworkUnavailable;
    delay *= 2;
  }
}

// A download into its transfer record: writes at their offsets, progress in
// the record, and the record's cancel bit honoured between chunks.
int FetchIntoRecord(ServiceClient& service, const Fetch& fetch, ITransferRecord* record, std::uint64_t* end) {
  return FetchLoop(
      service, fetch, [&](std::uint64_t at, const char* data, std::size_t n) {
        return record->WriteFile(at, data, static_cast<std::uint32_t>(n));
      },
      [&] { return Cancelled(record); }, [&](std::uint64_t at) { record->SetTransferred(at); }, end);
}

struct Ticket {
  std::string url;
  std::uint64_t size = 0;
};

int RequestTicket(ServiceClient& service, const std::string& account, const std::string& contentID, Ticket* ticket,
                  const std::string& token = {}) {
  Json answer;
  Json body{{"contentID", wire::ToUtf8(contentID)}};
  if (!token.empty()) body["token"] = token;
  int code = service.Call("pcDownloadFileRequest", account, std::move(body), Repeat::kSafe, &answer);
  if (code != kSdkOk) return code;
  auto size = ParseUnsigned(wire::Text(answer, "contentSize"));
  std::string url = wire::Text(answer, "downloadURL");
  if (!size || url.empty()) return kSdkFailed;
  ticket->url = service.Resolve(url);
  ticket->size = *size;
  return kSdkOk;
}

}  // namespace

void RunContentDownload(ServiceClient& service, const DownloadFileRequest& request, ITransferRecord* record) {
  auto fail = [&] {
    if (!Cancelled(record)) record->SetStatus(kTransferStatusFailed);
  };
  if (!record->IsFileOpen()) return fail();
  Ticket ticket;
  if (RequestTicket(service, request.account, wire::LastPathPart(request.contentID), &ticket) != kSdkOk)
    return fail();
  record->SetFileSize(ticket.size);

  std::uint64_t start = 0;
  if (request.offset == "-1") {
    if (auto s = FindRangeStart(record->GetHttpHeader()))
      start = *s;
    else if (auto f = ParseUnsigned(record->GetHeaderFields().rangeStart))
      start = *f;
  }
  if (start > ticket.size) start = 0;  // the content changed under a partial file
  if (start == 0 && !record->TruncateFile(0)) return fail();
  record->SetTransferred(start);

  Fetch fetch{ticket.url, {}, start, ticket.size};
  std::uint64_t end = 0;
  int code = FetchIntoRecord(service, fetch, record, &end);
  if (Cancelled(record)) return;
  if (code != kSdkOk) return fail();
  record->SetStatus(kTransferStatusDone);
}

void RunUrlDownload(ServiceClient& service, ITransferRecord* record) {
  auto fail = [&] {
    if (!Cancelled(record)) record->SetStatus(kTransferStatusFailed);
  };
  if (!record->IsFileOpen()) return fail();
  const std::string raw = record->GetUrl();
  Fetch fetch;
  fetch.url = service.Resolve(raw);
  if (fetch.url.empty()) return fail();
  const std::string headerText = record->GetHttpHeader();
  for (auto& h : http::ParseHeaderLines(headerText)) {
    std::string lower = h.first;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == "range" || lower == "accept-encoding") continue;  // ranges are ours; bodies stay plain
    fetch.headers.push_back(std::move(h));
  }
  // The service's own addresses (thumbnails) want the account's token.
  if (raw.rfind("http", 0) != 0 || fetch.url.rfind(service.Resolve("/"), 0) == 0) {
    if (auto token = service.TokenFor(record->GetHeaderFields().account))
      fetch.headers.emplace_back("Authorization", "Bearer " + *token);
  }
  fetch.start = FindRangeStart(headerText).value_or(0);
  if (fetch.start == 0 && !record->TruncateFile(0)) return fail();
  record->SetTransferred(fetch.start);
  std::uint64_t end = 0;
  int code = FetchIntoRecord(service, fetch, record, &end);
  if (Cancelled(record)) return;
  if (code != kSdkOk) return fail();
  record->SetFileSize(end);
  record->SetStatus(kTransferStatusDone);
}

int DownloadContentToPath(ServiceClient& service, const std::string& token, const std::string& contentID,
                          const std::string& localPath) {
  if (localPath.empty() || contentID.empty()) return kSdkFailed;
  Ticket ticket;
  // An empty token means the account signed in last.
  int code = RequestTicket(service, {}, contentID, &ticket, token);
  if (code != kSdkOk) return code;
  const std::string part = localPath + ".part";
  std::uint64_t end = 0;
  {
    auto file = LocalFile::Create(part);
    if (!file) return kSdkFailed;
    Fetch fetch{ticket.url, {}, 0, ticket.size};
    // A retry continues where the file ends, and writes are sequential.
    code = FetchLoop(
        service, fetch, [&](std::uint64_t, const char* data, std::size_t n) {
          return file->Write(data, static_cast<std::uint32_t>(n));
        },
        [] { return false; }, [](std::uint64_t) {}, &end);
  }
  if (code != kSdkOk || !RenameLocalFile(part, localPath)) {
    RemoveLocalFile(part);
    return code != kSdkOk ? code : kSdkFailed;
  }
  return kSdkOk;
}

}  // namespace corbel
