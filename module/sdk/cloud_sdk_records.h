#pragma once
// Request and result records exchanged with the cloud SDK.
//
// Text is 8-bit, in the calling thread's ANSI code page, exactly as the
// product converts it; the SDK converts to and from the wire itself. Numbers
// travel as decimal texts (sizes, page bounds, counts, flags) unless a field
// is declared as an integer. Every request starts with the signed-in account.
// Fields that carry a fixed value from the product say so; the SDK may ignore
// what it does not need. Records are plain values: they cross the DLL boundary
// as C++ objects built by the same compiler, and hold no locks or handles.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------- sign-in

// The three ":"-separated parts of the desktop client's operation-token value,
// in their registry order.
struct TokenInfoEx {
  std::array<std::string, 3> parts;
};

// ---------------------------------------------------------------- listing

// One child catalog (cloud folder) as the service lists it. The caches store
// it unchanged, so every field they keep is here.
struct CatalogInfo {
  std::string catalogName;
  std::string catalogID;        // user id (12) + 20-character fixed part
  std::string catalogType;      // "7": a catalog synced by the desktop client
  std::string isShared;
  std::string createtime;       // 14 digits, YYYYMMDDhhmmss
  std::string updatetime;       // 14 digits; the caches compare it for equality
  std::string catalogLevel;
  std::string shareDoneeCount;
  std::string ETagOprType;
  std::string openType;
  std::string parentCatalogID;  // filled by the caches when loading
  std::string dirEtag;
  std::string tombstoned;
  std::string proxyID;
  std::int32_t moved = 0;
  std::int32_t isFixedDir = 0;
  std::int32_t isSynced = 0;
  std::string path;             // ID path inside a received share ("<root>/<id>/..."), else empty
  std::string shareType;        // "1", "2", "3" or other
};

// One content (cloud file) as the service lists it.
struct ContentInfo {
  std::string contentID;
  std::string contentName;
  std::string contentSize;      // bytes, decimal
  std::string contentDesc;
  std::string contentType;
  std::string isShared;
  std::string thumbnailURL;     // empty or "0": no thumbnail
  std::string updateTime;       // 14 digits; the caches compare it for equality
  std::string contentOrigin;
  std::string safestate;
  std::string bigthumbnailURL;
  std::string presentURL;
  std::string presentLURL;
  std::string presentHURL;
  std::string contentTAGList;
  std::string commentCount;
  std::string uploadTime;
  std::string updateShareTime;
  std::string shareDoneeCount;
  std::string isFocusContent;
  std::string ETagOprType;
  std::string contentSuffix;
  std::string transferstate;
  std::string openType;
  std::string auditResult;
  std::string channel;
  std::string geoLocFlag;
  std::string digest;
  std::string version;
  std::string fileEtag;
  std::string midthumbnailURL;
  std::string tombstoned;
  std::string fileVersion;
  std::string proxyID;
  std::int32_t moved = 0;
  std::string shareType;
};

// One page of a catalog's children. Bounds are 1-based and inclusive; a page
// is 200 entries ("1".."200", "201".."400", ...).
struct ListRequest {
  std::string account;
  std::string catalogID;
  std::string catalogSortType = "0";  // the product always sends "0"
  std::string contentSortType = "0";  // the product always sends "0"
  std::string startNumber = "1";
  std::string endNumber = "200";
  std::string filterType = "-1";      // the product always sends "-1"
  std::string path;                   // the caller's catalog path; product-side bookkeeping
  bool alwaysUpdate = false;          // product-side: replace the cache even when unchanged
};

struct ListResult {
  ListRequest request;                // a copy of the request this page answers
  std::string totalCount;             // children of the catalog in all, decimal
  std::vector<CatalogInfo> catalogs;  // catalogs first, then contents, in service order
  std::vector<ContentInfo> contents;
};

// Whole-catalog listing used to pick a free name.
struct LsAllRequest {
  std::string account;
  std::string catalogID;
  std::string flag = "1";
  std::string startNumber = "-1";     // "-1".."-1": every child
  std::string endNumber = "-1";
  std::string path;                   // share owner's path inside a received share, else empty
};

// The contacts who share with the signed-in user.
struct ItemGetListRequest {
  std::string account;
  std::string itemType = "1";
  std::string flag = "1";
};

struct ItemInfo {
  std::string itemID;
  std::string itemName;                   // display name; empty: show the account
  std::int32_t itemType = 0;
  std::vector<std::string> accountList;   // accounts this name stands for
};

struct ItemGetListResult {
  std::vector<ItemInfo> items;
};

struct DiskInfoRequest {
  std::string account;
};

struct DiskInfoResult {
  std::string totalSize;  // bytes, unsigned decimal
  std::string freeSize;   // bytes, unsigned decimal; may exceed totalSize
};

