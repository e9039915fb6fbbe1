#pragma once
// The catalog cache's rows in memory, and their load from cache.db.
//
// Sign-in happens on the shell's thread, and an account can hold a million
// rows: the load runs on a thread of its own. Until it is done, a catalog
// somebody asks for is read from the file by its parent (an indexed read of
// a few milliseconds) and from then on kept in memory; the load leaves such
// a catalog alone when it publishes what it read, because what is in memory
// is as new as the file or newer. So no reader ever waits for the load and
// none sees a catalog empty that the file holds.
//
// Readers get a snapshot (a shared, immutable CatalogChildren): taking one
// costs a reference count, and a writer replaces the snapshot instead of
// changing it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "packed_rows.h"

namespace vdcache {

using ChildrenPtr = std::shared_ptr<const CatalogChildren>;

class CatalogStore {
 public:
  // What the load found: every parent with rows.
  struct Loaded {
    std::vector<std::string> parents;
    std::size_t rows = 0;
  };
  using LoadedCallback = std::function<void(const Loaded&)>;

  CatalogStore() = default;
  ~CatalogStore();
  CatalogStore(const CatalogStore&) = delete;
  CatalogStore& operator=(const CatalogStore&) = delete;

  // Starts loading the file on a thread of its own; `loaded` runs on it once
  // the rows are in memory, before readers stop going to the file.
  void StartLoad(const std::string& dbPath, LoadedCallback loaded);
  // Stops a load that runs (it publishes nothing) and empties the store.
  void Clear();
  bool Loading() const { return m_loading.load(); }
  // True when no load runs any more within the time.
  bool WaitLoaded(uint32_t timeoutMs);

  // The children of a parent; null when it has none. During the load a
  // parent not in memory yet is read from the file first.
  ChildrenPtr Children(const std::string& parentID);
  // Makes the parent's rows in memory the ones the file holds (during the
  // load), so that a change can be made to them.
  void EnsureResident(const std::string& parentID);
  // True when memory holds the parent's rows as they are (always, once the
  // load is done).
  bool IsResident(const std::string& parentID);
  // During the load: whether the file holds rows of the parent, without
  // reading them (an indexed probe).
  bool HasRowsInFile(const std::string& parentID);
  std::string DbPath() const;
  // What a reader stepping the file calls after each page: the load gives
  // way for a moment, so that what somebody is looking at comes before what
  // nobody asked for yet. It may outlive the store.
  std::function<void()> FileReaderNote() const;
  // Replaces (null: removes) a parent's children.
  void Put(const std::string& parentID, ChildrenPtr children);
  // Adds a page of children behind the parent's rows.
  void Append(const std::string& parentID, const ListResult& page);
  // Parents in memory and the heap their rows take (for the benchmark).
  std::size_t ParentCount();
  std::size_t RowBytes();

  // Packs a listing into children.
  static ChildrenPtr Pack(const ListResult& listing);

  // Runs on the load's thread after the file is read, before anything is
  // published: tests hold the load there to see what readers get meanwhile.
  void SetBeforePublish(std::function<void()> hold) { m_beforePublish = std::move(hold); }

 private:
  struct LoadState;
  void RunLoad(std::shared_ptr<LoadState> state, LoadedCallback loaded) noexcept;
  ChildrenPtr ReadParent(const std::string& parentID);

  mutable std::mutex m_lock;  // the maps below; never held across I/O
  std::map<std::string, ChildrenPtr> m_children;
  std::set<std::string> m_resident;  // during a load: parents whose memory is authoritative
  std::atomic<bool> m_loading{false};
  std::shared_ptr<std::atomic<uint64_t>> m_lastFileReadMs = std::make_shared<std::atomic<uint64_t>>(0);
  std::shared_ptr<LoadState> m_load;
  std::string m_dbPath;
  std::thread m_loader;
  std::function<void()> m_beforePublish;
  std::mutex m_loaderLock;  // start and stop of the loader thread
};

}  // namespace vdcache
