#pragma once
// Narrow (ANSI code page) paths of the cache's own files.
#include <string>
#include <string_view>

namespace vdcache {

// folder + the host's separator + name; an empty folder gives name.
std::string JoinAnsiPath(std::string_view folder, std::string_view name);
// The host's separator as narrow text.
char AnsiPathSeparator();
bool AnsiFileExists(const std::string& path);
bool AnsiCreateDirectories(const std::string& path);
bool AnsiRemoveFile(const std::string& path);
bool AnsiRename(const std::string& from, const std::string& to);

}  // namespace vdcache