// ---------------------------------------------------------------- changes

// Answer of calls whose result the product reads only as the returned code.
struct OprResult {
  std::string message;  // the service's own text for a failure; may be empty
};

struct MkdirRequest {
  std::string account;
  std::string parentCatalogID;
  std::string catalogName;
  std::string catalogDesc;  // upload engine sends "0", item operations ""
  std::string path;         // parent's cloud path inside a received share, else empty
  std::string flag = "1";   // the product always sends "1"
};

struct MkdirResult {
  std::string catalogID;    // the new catalog's ID
  std::string createtime;   // 14 digits
  std::string path;         // its cloud path, when the service gives one
};

// Rename of a catalog (updateCatalogInfo) or of a content (updateFile).
struct UpdateCatalogRequest {
  std::string account;
  std::string catalogID;
  std::string catalogName;  // the new name
  std::string catalogDesc;  // the product sends ""
  std::string flag;         // "" for a rename, "1" for the first rename of a folder just made
  std::string path;         // share owner's path inside a received share, else empty
};

struct UpdateFileRequest {
  std::string account;
  std::string contentID;
  std::string contentName;  // the new name, extension included
  std::string contentDesc;  // the product sends ""
  std::string flag;         // the product sends ""
  std::string path;         // share owner's path inside a received share, else empty
};

// Moves catalogs and contents into a special catalog: with oprType "2" and
// the recycle-bin catalog "00019700101000000054" it is the delete.
struct MgtVirDirRequest {
  std::string account;
  std::string oprType = "2";
  std::string targetCatalogID = "00019700101000000054";
  std::vector<std::string> catalogIDs;  // cloud paths inside a received share
  std::vector<std::string> contentIDs;  // cloud paths inside a received share
};

// Server-side copy or move; at most 200 catalogs and 200 contents a request.
struct CopyMoveRequest {
  std::string account;
  std::vector<std::string> catalogIDs;  // cloud paths for items of a received share
  std::vector<std::string> contentIDs;  // cloud paths for items of a received share
  std::string targetCatalogID;          // or the target's cloud path inside a received share
};

// ---------------------------------------------------------------- shares

// Share-list page request: nine text fields, numbered as the callers number
// them. The login template is {account, "1", "0", "0", "1", "200", "2", "0",
// "0"}; paging moves startNumber/endNumber by 200.
struct ShareListRequest {
  std::string account;           // 1
  std::string shareKind = "1";   // 2
  std::string sortType = "0";    // 3
  std::string sortOrder = "0";   // 4
  std::string startNumber = "1"; // 5
  std::string endNumber = "200"; // 6
  std::string shareState = "2";  // 7
  std::string filter1 = "0";     // 8
  std::string filter2 = "0";     // 9
};

struct ShareUser {
  std::string account;
  std::string name;
  std::string kind;  // "2" on the first entry flags a content share
};

struct ShareHeader {
  std::string SharerID;            // the sharing user's ID; cached with every row
  std::string sharerName;          // shown beside the item
  std::string shareKind;           // "5" flags a catalog share
  std::vector<ShareUser> sharers;
};

// One shared item: a catalog, a content, or both (each part checked on its own).
struct ShareEntry {
  ShareHeader header;
  CatalogInfo catalog;
  ContentInfo content;

  bool HasCatalog() const { return !catalog.catalogID.empty(); }
  bool HasContent() const { return !content.contentID.empty() && !content.contentName.empty(); }
};

struct ShareListResult {
  ShareListRequest request;  // a copy of the request this page answers
  std::string totalCount;    // entries in all, decimal
  std::vector<ShareEntry> shares;
};

struct CancelShareRequest {
  std::string account;
  std::string itemID;
  std::string itemType;  // "1" content, "2" catalog
};

struct LeaveShareRequest {
  std::string account;
  std::vector<std::string> contentPaths;  // share paths of the selected files
  std::vector<std::string> catalogPaths;  // share paths of the selected folders
};

// Accepts received shares that are still waiting for the user.
struct ReplyShareRequest {
  std::string account;
  std::string replyType = "1";            // the product always sends "1" (accept)
  std::vector<std::string> catalogIDs;
  std::vector<std::string> contentIDs;
};

// ---------------------------------------------------------------- upload

struct UploadFileEntry {
  std::string contentName;  // file name with extension
  std::string contentSize;  // bytes, decimal
  std::string digest;       // MD5, 32 hex characters (Md5CalFile)
};

struct UploadFileRequest {
  std::string account;
  std::string uploadType = "1";    // the product always sends "1"
  std::string totalSize;           // "%llu" of the file size
  std::string parentCatalogID;
  std::string path;                // parent's cloud path inside a received share, else empty
  std::string notify = "1";        // "0" only for a lone file dropped at the top level
  std::vector<UploadFileEntry> files;
};

