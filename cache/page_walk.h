#pragma once
// The bounds of one paged listing. The service's word is not trusted: a total
// that grows with every page, the same page served again and again, or a
// total of 10^18 must all end the walk, with memory bounded.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cloud_sdk.h"

namespace vdcache {

// Entries kept of one catalog at most, whatever total the service announces.
inline constexpr int64_t kMaxListedEntries = 1'000'000;

class PageWalk {
 public:
  // announcedTotal: the total that came with the first page. It fixes the
  // number of pages the walk may ask for; a later page may lower it, never
  // raise it.
  explicit PageWalk(std::string_view announcedTotal);

  // Drops the entries already seen (and those beyond the cap) from the page;
  // false when nothing new was left, which ends the walk.
  bool TakeNew(ListResult& page);
  bool TakeNew(std::vector<ShareEntry>& shares);
  // A page's own total: believed when lower than the one the walk has.
  void Lower(std::string_view pageTotal);

  // Whether another page may be asked for, and the entries kept so far (the
  // next page starts after them).
  bool WantsMore() const;
  int64_t Have() const { return m_have; }
  int64_t Total() const { return m_total; }

 private:
  bool Keep(char kind, std::string_view id);

  int64_t m_total;
  int64_t m_pageBudget;
  int64_t m_pages = 0;
  int64_t m_have = 0;
  bool m_stalled = false;
  std::unordered_set<uint64_t> m_seen;  // hashes of kind + ID: 8 bytes an entry, not a copy of each ID
};

// The request for the page after what `walk` has kept.
void NextPage(const PageWalk& walk, std::string& startNumber, std::string& endNumber);

// A page of a first listing as its callback got it: the first one starts
// `walk`. True when it brought entries the walk had not kept yet; `page` is
// then those entries, answering `request`.
bool TakeListingPage(int code, const ListResult* result, const ListRequest& request, std::unique_ptr<PageWalk>& walk,
                     ListResult& page);

}  // namespace vdcache

namespace vdcache {

// Catalogs listed at most by one whole-tree prefetch, and how deep below
// its start it goes (the service nests catalogs 32 deep at most).
inline constexpr size_t kMaxWalkedCatalogs = 100'000;
inline constexpr int kMaxWalkDepth = 64;

// One whole-tree prefetch, shared by all its listings: each catalog is
// visited once, however the service nests them (a catalog listed as its own
// child, or below its own child), and the walk ends at its cap.
class TreeWalk {
 public:
  // False when the catalog was visited before, lies too deep or the walk is full.
  bool Visit(const std::string& catalogID, int depth);
  size_t Visited();

 private:
  std::mutex m_lock;
  std::unordered_set<std::string> m_visited;
};

}  // namespace vdcache
