#pragma once
// The service's accounts, tokens, catalog tree, contents, uploads, shares and
// quotas over one SQLite file plus a BlobStore. Independent of HTTP: every
// call takes plain values and answers a Reply whose data is the JSON object
// the wire protocol carries.
#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "blob_store.h"
#include "result_codes.h"
#include "sqlite_db.h"

namespace cloudserver {

using Json = nlohmann::json;

struct Reply {
  int code = codes::kOk;
  Json data = Json::object();
  static Reply Err(int c) { return Reply{c, Json::object()}; }
};

struct UploadFile {
  std::string name;
  int64_t size = 0;
  std::string md5;
};

struct BlobRef {
  std::filesystem::path path;
  int64_t size = 0;
  std::string name;
};

class CloudStore {
 public:
  struct Options {
    std::filesystem::path dataDir;
    int64_t tokenTtlSeconds = 24 * 3600;
    int64_t defaultQuota = int64_t{10} << 30;
    // Empty: <dataDir>/cloud.db. ":memory:" keeps the rows in memory (the
    // request fuzzer); blobs stay in dataDir either way.
    std::string databaseFile;
    // Unix seconds; replaceable so expiry can be tested without sleeping.
    std::function<int64_t()> clock;
  };

  static constexpr const char* kRootSuffix = "00019700101000000001";
  static constexpr const char* kRecycleSuffix = "00019700101000000054";
  static constexpr int kPageMax = 200;
  static constexpr int kMaxDepth = 32;
  static constexpr size_t kMaxItemsPerCall = 200;
  // Catalogs and contents one copy may create: each copy doubles what a
  // client can ask for next, and the whole copy runs under the store lock.
  static constexpr int64_t kMaxCopyEntries = 10000;

  explicit CloudStore(Options options);
  CloudStore(const CloudStore&) = delete;
  CloudStore& operator=(const CloudStore&) = delete;

  BlobStore& Blobs() { return blobs_; }

  // Accounts and tokens.
  Reply CreateAccount(const std::string& account, const std::string& password, const std::string& displayName);
  Reply SignIn(const std::string& account, const std::string& password);
  Reply GetTokenByDomain(const std::string& token, const std::string& domain);
  std::optional<std::string> UserForToken(const std::string& token);

  // Listing.
  Reply List(const std::string& token, const std::string& catalogId, const std::string& start, const std::string& end);
  Reply ListAll(const std::string& token, const std::string& catalogId, bool wholeTree);
  Reply GetDiskInfo(const std::string& token);

  // Changes.
  Reply Mkdir(const std::string& token, const std::string& parentId, const std::string& name);
  Reply RenameCatalog(const std::string& token, const std::string& catalogId, const std::string& name);
  Reply RenameContent(const std::string& token, const std::string& contentId, const std::string& name);
  Reply DeleteToRecycle(const std::string& token, const std::vector<std::string>& catalogIds,
                        const std::vector<std::string>& contentIds);
  Reply Copy(const std::string& token, const std::vector<std::string>& catalogIds,
             const std::vector<std::string>& contentIds, const std::string& targetId);
  Reply Move(const std::string& token, const std::vector<std::string>& catalogIds,
             const std::vector<std::string>& contentIds, const std::string& targetId);

  // Upload.
  Reply UploadRequest(const std::string& token, const std::string& parentId, const std::vector<UploadFile>& files);
  // Ranged write of one file of a task; the task id in the URL is the
  // capability. total must match the announced size.
  Reply UploadRange(const std::string& taskId, const std::string& contentId, int64_t offset, int64_t total,
                    std::string_view bytes);
  Reply UploadTaskInfo(const std::string& token, const std::string& taskId, const std::string& contentId);
  Reply DeleteUploadTask(const std::string& token, const std::string& taskId);

  // Download and thumbnails.
  Reply DownloadRequest(const std::string& token, const std::string& contentId);
  std::optional<BlobRef> ResolveDownload(const std::string& ticket);
  // Makes (once) and returns the thumbnail file of an image content.
  Reply Thumbnail(const std::string& token, const std::string& contentId, int edge, std::filesystem::path* out);

  // Shares.
  Reply ShareItems(const std::string& token, const std::vector<std::string>& catalogIds,
                   const std::vector<std::string>& contentIds, const std::vector<std::string>& accounts);
  Reply CreateLinkShare(const std::string& token, const std::string& itemId);
  Reply OpenLinkShare(const std::string& token, const std::string& linkCode);
  // kind "1": shares received, "2": shares given.
  Reply GetShareList(const std::string& token, const std::string& kind, const std::string& start,
                     const std::string& end);
  Reply CancelShare(const std::string& token, const std::string& itemId);
  Reply LeaveShare(const std::string& token, const std::vector<std::string>& itemIds);
  Reply ReplyShare(const std::string& token, const std::vector<std::string>& itemIds, bool accept);
  Reply ItemGetList(const std::string& token);