struct UploadFileAnswer {
  std::string contentID;
  std::string contentName;
  std::string isExist;       // "1": a file of that name was there; it became a history version
  std::string isNeedUpload;  // "0": the service already has the bytes, nothing to send
};

struct UploadFileResult {
  std::string uploadTaskID;
  std::string uploadURL;
  std::vector<UploadFileAnswer> entries;  // one per requested file
};

// Input of makeUploadFileHttpHeader; a resumed upload starts at the bytes
// the service already has.
struct UploadHeaderRequest {
  std::string account;
  std::string contentName;
  std::string uploadMode = "0";    // the product always sends "0"
  std::string rangeStart;          // first byte, decimal
  std::string rangeEnd;            // last byte (size - 1), decimal
  std::string totalSize;
  std::string uploadTaskID;
  std::string contentEncoding;     // "gzip, deflate" or empty
  std::string contentLength;       // rangeEnd - rangeStart + 1
  std::string extra;               // the product sends ""
};

struct UploadTaskInfoRequest {
  std::string account;
  std::string contentID;
  std::string uploadTaskID;
  std::string path;  // the task's cloud path inside a received share, else empty
};

struct UploadBlockInfo {
  std::string uploadedSize;  // bytes the service holds, decimal
};

struct PcUploadTaskInfo {
  std::string uploadTaskID;
  std::string contentID;
  std::vector<UploadBlockInfo> blocks;  // the product reads blocks[0]
};

struct UploadTaskInfoResult {
  std::vector<PcUploadTaskInfo> taskInfos;
};

// ---------------------------------------------------------------- download

struct DownloadFileRequest {
  std::string account;
  std::string contentID;  // or the content's cloud path inside a received share
  std::string fullID;     // the content's ID path, second identifier of the item
  std::string batch;      // "1": part of a batch or an open-and-edit, "0": a single file
  std::string offset = "0";  // "-1" on a resumed download: continue at the header's range
};

// Input of makeDownloadFileHttpHeader. The transfer record carries these six
// fields beside the header made from them.
struct DownloadHeaderRequest {
  std::string account;
  std::string contentID;
  std::string rangeStart;          // first byte wanted, decimal ("0", or the partial file's size)
  std::string rangeEnd;            // last byte wanted (size - 1), decimal
  std::string totalSize;           // expected size of the whole file
  std::string acceptEncoding = "gzip, deflate";
};

struct DownloadFileExResult {
  std::string localPath;  // the file written
};

// ---------------------------------------------------------------- records

// New-content notice after an upload ("1") or a download ("12").
struct NewEventRequest {
  std::string account;
  std::string eventType;  // "1" upload, "12" download
  std::string path;       // target cloud path; 20-character components prefixed with the user id
  std::string items;      // up to 8 "<obj>name|kind|id||type|time</obj>" items
  std::string itemCount;  // number of items, decimal
  std::string extInfo;    // {"ppath":"...","pname":"..."} in the ANSI code page
};

// Operation-log record: fixed text slots of 40 bytes, each NUL-terminated.
struct OprLogRecord {
  static constexpr int kSlotCount = 32;
  static constexpr int kSlotSize = 40;

  // Where the product puts each text; other slots stay empty.
  enum Slot : int {
    kCode = 0,       // operation code, e.g. "30300069"
    kAccount = 3,    // the signed-in account
    kTime = 5,       // local time "%04d%02d%02d%02d%02d%02d", when the record has one
    kChannel = 10,   // "10000024" or "10000004"
    kResult = 13,    // "0"
    kTerminal = 20,  // "PC"
    kProduct = 30,   // "ORLO"
  };

  char slots[kSlotCount][kSlotSize] = {};

  // Copies text into a slot, cut to kSlotSize - 1 bytes. False when the slot
  // does not exist or the text had to be cut.
  constexpr bool Set(int slot, std::string_view text) noexcept {
    if (slot < 0 || slot >= kSlotCount) return false;
    constexpr std::size_t kMax = kSlotSize - 1;
    const std::size_t n = text.size() < kMax ? text.size() : kMax;
    for (std::size_t i = 0; i < std::size_t{kSlotSize}; ++i) slots[slot][i] = i < n ? text[i] : '\0';
    return n == text.size();
  }

  constexpr std::string_view Get(int slot) const noexcept {
    if (slot < 0 || slot >= kSlotCount) return {};
    std::size_t n = 0;
    while (n < std::size_t{kSlotSize} && slots[slot][n] != '\0') ++n;
    return std::string_view(slots[slot], n);
  }
};
