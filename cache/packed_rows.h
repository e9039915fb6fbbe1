#pragma once
// The catalog cache holds up to millions of rows. A record with its three
// dozen std::string members costs over a kilobyte before its text; packed,
// a row is its text, one or two bytes of length per field and a 4-byte
// offset. Rows of one page share one buffer; a catalog's children are a list
// of shared, immutable pages, so a reader takes a snapshot for the price of a
// reference count and a first listing appends a page without copying the
// pages before it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cloud_sdk_records.h"

namespace vdcache {

// The packed form of one record type: which fields, in which order. The
// fields the refresh compare reads come first.
template <class Record>
struct RowLayout;

// Text fields come first, then the integer fields (as decimal text, empty
// for 0).
template <>
struct RowLayout<CatalogInfo> {
  static constexpr std::size_t kId = 0, kUpdateTime = 1, kShareType = 2, kName = 3, kType = 4;
  static std::span<std::string CatalogInfo::* const> TextFields();
  static std::span<std::int32_t CatalogInfo::* const> IntFields();
  static std::size_t FieldCount() { return TextFields().size() + IntFields().size(); }
  static void Write(const CatalogInfo& record, std::string& out);
  static CatalogInfo Read(const char* row);
};

template <>
struct RowLayout<ContentInfo> {
  static constexpr std::size_t kId = 0, kUpdateTime = 1, kShareType = 2, kName = 3, kSize = 4;
  static std::span<std::string ContentInfo::* const> TextFields();
  static std::span<std::int32_t ContentInfo::* const> IntFields();
  static std::size_t FieldCount() { return TextFields().size() + IntFields().size(); }
  static void Write(const ContentInfo& record, std::string& out);
  static ContentInfo Read(const char* row);
};

// Appends one field: its length (7 bits a byte, high bit: more follows),
// then its bytes.
void PackField(std::string& out, std::string_view text);
// The field-th field of the row that starts at `row`.
std::string_view PackedField(const char* row, std::size_t field);

// One immutable page of packed rows; built once, then only read.
template <class Record>
class RowPage {
 public:
  void Append(const Record& record) {
    m_starts.push_back(static_cast<std::uint32_t>(m_bytes.size()));
    RowLayout<Record>::Write(record, m_bytes);
  }
  // Appends a row from its fields in layout order.
  template <class FieldSource>
  void AppendFields(FieldSource&& fieldAt) {
    m_starts.push_back(static_cast<std::uint32_t>(m_bytes.size()));
    for (std::size_t f = 0; f < RowLayout<Record>::FieldCount(); ++f) PackField(m_bytes, fieldAt(f));
  }
  std::size_t Count() const { return m_starts.size(); }
  std::string_view Field(std::size_t row, std::size_t field) const {
    return PackedField(m_bytes.data() + m_starts[row], field);
  }
  Record Read(std::size_t row) const { return RowLayout<Record>::Read(m_bytes.data() + m_starts[row]); }
  // Heap bytes the page holds (buffer and offsets).
  std::size_t Bytes() const { return m_bytes.capacity() + m_starts.capacity() * sizeof(std::uint32_t); }
  void Shrink() {
    m_bytes.shrink_to_fit();
    m_starts.shrink_to_fit();
  }
  bool Full() const { return m_starts.size() >= kRowsPerPage; }

  static constexpr std::size_t kRowsPerPage = 1024;

 private:
  std::string m_bytes;
  std::vector<std::uint32_t> m_starts;
};

// A catalog's rows of one kind: pages shared between the store and its
// readers' snapshots.
template <class Record>
class RowList {
 public:
  using Page = RowPage<Record>;

  std::size_t Count() const { return m_count; }
  void AppendPage(std::shared_ptr<const Page> page) {
    if (!page || page->Count() == 0) return;
    m_count += page->Count();
    m_pages.push_back(std::move(page));
  }
  // Calls fn(page, row) for rows [from, to) in order; stops early when fn
  // returns false.
  template <class Fn>
  void ForEach(std::size_t from, std::size_t to, Fn&& fn) const {
    std::size_t base = 0;
    for (const auto& page : m_pages) {
      const std::size_t n = page->Count();
      if (base + n > from && base < to) {
        for (std::size_t r = from > base ? from - base : 0; r < n && base + r < to; ++r)
          if (!fn(*page, r)) return;
      }
      base += n;
      if (base >= to) return;
    }
  }
  template <class Fn>
  void ForEachPage(Fn&& fn) const {
    for (const auto& page : m_pages) fn(page);
  }
  std::size_t Bytes() const {
    std::size_t bytes = m_pages.capacity() * sizeof(m_pages[0]);
    for (const auto& page : m_pages) bytes += page->Bytes() + sizeof(Page);
    return bytes;
  }

 private:
  std::vector<std::shared_ptr<const Page>> m_pages;
  std::size_t m_count = 0;
};

// Builds a RowList page by page from records or raw fields.
template <class Record>
class RowListBuilder {
 public:
  using Page = RowPage<Record>;
  void Append(const Record& record) {
    Current().Append(record);
  }
  template <class FieldSource>
  void AppendFields(FieldSource&& fieldAt) {
    Current().AppendFields(std::forward<FieldSource>(fieldAt));
  }
  // Adds the built pages to `list`; the builder is empty afterwards.
  void FinishInto(RowList<Record>& list) {
    Seal();
    for (auto& page : m_sealed) list.AppendPage(std::move(page));
    m_sealed.clear();
  }

 private:
  Page& Current() {
    if (m_open && m_open->Full()) Seal();
    if (!m_open) m_open = std::make_shared<Page>();
    return *m_open;
  }
  void Seal() {
    if (!m_open) return;
    m_open->Shrink();
    m_sealed.push_back(std::move(m_open));
    m_open.reset();
  }
  std::shared_ptr<Page> m_open;
  std::vector<std::shared_ptr<const Page>> m_sealed;
};

// The children of one catalog as the cache stores them, catalogs first.
struct CatalogChildren {
  RowList<CatalogInfo> catalogs;
  RowList<ContentInfo> contents;

  std::size_t Count() const { return catalogs.Count() + contents.Count(); }
  std::size_t Bytes() const { return catalogs.Bytes() + contents.Bytes(); }
};

}  // namespace vdcache
