#pragma once
// Thumbnail prefetch: after a catalog is listed by the whole-tree prefetch,
// its contents' thumbnails are fetched on the pool into
// <Documents>/ORLO/<account>/DownloadFile/<catalog display path>/<contentID>.<ext>.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "breviary_cache.h"
#include "cloud_sdk.h"
#include "thread_pool.h"
#include "vd_cache.h"

namespace vdcache {

struct BreviaryItem {
  std::string thumbnailURL;
  std::string contentID;
  std::string baseName;
  std::string extension;
  std::string updateTime;
  std::string contentSize;
  std::string folder;
  std::string tempPath;
  std::string finalPath;
};

class PreDownloadTbimg : public IThumbnailPrefetch {
 public:
  // catalogPath: the display path of a catalog ID (CVDCache::GetCatalogPath).
  PreDownloadTbimg(ICloudSdk* sdk, ThumbnailRecords* records, ThreadPool* pool, std::string documentsFolder,
                   std::string account, std::function<std::string(const std::string&)> catalogPath);

  void QueueCatalog(const std::string& catalogID, const ListResult& listing) override;

  // Folder of a catalog's thumbnails; empty for an empty display path.
  std::string GetBreviaryPath(const std::string& displayPath) const;
  // The thumbnails of the listing that are missing or out of date, last content first.
  std::vector<BreviaryItem> GenerateBngRUL(const std::string& displayPath, const ListResult& listing);
  // Downloads each item (two tries); the number that arrived.
  int DoDownLoadBreviaryFiles(const std::vector<BreviaryItem>& items);
  bool DownloadMyPerTask(const BreviaryItem& item);
  // The job's work for one catalog.
  int PreDownloadTbimgFiles(const std::string& catalogID, const ListResult& listing);

  // Longest wait for one thumbnail before it counts as failed.
  void SetDownloadTimeoutMs(uint32_t ms) { m_timeoutMs = ms; }

 private:
  ICloudSdk* m_sdk;
  ThumbnailRecords* m_records;
  ThreadPool* m_pool;
  std::string m_documents;
  std::string m_account;
  std::function<std::string(const std::string&)> m_catalogPath;
  uint32_t m_timeoutMs = 60000;
};

}  // namespace vdcache
