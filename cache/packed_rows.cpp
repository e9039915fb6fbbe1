#include "packed_rows.h"

#include <charconv>

namespace vdcache {
namespace {

// Every text field of the records, in packed order. The parent catalog is
// the key the rows are stored under, so it is not repeated in each row.
constexpr std::string CatalogInfo::*kCatalogFields[] = {
    &CatalogInfo::catalogID,   &CatalogInfo::updatetime, &CatalogInfo::shareType,      &CatalogInfo::catalogName,
    &CatalogInfo::catalogType, &CatalogInfo::isShared,   &CatalogInfo::createtime,     &CatalogInfo::catalogLevel,
    &CatalogInfo::shareDoneeCount, &CatalogInfo::ETagOprType, &CatalogInfo::openType,  &CatalogInfo::dirEtag,
    &CatalogInfo::tombstoned,  &CatalogInfo::proxyID,    &CatalogInfo::path,
};
constexpr std::int32_t CatalogInfo::*kCatalogInts[] = {&CatalogInfo::moved, &CatalogInfo::isFixedDir,
                                                       &CatalogInfo::isSynced};

constexpr std::string ContentInfo::*kContentFields[] = {
    &ContentInfo::contentID,       &ContentInfo::updateTime,    &ContentInfo::shareType,
    &ContentInfo::contentName,     &ContentInfo::contentSize,   &ContentInfo::contentDesc,
    &ContentInfo::contentType,     &ContentInfo::isShared,      &ContentInfo::thumbnailURL,
    &ContentInfo::contentOrigin,   &ContentInfo::safestate,     &ContentInfo::bigthumbnailURL,
    &ContentInfo::presentURL,      &ContentInfo::presentLURL,   &ContentInfo::presentHURL,
    &ContentInfo::contentTAGList,  &ContentInfo::commentCount,  &ContentInfo::uploadTime,
    &ContentInfo::updateShareTime, &ContentInfo::shareDoneeCount, &ContentInfo::isFocusContent,
    &ContentInfo::ETagOprType,     &ContentInfo::contentSuffix, &ContentInfo::transferstate,
    &ContentInfo::openType,        &ContentInfo::auditResult,   &ContentInfo::channel,
    &ContentInfo::geoLocFlag,      &ContentInfo::digest,        &ContentInfo::version,
    &ContentInfo::fileEtag,        &ContentInfo::midthumbnailURL, &ContentInfo::tombstoned,
    &ContentInfo::fileVersion,     &ContentInfo::proxyID,
};
constexpr std::int32_t ContentInfo::*kContentInts[] = {&ContentInfo::moved};

// Integers go in as decimal text, an empty field for 0.
void PackInt(std::string& out, std::int32_t value) {
  if (value == 0) return PackField(out, {});
  char text[16];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  PackField(out, std::string_view(text, static_cast<std::size_t>(end - text)));
}

std::int32_t UnpackInt(std::string_view text) {
  std::int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

// Reads a length and moves past it.
std::size_t ReadLength(const char*& p) {
  std::size_t length = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*p++);
    length |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return length;
  }
}

template <class Record, std::size_t T, std::size_t I>
void WriteAll(const Record& record, std::string& out, std::string Record::* const (&texts)[T],
              std::int32_t Record::* const (&ints)[I]) {
  for (auto field : texts) PackField(out, record.*field);
  for (auto field : ints) PackInt(out, record.*field);
}

template <class Record, std::size_t T, std::size_t I>
Record ReadAll(const char* p, std::string Record::* const (&texts)[T], std::int32_t Record::* const (&ints)[I]) {
  Record record;
  for (auto field : texts) {
    const std::size_t n = ReadLength(p);
    (record.*field).assign(p, n);
    p += n;
  }
  for (auto field : ints) {
    const std::size_t n = ReadLength(p);
    record.*field = UnpackInt(std::string_view(p, n));
    p += n;
  }
  return record;
}

}  // namespace

void PackField(std::string& out, std::string_view text) {
  std::size_t n = text.size();
  while (n >= 0x80) {
    out.push_back(static_cast<char>((n & 0x7F) | 0x80));
    n >>= 7;
  }
  out.push_back(static_cast<char>(n));
  out.append(text);
}

std::string_view PackedField(const char* row, std::size_t field) {
  const char* p = row;
  for (std::size_t f = 0; f < field; ++f) p += ReadLength(p);
  const std::size_t n = ReadLength(p);
  return std::string_view(p, n);
}

std::span<std::string CatalogInfo::* const> RowLayout<CatalogInfo>::TextFields() { return kCatalogFields; }
std::span<std::int32_t CatalogInfo::* const> RowLayout<CatalogInfo>::IntFields() { return kCatalogInts; }
void RowLayout<CatalogInfo>::Write(const CatalogInfo& record, std::string& out) {
  WriteAll(record, out, kCatalogFields, kCatalogInts);
}
CatalogInfo RowLayout<CatalogInfo>::Read(const char* row) { return ReadAll(row, kCatalogFields, kCatalogInts); }

std::span<std::string ContentInfo::* const> RowLayout<ContentInfo>::TextFields() { return kContentFields; }
std::span<std::int32_t ContentInfo::* const> RowLayout<ContentInfo>::IntFields() { return kContentInts; }
void RowLayout<ContentInfo>::Write(const ContentInfo& record, std::string& out) {
  WriteAll(record, out, kContentFields, kContentInts);
}
ContentInfo RowLayout<ContentInfo>::Read(const char* row) { return ReadAll(row, kContentFields, kContentInts); }

}  // namespace vdcache
