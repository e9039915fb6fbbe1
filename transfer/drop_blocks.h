#pragma once
// The byte layouts of what a cloud selection carries through the clipboard
// and drag and drop: the NSEDRAGDROP block of item identifier lists, the
// DROPFILES block of local paths, and the shell's ID list array (CIDA).
// Builders produce exactly the bytes another process reads; readers take
// bytes from anyone and never touch a byte past what they were given.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pidl.h"

namespace vdtransfer {

// Bytes of one list inside a block: its elements, the 16-bit terminator and
// one padding byte.
std::size_t ListBlockBytes(vd::PcPidl list) noexcept;

// NSEDRAGDROP: the 32-bit total size, then the lists one after another.
std::vector<std::uint8_t> BuildNseDragDrop(std::span<const vd::PcPidl> lists);
// Offsets of the lists in a block; nothing when the total size is not
// within the bytes held, or a list does not pass the identifier check
// within the room left to it.
std::optional<std::vector<std::size_t>> ReadNseDragDrop(const std::uint8_t* block, std::size_t available);

// DROPFILES with wide paths: a 20-byte header, each path and its zero, one
// more zero.
inline constexpr std::size_t kDropFilesHeader = 20;
std::vector<std::uint8_t> BuildDropFiles(const std::vector<std::u16string>& paths);
// The paths of a DROPFILES block (wide or narrow, narrow read in the ANSI
// code page); nothing when the header or a path runs past the bytes held.
// Paths longer than `maxChars` are refused as a whole block.
std::optional<std::vector<std::u16string>> ReadDropFiles(const std::uint8_t* block, std::size_t available,
                                                         std::size_t maxChars = 32767);

// CIDA with one item: count 1, the parent's offset 12, the item's offset
// after the parent, then both lists.
std::vector<std::uint8_t> BuildIdListArray(vd::PcPidl parent, vd::PcPidl item);

}  // namespace vdtransfer
