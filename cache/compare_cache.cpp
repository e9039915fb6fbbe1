#include "compare_cache.h"

#include <string>
#include <string_view>
#include <unordered_map>

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

}  // namespace

bool CompareCache(const std::vector<CatalogInfo>& storedCatalogs, const std::vector<ContentInfo>& storedContents,
                  const std::vector<CatalogInfo>& listedCatalogs, const std::vector<ContentInfo>& listedContents) {
  if (storedCatalogs.size() != listedCatalogs.size()) return true;
  if (storedContents.size() != listedContents.size()) return true;
  if (!storedCatalogs.empty()) {
    const auto index =
        IndexByID(listedCatalogs, [](const CatalogInfo& c) { return std::string_view(c.catalogID); });
    for (const CatalogInfo& s : storedCatalogs) {
      const auto it = index.find(s.catalogID);
      if (it == index.end()) return true;
      if (it->second->updatetime != s.updatetime || it->second->shareType != s.shareType) return true;
    }
  }
  if (!storedContents.empty()) {
    const auto index =
        IndexByID(listedContents, [](const ContentInfo& c) { return std::string_view(c.contentID); });
    for (const ContentInfo& s : storedContents) {
      const auto it = index.find(s.contentID);
      if (it == index.end()) return true;
      if (it->second->updateTime != s.updateTime || it->second->shareType != s.shareType) return true;
    }
  }
  return false;
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