  // Events and operation log records: stored, never interpreted.
  Reply RecordEvent(const std::string& token, const std::string& kind, const std::string& body);

  // Seeding helper: one transaction creating `count` small contents in a new
  // catalog under the account's root. Answers the catalog ID.
  Reply CreateBenchFolder(const std::string& account, const std::string& name, int64_t count);

  // Replace every row with a copy from or into another database; no call may
  // run meanwhile. The request fuzzer resets the store between inputs so.
  void SaveRows(Database& to);
  void LoadRows(Database& from);

  static std::string RootOf(const std::string& userId) { return userId + kRootSuffix; }
  static std::string RecycleOf(const std::string& userId) { return userId + kRecycleSuffix; }

 private:
  struct CatalogRow {
    std::string id, owner, parent, name, createTime, updateTime;
    int ctype = 0, fixed = 0, synced = 0;
  };
  struct ContentRow {
    std::string id, owner, parent, name, md5, uploadTime, updateTime;
    int64_t size = 0;
    int version = 1;
  };
  enum class Access { kNone, kRead, kWrite, kOwner };

  int64_t Now() const;
  std::string NowText() const { return TimeTextNow(); }
  std::string TimeTextNow() const;
  std::string NewId(const std::string& userId, bool catalog);
  std::string NewToken(const std::string& userId, const std::string& kind);
  std::optional<std::string> Auth(const std::string& token);
  static std::string OwnId(const std::string& user, const std::string& id);

  std::optional<CatalogRow> LoadCatalog(const std::string& id);
  std::optional<ContentRow> LoadContent(const std::string& id);
  Access CatalogAccess(const std::string& userId, const CatalogRow& row);
  Access ContentAccess(const std::string& userId, const ContentRow& row);
  // What the shares the user received on this very item grant.
  Access ShareRight(const std::string& userId, const std::string& itemId);
  bool NameTaken(const std::string& parentId, const std::string& name, const std::string& exceptId);
  bool IsRecycle(const std::string& id) const;
  int Depth(const std::string& catalogId);
  bool IsAncestorOrSelf(const std::string& ancestor, std::string id);
  std::string CatalogPath(const std::string& catalogId);
  int64_t UsedBytes(const std::string& userId);
  int64_t Quota(const std::string& userId);
  int CheckName(const std::string& name, bool catalog) const;
  void TouchCatalog(const std::string& id);
  std::string ShareTypeOf(const std::string& itemId);

  // lookupShares false: the owner shares nothing, so per-item share queries are skipped.
  Json CatalogJson(const CatalogRow& row, const std::string& parentPath, bool lookupShares = true);
  Json ContentJson(const ContentRow& row, bool lookupShares = true);
  static CatalogRow ReadCatalog(Statement& st);
  static ContentRow ReadContent(Statement& st);

  // A catalog with everything below it: height 0 has no sub-catalogs.
  // Counting stops once entries passes maxEntries.
  struct Subtree {
    int64_t bytes = 0;
    int64_t entries = 0;
    int height = 0;
  };
  Subtree MeasureSubtree(const std::string& catalogId, int64_t maxEntries);
  int CopyCatalogTree(const std::string& srcId, const std::string& targetParent, const std::string& newOwner);
  bool FitsQuota(const std::string& userId, int64_t moreBytes);
  Reply CommitUpload(const std::string& taskId, const std::string& contentId);

  // Where the last page of a catalog's listing ended.
  struct ListCursor {
    int64_t changes = -1;  // Database::TotalChanges() when it was taken
    int64_t catalogs = 0, contents = 0;
    int64_t next = 0;  // 1-based position of the row after the page
    bool inContents = false;
    std::string lastName, lastId;
  };
  static constexpr size_t kMaxListCursors = 256;

  Options options_;
  // Lock order: uploadMutex_ before mutex_, never the other way round.
  // uploadMutex_ serialises partial files (it is held across their disk
  // writes); mutex_ guards the database and is held only for queries.
  std::mutex uploadMutex_;
  std::recursive_mutex mutex_;
  Database db_;
  BlobStore blobs_;
  std::map<std::string, ListCursor> cursors_;  // by catalog ID; guarded by mutex_
};

}  // namespace cloudserver
