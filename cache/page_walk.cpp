#include "page_walk.h"

#include <algorithm>
#include <string>

#include "cache_result.h"
#include "cache_text.h"

namespace vdcache {
namespace {

uint64_t Hash(char kind, std::string_view id) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  auto mix = [&h](unsigned char c) {
    h ^= c;
    h *= 1099511628211ull;
  };
  mix(static_cast<unsigned char>(kind));
  for (char c : id) mix(static_cast<unsigned char>(c));
  return h;
}

int64_t Bounded(std::string_view total) { return std::clamp<int64_t>(ParseInt64(total), 0, kMaxListedEntries); }

}  // namespace

PageWalk::PageWalk(std::string_view announcedTotal)
    : m_total(Bounded(announcedTotal)), m_pageBudget((m_total + kPageSize - 1) / kPageSize) {}

bool PageWalk::Keep(char kind, std::string_view id) {
  if (m_have >= kMaxListedEntries || !m_seen.insert(Hash(kind, id)).second) return false;
  ++m_have;
  return true;
}

bool PageWalk::TakeNew(ListResult& page) {
  ++m_pages;
  const int64_t before = m_have;
  std::erase_if(page.catalogs, [&](const CatalogInfo& c) { return !Keep('C', c.catalogID); });
  std::erase_if(page.contents, [&](const ContentInfo& c) { return !Keep('F', c.contentID); });
  m_stalled = m_have == before;
  return !m_stalled;
}

bool PageWalk::TakeNew(std::vector<ShareEntry>& shares) {
  ++m_pages;
  const int64_t before = m_have;
  std::erase_if(shares, [&](const ShareEntry& e) {
    return e.HasCatalog() ? !Keep('C', e.catalog.catalogID) : !Keep('F', e.content.contentID);
  });
  m_stalled = m_have == before;
  return !m_stalled;
}

void PageWalk::Lower(std::string_view pageTotal) { m_total = std::min(m_total, Bounded(pageTotal)); }

bool PageWalk::WantsMore() const {
  return !m_stalled && m_pages < m_pageBudget && m_have < m_total && m_have < kMaxListedEntries;
}

void NextPage(const PageWalk& walk, std::string& startNumber, std::string& endNumber) {
  startNumber = std::to_string(walk.Have() + 1);
  endNumber = std::to_string(walk.Have() + kPageSize);
}

bool TakeListingPage(int code, const ListResult* result, const ListRequest& request, std::unique_ptr<PageWalk>& walk,
                     ListResult& page) {
  if (code != 0 || result == nullptr) return false;
  page = *result;
  if (!walk) walk = std::make_unique<PageWalk>(page.totalCount);
  walk->Lower(page.totalCount);
  if (!walk->TakeNew(page)) return false;
  page.request = request;
  return true;
}

bool TreeWalk::Visit(const std::string& catalogID, int depth) {
  if (depth > kMaxWalkDepth) return false;
  std::lock_guard<std::mutex> lock(m_lock);
  return m_visited.size() < kMaxWalkedCatalogs && m_visited.insert(catalogID).second;
}

size_t TreeWalk::Visited() {
  std::lock_guard<std::mutex> lock(m_lock);
  return m_visited.size();
}

}  // namespace vdcache
