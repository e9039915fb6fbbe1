#pragma once
// contact_cache.ini: the sharers' item list as the desktop client reads it.
#include <string>
#include <vector>

#include "cloud_sdk_records.h"

namespace vdcache {

// One line per item: every field followed by ";", a list's elements each
// followed by "," before the ";", numbers in decimal, "\r\n" at the end.
std::string FormatItemInfoLines(const std::vector<ItemInfo>& items);

// Writes the lines to <folder>/contact_cache.ini, creating the folder. The
// client may hold the file open: the open is tried again every 800 ms, up to
// `attempts` times. False when it never opened.
bool WriteItemInfoToFile(const std::string& folder, const std::vector<ItemInfo>& items, int attempts = 10);

}  // namespace vdcache
