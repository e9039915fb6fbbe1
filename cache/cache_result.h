#pragma once
// Result codes of the catalog, share and thumbnail caches.
#include <cstdint>

namespace vdcache {

constexpr uint32_t kCacheOk = 0;
constexpr uint32_t kCacheNotLoaded = 0x80000002;
constexpr uint32_t kCacheNoMemory = 0x80000004;
constexpr uint32_t kCacheDbFailure = 0x80000005;
constexpr uint32_t kCacheListFailed = 0x80000006;

// Page size of every listing; bounds are 1-based decimal texts.
constexpr int kPageSize = 200;
constexpr const char* kRootCatalogID = "00019700101000000001";
constexpr const char* kShareRootKey = "0019700101000000046";

}  // namespace vdcache
