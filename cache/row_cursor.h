#pragma once
// A catalog's rows page by page, for a reader that hands them out as it is
// asked (the shell's enumerator): from a snapshot in memory, or, while the
// cache file is still loading, straight from the file, stepping its query
// only as far as the reader has come. A 100,000-entry folder opened while
// the account loads shows its first entries after one page, not after the
// whole folder has been read.
#include <functional>
#include <memory>
#include <string>

#include "packed_rows.h"

namespace vdcache {

class RowCursor {
 public:
  virtual ~RowCursor() = default;
  // The next page of catalogs, then, once they are done, of contents; null
  // when that kind has no more.
  virtual std::shared_ptr<const RowPage<CatalogInfo>> NextCatalogs() = 0;
  virtual std::shared_ptr<const RowPage<ContentInfo>> NextContents() = 0;
};

// The pages of a snapshot (null: no children).
std::unique_ptr<RowCursor> SnapshotCursor(std::shared_ptr<const CatalogChildren> children);
// The parent's rows in the file, in stored order, with the fields a shown
// row needs (ID, update time, share type, name, type or size); null when the
// file does not open.
// `stepped` runs after every page read from the file.
std::unique_ptr<RowCursor> FileCursor(const std::string& dbPath, const std::string& parentID,
                                      std::function<void()> stepped = nullptr);

}  // namespace vdcache
