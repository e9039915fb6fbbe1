#pragma once
// Change detection between what the cache holds for one catalog and a fresh
// listing of it. Linear: the listing is indexed by ID once, then every stored
// entry is one hash lookup.
#include <vector>

#include "cloud_sdk_records.h"
#include "packed_rows.h"

namespace vdcache {

// True when the listing differs from the stored children: another number of
// catalogs or contents, a stored ID missing from the listing, or a changed
// update time or share type. Names and sizes are not compared.
bool CompareCache(const CatalogChildren* stored, const std::vector<CatalogInfo>& listedCatalogs,
                  const std::vector<ContentInfo>& listedContents);
// The same for records not packed yet.
bool CompareCache(const std::vector<CatalogInfo>& storedCatalogs, const std::vector<ContentInfo>& storedContents,
                  const std::vector<CatalogInfo>& listedCatalogs, const std::vector<ContentInfo>& listedContents);

// The same for share nodes: one catalog part and one content part each.
bool CompareShareCache(const std::vector<ShareEntry>& stored, const std::vector<ShareEntry>& listed);

}  // namespace vdcache
