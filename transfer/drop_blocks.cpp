#include "drop_blocks.h"

#include <cstring>

#include "platform/text.h"

namespace vdtransfer {
namespace {

std::uint16_t ReadU16(const std::uint8_t* p) {
  std::uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void PutU32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) { std::memcpy(out.data() + at, &v, 4); }

// Bytes of a list's elements, whatever they hold: the shell's own lists
// (the folder's absolute one) are measured the same way as ours.
std::size_t ElementBytes(vd::PcPidl list) noexcept {
  if (list == nullptr) return 0;
  std::size_t total = 0;
  for (std::uint16_t cb = ReadU16(list); cb != 0; cb = ReadU16(list + total)) total += cb;
  return total;
}

void AppendList(std::vector<std::uint8_t>& out, vd::PcPidl list) {
  const std::size_t elements = ElementBytes(list);
  if (elements) out.insert(out.end(), list, list + elements);
  out.insert(out.end(), vd::pidl_layout::kListTail, 0);
}

}  // namespace

std::size_t ListBlockBytes(vd::PcPidl list) noexcept { return ElementBytes(list) + vd::pidl_layout::kListTail; }

std::vector<std::uint8_t> BuildNseDragDrop(std::span<const vd::PcPidl> lists) {
  std::vector<std::uint8_t> out(4, 0);
  for (vd::PcPidl list : lists) AppendList(out, list);
  PutU32(out, 0, static_cast<std::uint32_t>(out.size()));
  return out;
}

std::optional<std::vector<std::size_t>> ReadNseDragDrop(const std::uint8_t* block, std::size_t available) {
  if (block == nullptr || available < 4) return std::nullopt;
  const std::size_t total = ReadU32(block);
  if (total < 4 || total > available) return std::nullopt;
  std::vector<std::size_t> offsets;
  for (std::size_t at = 4; at < total;) {
    const vd::PidlCheck check = vd::ValidateList(block + at, total - at);
    // The list's terminator and its padding byte both lie inside the block.
    if (!check.ok || check.count == 0 || at + check.bytes + 1 > total) return std::nullopt;
    offsets.push_back(at);
    at += check.bytes + 1;
  }
  return offsets;
}

std::vector<std::uint8_t> BuildDropFiles(const std::vector<std::u16string>& paths) {
  std::vector<std::uint8_t> out(kDropFilesHeader, 0);
  PutU32(out, 0, static_cast<std::uint32_t>(kDropFilesHeader));  // pFiles
  PutU32(out, 16, 1);                                              // fWide
  for (const std::u16string& path : paths) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(path.c_str());
    out.insert(out.end(), bytes, bytes + (path.size() + 1) * 2);
  }
  out.insert(out.end(), 2, 0);
  return out;
}

std::optional<std::vector<std::u16string>> ReadDropFiles(const std::uint8_t* block, std::size_t available,
                                                         std::size_t maxChars) {
  if (block == nullptr || available < kDropFilesHeader) return std::nullopt;
  const std::size_t first = ReadU32(block);
  const bool wide = ReadU32(block + 16) != 0;
  if (first < kDropFilesHeader || first >= available) return std::nullopt;
  std::vector<std::u16string> paths;
  std::size_t at = first;
  const std::size_t unit = wide ? 2 : 1;
  for (;;) {
    std::u16string wideText;
    std::string narrow;
    for (;; at += unit) {
      if (at + unit > available) return std::nullopt;  // no terminator inside the block
      const std::uint16_t c = wide ? ReadU16(block + at) : block[at];
      if (c == 0) break;
      if (wide) wideText.push_back(static_cast<char16_t>(c));
      else narrow.push_back(static_cast<char>(c));
      if (wideText.size() + narrow.size() > maxChars) return std::nullopt;
    }
    at += unit;
    if (wideText.empty() && narrow.empty()) break;  // the closing empty string
    paths.push_back(wide ? std::move(wideText) : platform::AnsiToWide(narrow));
  }
  return paths;
}

std::vector<std::uint8_t> BuildIdListArray(vd::PcPidl parent, vd::PcPidl item) {
  std::vector<std::uint8_t> out(12, 0);
  PutU32(out, 0, 1);
  PutU32(out, 4, 12);
  PutU32(out, 8, static_cast<std::uint32_t>(12 + ListBlockBytes(parent)));
  AppendList(out, parent);
  AppendList(out, item);
  return out;
}

}  // namespace vdtransfer
