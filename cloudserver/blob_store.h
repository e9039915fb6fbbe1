#pragma once
// Content-addressed file storage: complete blobs named by their MD5, and
// partial uploads named by an upload key until their bytes are all there.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace cloudserver {

class BlobStore {
 public:
  explicit BlobStore(std::filesystem::path root);

  bool Has(std::string_view md5, int64_t size) const;
  std::filesystem::path BlobPath(std::string_view md5) const;
  // Stores bytes as a blob (used for seeding); returns the MD5.
  std::string Put(std::string_view bytes);

  // Bytes stored so far for an upload key (0 when none).
  int64_t PartialSize(std::string_view key) const;
  // Writes data at offset and cuts the file there, so a resent range
  // replaces what followed it. Fails (nullopt) when offset is beyond the
  // bytes stored. Returns the new stored size.
  std::optional<int64_t> WriteRange(std::string_view key, int64_t offset, std::string_view data);
  // Checks the partial file's MD5 and moves it into the blob area.
  bool Finalize(std::string_view key, std::string_view md5);
  void RemovePartial(std::string_view key);

  std::filesystem::path ThumbPath(std::string_view md5, int edge) const;

 private:
  std::filesystem::path PartialPath(std::string_view key) const;
  std::filesystem::path root_;
};

}  // namespace cloudserver
