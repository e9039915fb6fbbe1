#pragma once
// Temporary folders and whole-file reads for the service library's tests.
#include <filesystem>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace vd::service::test {

using TempDir = vd::testing::TempDir;

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
std::vector<std::string> ReadLines(const std::string& path);
// Files in `dir` whose names begin with `prefix`.
std::vector<std::string> FilesStartingWith(const std::filesystem::path& dir, const std::string& prefix);

}  // namespace vd::service::test
