#include "compare_cache.h"

#include <string>
#include <string_view>
#include <unordered_map>

#include "catalog_store.h"

namespace vdcache {
namespace {

// The first listed entry of an ID wins, as a front-to-back search would find it.
template <class Record, class Key>
std::unordered_map<std::string_view, const Record*> IndexByID(const std::vector<Record>& listed, Key key) {
  std::unordered_map<std::string_view, const Record*> index;
  index.reserve(listed.size());
  for (const Record& r : listed) index.emplace(key(r), &r);
  return index;
}

// Changed when the counts differ, a stored ID is not listed, or its listed
// update time or share type differs. A refresh mostly lists what is stored
// in the same order: then one pass pairs rows and listing entries; only when
// the orders part is the listing indexed by ID.
template <class Record>
bool Differs(const RowList<Record>* stored, const std::vector<Record>& listed, std::string Record::*id,
             std::string Record::*updateTime, std::string Record::*shareType) {
  using Layout = RowLayout<Record>;
  const std::size_t n = stored != nullptr ? stored->Count() : 0;
  if (n != listed.size()) return true;
  if (n == 0) return false;
  auto same = [&](const RowPage<Record>& page, std::size_t row, const Record& l) {
    return page.Field(row, Layout::kUpdateTime) == l.*updateTime && page.Field(row, Layout::kShareType) == l.*shareType;
  };
  bool inOrder = true, changed = false;
  std::size_t i = 0;
  stored->ForEach(0, n, [&](const RowPage<Record>& page, std::size_t row) {
    const Record& l = listed[i++];
    if (page.Field(row, Layout::kId) != l.*id) {
      inOrder = false;
      return false;
    }
    changed = !same(page, row, l);
    return !changed;
  });
  if (inOrder) return changed;
  const auto index = IndexByID(listed, [&](const Record& r) { return std::string_view(r.*id); });
  stored->ForEach(0, n, [&](const RowPage<Record>& page, std::size_t row) {
    const auto it = index.find(page.Field(row, Layout::kId));
    changed = it == index.end() || !same(page, row, *it->second);
    return !changed;
  });
  return changed;
}

}  // namespace

bool CompareCache(const CatalogChildren* stored, const std::vector<CatalogInfo>& listedCatalogs,
                  const std::vector<ContentInfo>& listedContents) {
  return Differs(stored ? &stored->catalogs : nullptr, listedCatalogs, &CatalogInfo::catalogID,
                 &CatalogInfo::updatetime, &CatalogInfo::shareType) ||
         Differs(stored ? &stored->contents : nullptr, listedContents, &ContentInfo::contentID,
                 &ContentInfo::updateTime, &ContentInfo::shareType);
}

bool CompareCache(const std::vector<CatalogInfo>& storedCatalogs, const std::vector<ContentInfo>& storedContents,
                  const std::vector<CatalogInfo>& listedCatalogs, const std::vector<ContentInfo>& listedContents) {
  ListResult stored;
  stored.catalogs = storedCatalogs;
  stored.contents = storedContents;
  const ChildrenPtr packed = CatalogStore::Pack(stored);
  return CompareCache(packed.get(), listedCatalogs, listedContents);
}

namespace {
// A node is named by both of its parts; either may be empty.
std::string ShareKey(const ShareEntry& e) { return e.catalog.catalogID + '\n' + e.content.contentID; }
}  // namespace

bool CompareShareCache(const std::vector<ShareEntry>& stored, const std::vector<ShareEntry>& listed) {
  if (stored.size() != listed.size()) return true;
  std::unordered_map<std::string, const ShareEntry*> index;
  index.reserve(listed.size());
  for (const ShareEntry& e : listed) index.emplace(ShareKey(e), &e);
  for (const ShareEntry& s : stored) {
    const auto it = index.find(ShareKey(s));
    if (it == index.end()) return true;
    const ShareEntry& l = *it->second;
    if (l.catalog.updatetime != s.catalog.updatetime || l.catalog.shareType != s.catalog.shareType ||
        l.content.updateTime != s.content.updateTime || l.content.shareType != s.content.shareType)
      return true;
  }
  return false;
}

}  // namespace vdcache
