#include "cloud_store.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>

#include "thumbnail.h"
#include "util.h"

namespace cloudserver {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS accounts(user_id TEXT PRIMARY KEY, account TEXT UNIQUE NOT NULL,
  display_name TEXT NOT NULL, salt TEXT NOT NULL, pw_hash TEXT NOT NULL, quota INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(token TEXT PRIMARY KEY, user_id TEXT NOT NULL, kind TEXT NOT NULL,
  expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS catalogs(id TEXT PRIMARY KEY, owner TEXT NOT NULL, parent TEXT NOT NULL,
  name TEXT NOT NULL, ctype INTEGER NOT NULL, fixed INTEGER NOT NULL, create_time TEXT NOT NULL,
  update_time TEXT NOT NULL, synced INTEGER NOT NULL DEFAULT 0, orig_parent TEXT NOT NULL DEFAULT '');
DROP INDEX IF EXISTS catalogs_parent;
CREATE INDEX IF NOT EXISTS catalogs_parent_key ON catalogs(parent, name, id);
CREATE TABLE IF NOT EXISTS contents(id TEXT PRIMARY KEY, owner TEXT NOT NULL, parent TEXT NOT NULL,
  name TEXT NOT NULL, size INTEGER NOT NULL, md5 TEXT NOT NULL, upload_time TEXT NOT NULL,
  update_time TEXT NOT NULL, version INTEGER NOT NULL DEFAULT 1, orig_parent TEXT NOT NULL DEFAULT '');
DROP INDEX IF EXISTS contents_parent;
CREATE INDEX IF NOT EXISTS contents_parent_key ON contents(parent, name, id);
CREATE INDEX IF NOT EXISTS contents_owner ON contents(owner);
CREATE TABLE IF NOT EXISTS upload_tasks(task_id TEXT NOT NULL, content_id TEXT NOT NULL, uploader TEXT NOT NULL,
  owner TEXT NOT NULL, parent TEXT NOT NULL, name TEXT NOT NULL, size INTEGER NOT NULL, md5 TEXT NOT NULL,
  replace_id TEXT NOT NULL, done INTEGER NOT NULL, PRIMARY KEY(task_id, content_id));
CREATE TABLE IF NOT EXISTS tickets(ticket TEXT PRIMARY KEY, user_id TEXT NOT NULL, content_id TEXT NOT NULL,
  expires INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS shares(share_id INTEGER PRIMARY KEY, owner TEXT NOT NULL, item_id TEXT NOT NULL,
  is_catalog INTEGER NOT NULL, sharee TEXT NOT NULL, link_code TEXT NOT NULL, state INTEGER NOT NULL,
  created TEXT NOT NULL, UNIQUE(item_id, sharee, link_code));
CREATE INDEX IF NOT EXISTS shares_sharee ON shares(sharee);
CREATE INDEX IF NOT EXISTS shares_owner ON shares(owner);
CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY, user_id TEXT NOT NULL, kind TEXT NOT NULL,
  body TEXT NOT NULL, created TEXT NOT NULL);
)sql";

constexpr const char* kCatalogCols = "id, owner, parent, name, ctype, fixed, create_time, update_time, synced";
constexpr const char* kContentCols = "id, owner, parent, name, size, md5, upload_time, update_time, version";

std::string Suffix(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot + 1 == name.size()) return {};
  std::string s = name.substr(dot + 1);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// 1 image, 2 audio, 3 video, 0 anything else.
constexpr const char* kEmptyMd5 = "d41d8cd98f00b204e9800998ecf8427e";

int ContentTypeOf(const std::string& name) {
  static const std::set<std::string> images{"jpg", "jpeg", "png", "bmp", "gif"};
  static const std::set<std::string> audio{"mp3", "wav", "wma", "aac", "flac"};
  static const std::set<std::string> video{"mp4", "avi", "mkv", "wmv", "mov", "3gp"};
  std::string s = Suffix(name);
  if (images.count(s)) return 1;
  if (audio.count(s)) return 2;
  if (video.count(s)) return 3;
  return 0;
}

bool Thumbnailable(const std::string& name) {
  std::string s = Suffix(name);
  return s == "jpg" || s == "jpeg" || s == "png" || s == "bmp" || s == "gif";
}

}  // namespace

CloudStore::CloudStore(Options options)
    : options_(std::move(options)),
      db_((std::filesystem::create_directories(options_.dataDir),
           options_.databaseFile.empty() ? (options_.dataDir / "cloud.db").string() : options_.databaseFile)),
      blobs_(options_.dataDir) {
  db_.Exec("PRAGMA journal_mode=WAL");
  db_.Exec("PRAGMA synchronous=NORMAL");
  db_.Exec(kSchema);
}

int64_t CloudStore::Now() const {
  if (options_.clock) return options_.clock();
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string CloudStore::TimeTextNow() const { return TimeText(Now()); }

std::string CloudStore::NewId(const std::string& userId, bool catalog) {
  // The sequence lives in the database so IDs stay unique across restarts.
  db_.Exec("INSERT OR IGNORE INTO meta VALUES('seq', 1000)");
  db_.Exec("UPDATE meta SET value = value + 1 WHERE key = 'seq'");
  int64_t seq = db_.QueryInt("SELECT value FROM meta WHERE key = ?", "seq");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%s%09lld", catalog ? "000" : "001", TimeTextNow().substr(0, 8).c_str(),
                static_cast<long long>(seq % 1000000000));
  return userId + buf;
}

std::string CloudStore::NewToken(const std::string& userId, const std::string& kind) {
  std::string token = RandomHex(24);
  db_.Prepare("INSERT INTO tokens VALUES(?,?,?,?)").BindAll(token, userId, kind, Now() + options_.tokenTtlSeconds).Run();
  return token;
}

std::optional<std::string> CloudStore::Auth(const std::string& token) {
  if (token.empty() || token.size() > 128) return std::nullopt;
  Statement st = db_.Prepare("SELECT user_id, expires FROM tokens WHERE token = ?");
  st.Bind(1, token);
  if (!st.Step() || st.Int(1) <= Now()) return std::nullopt;
  return st.Text(0);
}

std::optional<std::string> CloudStore::UserForToken(const std::string& token) {
  std::lock_guard lock(mutex_);
  return Auth(token);
}

// A bare fixed part ("00019700101000000001" for the root) names the fixed
// catalog of the signed-in user, as clients address their own root.
std::string CloudStore::OwnId(const std::string& user, const std::string& id) {
  static constexpr std::string_view kFixedPrefix = "000197001010";
  if (id.size() == 20 && id.compare(0, kFixedPrefix.size(), kFixedPrefix) == 0) return user + id;
  return id;
}

#define AUTH_OR_102(user)                                     \
  std::lock_guard lock(mutex_);                               \
  std::optional<std::string> user##_opt = Auth(token);        \
  if (!user##_opt) return Reply::Err(codes::kTokenInvalid);   \
  const std::string& user = *user##_opt

// ---------------------------------------------------------------- accounts

Reply CloudStore::CreateAccount(const std::string& account, const std::string& password,
                                const std::string& displayName) {
  std::lock_guard lock(mutex_);
  if (account.empty() || account.size() > 64 || CheckItemName(account) != NameCheck::kOk || password.empty())
    return Reply::Err(codes::kAccountBad);
  if (db_.QueryText("SELECT user_id FROM accounts WHERE account = ?", account)) return Reply::Err(codes::kAccountExists);
  Transaction tx(db_);
  db_.Exec("INSERT OR IGNORE INTO meta VALUES('user_seq', 100000000000)");
  db_.Exec("UPDATE meta SET value = value + 1 WHERE key = 'user_seq'");
  std::string userId = std::to_string(db_.QueryInt("SELECT value FROM meta WHERE key = ?", "user_seq"));
  std::string salt = RandomHex(16);
  db_.Prepare("INSERT INTO accounts VALUES(?,?,?,?,?,?)")
      .BindAll(userId, account, displayName.empty() ? account : displayName, salt, HashPassword(password, salt),
               options_.defaultQuota)
      .Run();
  std::string now = TimeTextNow();
  auto ins = db_.Prepare("INSERT INTO catalogs(id, owner, parent, name, ctype, fixed, create_time, update_time) "
                         "VALUES(?,?,?,?,?,?,?,?)");
  ins.BindAll(RootOf(userId), userId, "", "", 0, 1, now, now).Run();
  ins.Reset();
  ins.BindAll(RecycleOf(userId), userId, "", "回收站", 0, 1, now, now).Run();
  tx.Commit();
  Reply r;
  r.data = {{"userID", userId}, {"account", account}};
  return r;
}

Reply CloudStore::SignIn(const std::string& account, const std::string& password) {
  std::lock_guard lock(mutex_);
  Statement st = db_.Prepare("SELECT user_id, salt, pw_hash, display_name FROM accounts WHERE account = ?");
  st.Bind(1, account);
  if (!st.Step() || !ConstantTimeEquals(HashPassword(password, st.Text(1)), st.Text(2)))
    return Reply::Err(codes::kBadLogin);
  std::string userId = st.Text(0);
  std::string name = st.Text(3);
  db_.Prepare("DELETE FROM tokens WHERE expires <= ?").BindAll(Now()).Run();
  Reply r;
  r.data = {{"userID", userId},
            {"account", account},
            {"displayName", name},
            {"token", NewToken(userId, "token")},
            {"opToken", NewToken(userId, "op")},
            {"expiresIn", std::to_string(options_.tokenTtlSeconds)},
            {"rootCatalogID", RootOf(userId)},
            {"recycleCatalogID", RecycleOf(userId)}};
  return r;
}

Reply CloudStore::GetTokenByDomain(const std::string& token, const std::string& domain) {
  AUTH_OR_102(user);
  if (domain.empty() || domain.size() > 32) return Reply::Err(codes::kBadRequest);
  Reply r;
  r.data = {{"domain", domain}, {"domainToken", NewToken(user, "domain:" + domain)}};
  return r;
}

// ---------------------------------------------------------------- helpers

CloudStore::CatalogRow CloudStore::ReadCatalog(Statement& st) {
  CatalogRow r;
  r.id = st.Text(0);
  r.owner = st.Text(1);
  r.parent = st.Text(2);
  r.name = st.Text(3);
  r.ctype = static_cast<int>(st.Int(4));
  r.fixed = static_cast<int>(st.Int(5));
  r.createTime = st.Text(6);
  r.updateTime = st.Text(7);
  r.synced = static_cast<int>(st.Int(8));
  return r;
}

CloudStore::ContentRow CloudStore::ReadContent(Statement& st) {
  ContentRow r;
  r.id = st.Text(0);
  r.owner = st.Text(1);
  r.parent = st.Text(2);
  r.name = st.Text(3);
  r.size = st.Int(4);
  r.md5 = st.Text(5);
  r.uploadTime = st.Text(6);
  r.updateTime = st.Text(7);
  r.version = static_cast<int>(st.Int(8));
  return r;
}

std::optional<CloudStore::CatalogRow> CloudStore::LoadCatalog(const std::string& id) {
  Statement st = db_.Prepare(std::string("SELECT ") + kCatalogCols + " FROM catalogs WHERE id = ?");
  st.Bind(1, id);
  if (!st.Step()) return std::nullopt;
  return ReadCatalog(st);
}

std::optional<CloudStore::ContentRow> CloudStore::LoadContent(const std::string& id) {
  Statement st = db_.Prepare(std::string("SELECT ") + kContentCols + " FROM contents WHERE id = ?");
  st.Bind(1, id);
  if (!st.Step()) return std::nullopt;
  return ReadContent(st);
}

// Only a user share the sharee accepted lets them write; a share still
// waiting for an answer, or one opened through a link (its row keeps the link
// code), is read-only.
CloudStore::Access CloudStore::ShareRight(const std::string& userId, const std::string& itemId) {
  Statement st = db_.Prepare("SELECT MAX(state = 1 AND link_code = '') FROM shares WHERE item_id = ? AND sharee = ?");
  st.BindAll(itemId, userId);
  if (!st.Step() || st.IsNull(0)) return Access::kNone;
  return st.Int(0) ? Access::kWrite : Access::kRead;
}

CloudStore::Access CloudStore::CatalogAccess(const std::string& userId, const CatalogRow& row) {
  if (row.owner == userId) return Access::kOwner;
  // A received share covers the shared catalog and everything below it; the
  // widest share on the way up decides.
  Access best = Access::kNone;
  std::string id = row.id;
  for (int guard = 0; !id.empty() && guard < 2 * kMaxDepth; ++guard) {
    best = std::max(best, ShareRight(userId, id));
    if (best == Access::kWrite) break;
    id = db_.QueryText("SELECT parent FROM catalogs WHERE id = ?", id).value_or("");
  }
  return best;
}

CloudStore::Access CloudStore::ContentAccess(const std::string& userId, const ContentRow& row) {
  if (row.owner == userId) return Access::kOwner;
  if (ShareRight(userId, row.id) != Access::kNone) return Access::kRead;
  auto parent = LoadCatalog(row.parent);
  if (parent && CatalogAccess(userId, *parent) != Access::kNone) return Access::kRead;
  return Access::kNone;
}

bool CloudStore::IsRecycle(const std::string& id) const {
  return id.size() == 32 && id.compare(12, 20, kRecycleSuffix) == 0;
}

bool CloudStore::NameTaken(const std::string& parentId, const std::string& name, const std::string& exceptId) {
  if (IsRecycle(parentId)) return false;
  Statement a = db_.Prepare("SELECT 1 FROM catalogs WHERE parent = ? AND name = ? AND id <> ?");
  a.BindAll(parentId, name, exceptId);
  if (a.Step()) return true;
  Statement b = db_.Prepare("SELECT 1 FROM contents WHERE parent = ? AND name = ? AND id <> ?");
  b.BindAll(parentId, name, exceptId);
  return b.Step();
}

int CloudStore::Depth(const std::string& catalogId) {
  int depth = 0;
  std::string id = catalogId;
  while (!id.empty() && depth <= 2 * kMaxDepth) {
    id = db_.QueryText("SELECT parent FROM catalogs WHERE id = ?", id).value_or("");
    ++depth;
  }
  return depth - 1;
}

bool CloudStore::IsAncestorOrSelf(const std::string& ancestor, std::string id) {
  for (int guard = 0; !id.empty() && guard <= 2 * kMaxDepth; ++guard) {
    if (id == ancestor) return true;
    id = db_.QueryText("SELECT parent FROM catalogs WHERE id = ?", id).value_or("");
  }
  return false;
}

std::string CloudStore::CatalogPath(const std::string& catalogId) {
  std::vector<std::string> parts;
  std::string id = catalogId;
  for (int guard = 0; !id.empty() && guard <= 2 * kMaxDepth; ++guard) {
    parts.push_back(id);
    id = db_.QueryText("SELECT parent FROM catalogs WHERE id = ?", id).value_or("");
  }
  std::string path;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    if (!path.empty()) path += '/';
    path += *it;
  }
  return path;
}

int64_t CloudStore::UsedBytes(const std::string& userId) {
  return db_.QueryInt("SELECT COALESCE(SUM(size), 0) FROM contents WHERE owner = ?", userId);
}

int64_t CloudStore::Quota(const std::string& userId) {
  return db_.QueryInt("SELECT quota FROM accounts WHERE user_id = ?", userId);
}

bool CloudStore::FitsQuota(const std::string& userId, int64_t moreBytes) {
  // Compared as a difference: used + moreBytes could wrap.
  return moreBytes >= 0 && moreBytes <= Quota(userId) - UsedBytes(userId);
}

int CloudStore::CheckName(const std::string& name, bool catalog) const {
  switch (CheckItemName(name)) {
    case NameCheck::kOk:
      return codes::kOk;
    case NameCheck::kTooLong:
      return codes::kNameTooLong;
    case NameCheck::kBad:
      break;
  }
  return catalog ? codes::kCatalogNameBad : codes::kFileNameBad;
}

void CloudStore::TouchCatalog(const std::string& id) {
  db_.Prepare("UPDATE catalogs SET update_time = ? WHERE id = ?").BindAll(TimeTextNow(), id).Run();
}

std::string CloudStore::ShareTypeOf(const std::string& itemId) {
  Statement st = db_.Prepare(
      "SELECT MAX(sharee <> ''), MAX(link_code <> '') FROM shares WHERE item_id = ?");
  st.Bind(1, itemId);
  if (!st.Step() || st.IsNull(0)) return "0";
  int users = static_cast<int>(st.Int(0)), links = static_cast<int>(st.Int(1));
  return std::to_string(users + 2 * links);
}

Json CloudStore::CatalogJson(const CatalogRow& row, const std::string& parentPath, bool lookupShares) {
  std::string shareType = lookupShares ? ShareTypeOf(row.id) : "0";
  int64_t donees =
      lookupShares ? db_.QueryInt("SELECT COUNT(*) FROM shares WHERE item_id = ? AND sharee <> ''", row.id) : 0;
  return Json{{"catalogID", row.id},
              {"catalogName", row.name},
              {"catalogType", std::to_string(row.ctype)},
              {"isShared", shareType == "0" ? "0" : "1"},
              {"createtime", row.createTime},
              {"updatetime", row.updateTime},
              {"catalogLevel", std::to_string(Depth(row.id))},
              {"shareDoneeCount", std::to_string(donees)},
              {"ETagOprType", "0"},
              {"openType", "0"},
              {"parentCatalogID", row.parent},
              {"dirEtag", "0"},
              {"tombstoned", "0"},
              {"proxyID", ""},
              {"moved", 0},
              {"isFixedDir", row.fixed},
              {"isSynced", row.synced},
              {"shareType", shareType},
              {"path", parentPath.empty() ? row.id : parentPath + "/" + row.id},
              {"owner", row.owner}};
}

Json CloudStore::ContentJson(const ContentRow& row, bool lookupShares) {
  std::string shareType = lookupShares ? ShareTypeOf(row.id) : "0";
  int64_t donees =
      lookupShares ? db_.QueryInt("SELECT COUNT(*) FROM shares WHERE item_id = ? AND sharee <> ''", row.id) : 0;
  std::string thumb = Thumbnailable(row.name) ? "/thumb/" + row.id : "0";
  return Json{{"contentID", row.id},
              {"contentName", row.name},
              {"contentSize", std::to_string(row.size)},
              {"contentDesc", ""},
              {"contentType", std::to_string(ContentTypeOf(row.name))},
              {"isShared", shareType == "0" ? "0" : "1"},
              {"thumbnailURL", thumb},
              {"bigthumbnailURL", thumb == "0" ? thumb : thumb + "?edge=640"},
              {"presentURL", ""},
              {"updateTime", row.updateTime},
              {"uploadTime", row.uploadTime},
              {"contentOrigin", "0"},
              {"safestate", "0"},
              {"commentCount", "0"},
              {"shareDoneeCount", std::to_string(donees)},
              {"isFocusContent", "0"},
              {"ETagOprType", "0"},
              {"contentSuffix", Suffix(row.name)},
              {"transferstate", "0"},
              {"openType", "0"},
              {"auditResult", "0"},
              {"channel", ""},
              {"geoLocFlag", "0"},
              {"digest", row.md5},
              {"tombstoned", "0"},
              {"fileVersion", std::to_string(row.version)},
              {"proxyID", ""},
              {"moved", 0},
              {"shareType", shareType},
              {"parentCatalogID", row.parent},
              {"owner", row.owner}};
}

// ---------------------------------------------------------------- listing

Reply CloudStore::List(const std::string& token, const std::string& catalogIdIn, const std::string& start,
                       const std::string& end) {
  AUTH_OR_102(user);
  const std::string catalogId = OwnId(user, catalogIdIn);
  auto cat = LoadCatalog(catalogId);
  if (!cat || CatalogAccess(user, *cat) == Access::kNone) return Reply::Err(codes::kCatalogMissing);
  // Pages come in order: while nothing was written, the next page seeks to
  // the key the last one ended at and the counts are the last page's, so a
  // page costs the same at any depth of a large catalog.
  const int64_t changes = db_.TotalChanges();
  auto cached = cursors_.find(catalogId);
  const ListCursor* cursor =
      cached != cursors_.end() && cached->second.changes == changes ? &cached->second : nullptr;
  const int64_t nCat =
      cursor ? cursor->catalogs : db_.QueryInt("SELECT COUNT(*) FROM catalogs WHERE parent = ?", catalogId);
  const int64_t nCon =
      cursor ? cursor->contents : db_.QueryInt("SELECT COUNT(*) FROM contents WHERE parent = ?", catalogId);
  int64_t total = nCat + nCon;
  int64_t first, last;  // 1-based, inclusive
  if (start == "-1" && end == "-1") {
    first = 1;
    last = total;
  } else {
    auto s = ParseDecimal(start), e = ParseDecimal(end);
    if (!s || !e || *s < 1 || *e < *s) return Reply::Err(codes::kBadRequest);
    first = *s;
    last = std::min(*e, *s + kPageMax - 1);
  }
  const bool resumes = cursor && cursor->next == first;
  std::string parentPath = CatalogPath(catalogId);
  bool shares = db_.QueryInt("SELECT COUNT(*) FROM shares WHERE owner = ?", cat->owner) > 0;
  Json catalogs = Json::array(), contents = Json::array();
  ListCursor next{changes, nCat, nCon, first, false, "", ""};
  // Rows [from, from + count) of one table's children (1-based), after the
  // cursor's key when the page continues from it.
  auto page = [&](const char* table, const char* cols, int64_t from, int64_t count, bool afterKey, auto&& each) {
    Statement st = db_.Prepare(std::string("SELECT ") + cols + " FROM " + table + " WHERE parent = ?" +
                               (afterKey ? " AND (name, id) > (?, ?)" : "") + " ORDER BY name, id LIMIT ?" +
                               (afterKey ? "" : " OFFSET ?"));
    if (afterKey)
      st.BindAll(catalogId, cursor->lastName, cursor->lastId, count);
    else
      st.BindAll(catalogId, count, from - 1);
    while (st.Step()) each(st);
  };
  if (first <= nCat) {
    int64_t count = std::min(last, nCat) - first + 1;
    page("catalogs", kCatalogCols, first, count, resumes && !cursor->inContents, [&](Statement& st) {
      CatalogRow row = ReadCatalog(st);
      next = {changes, nCat, nCon, next.next + 1, false, row.name, row.id};
      catalogs.push_back(CatalogJson(row, parentPath, shares));
    });
  }
  if (last > nCat) {
    int64_t from = std::max(first, nCat + 1) - nCat;  // 1-based among contents
    int64_t count = last - nCat - from + 1;
    if (first <= nCat) next.next = nCat + 1;  // the page ran on past the catalogs
    page("contents", kContentCols, from, count, resumes && cursor->inContents && first > nCat, [&](Statement& st) {
      ContentRow row = ReadContent(st);
      next = {changes, nCat, nCon, next.next + 1, true, row.name, row.id};
      contents.push_back(ContentJson(row, shares));
    });
  }
  if (!next.lastId.empty()) {
    if (cursors_.size() >= kMaxListCursors && cached == cursors_.end()) cursors_.clear();
    cursors_[catalogId] = std::move(next);
  }
  Reply r;
  r.data = {{"catalogID", catalogId},
            {"startNumber", start},
            {"endNumber", end},
            {"totalCount", std::to_string(total)},
            {"catalogList", std::move(catalogs)},
            {"contentList", std::move(contents)}};
  return r;
}

Reply CloudStore::ListAll(const std::string& token, const std::string& catalogIdIn, bool wholeTree) {
  AUTH_OR_102(user);
  const std::string catalogId = OwnId(user, catalogIdIn);
  auto cat = LoadCatalog(catalogId);
  if (!cat || CatalogAccess(user, *cat) == Access::kNone) return Reply::Err(codes::kCatalogMissing);
  Json catalogs = Json::array(), contents = Json::array();
  std::vector<std::string> queue{catalogId};
  for (size_t i = 0; i < queue.size(); ++i) {
    std::string parentPath = CatalogPath(queue[i]);
    Statement a =
        db_.Prepare(std::string("SELECT ") + kCatalogCols + " FROM catalogs WHERE parent = ? ORDER BY name, id");
    a.Bind(1, queue[i]);
    while (a.Step()) {
      CatalogRow row = ReadCatalog(a);
      if (wholeTree) queue.push_back(row.id);
      catalogs.push_back(CatalogJson(row, parentPath));
    }
    Statement b =
        db_.Prepare(std::string("SELECT ") + kContentCols + " FROM contents WHERE parent = ? ORDER BY name, id");
    b.Bind(1, queue[i]);
    while (b.Step()) contents.push_back(ContentJson(ReadContent(b)));
  }
  Reply r;
  r.data = {{"catalogID", catalogId},
            {"totalCount", std::to_string(catalogs.size() + contents.size())},
            {"catalogList", std::move(catalogs)},
            {"contentList", std::move(contents)}};
  return r;
}

Reply CloudStore::GetDiskInfo(const std::string& token) {
  AUTH_OR_102(user);
  int64_t used = UsedBytes(user), quota = Quota(user);
  Reply r;
  r.data = {{"totalSize", std::to_string(quota)},
            {"usedSize", std::to_string(used)},
            {"freeSize", std::to_string(std::max<int64_t>(0, quota - used))}};
  return r;
}

// ---------------------------------------------------------------- changes

Reply CloudStore::Mkdir(const std::string& token, const std::string& parentIdIn, const std::string& name) {
  AUTH_OR_102(user);
  const std::string parentId = OwnId(user, parentIdIn);
  if (int c = CheckName(name, true)) return Reply::Err(c);
  auto parent = LoadCatalog(parentId);
  if (!parent || CatalogAccess(user, *parent) < Access::kWrite) return Reply::Err(codes::kParentMissing);
  if (IsRecycle(parentId)) return Reply::Err(codes::kFixedNoModify);
  if (Depth(parentId) + 1 > kMaxDepth) return Reply::Err(codes::kTooDeep);
  if (NameTaken(parentId, name, "")) return Reply::Err(codes::kNameExists);
  Transaction tx(db_);
  // Items created inside a received share belong to the share's owner.
  std::string id = NewId(parent->owner, true);
  std::string now = TimeTextNow();
  db_.Prepare("INSERT INTO catalogs(id, owner, parent, name, ctype, fixed, create_time, update_time) "
              "VALUES(?,?,?,?,0,0,?,?)")
      .BindAll(id, parent->owner, parentId, name, now, now)
      .Run();
  TouchCatalog(parentId);
  tx.Commit();
  Reply r;
  r.data = {{"catalogID", id},
            {"catalogName", name},
            {"createtime", now},
            {"updatetime", now},
            {"path", CatalogPath(id)}};
  return r;
}

Reply CloudStore::RenameCatalog(const std::string& token, const std::string& catalogId, const std::string& name) {
  AUTH_OR_102(user);
  if (int c = CheckName(name, true)) return Reply::Err(c);
  auto cat = LoadCatalog(catalogId);
  if (!cat || cat->owner != user) return Reply::Err(codes::kCatalogMissing);
  if (cat->fixed) return Reply::Err(codes::kFixedNoModify);
  if (cat->name == name) return Reply{};
  if (NameTaken(cat->parent, name, catalogId)) return Reply::Err(codes::kNameExists);
  Transaction tx(db_);
  std::string now = TimeTextNow();
  db_.Prepare("UPDATE catalogs SET name = ?, update_time = ? WHERE id = ?").BindAll(name, now, catalogId).Run();
  TouchCatalog(cat->parent);
  tx.Commit();
  Reply r;
  r.data = {{"catalogID", catalogId}, {"catalogName", name}, {"updatetime", now}};
  return r;
}

Reply CloudStore::RenameContent(const std::string& token, const std::string& contentId, const std::string& name) {
  AUTH_OR_102(user);
  if (int c = CheckName(name, false)) return Reply::Err(c);
  auto con = LoadContent(contentId);
  if (!con || con->owner != user) return Reply::Err(codes::kContentMissing);
  if (con->name == name) return Reply{};
  if (NameTaken(con->parent, name, contentId)) return Reply::Err(codes::kNameExists);
  Transaction tx(db_);
  std::string now = TimeTextNow();
  db_.Prepare("UPDATE contents SET name = ?, update_time = ? WHERE id = ?").BindAll(name, now, contentId).Run();
  TouchCatalog(con->parent);
  tx.Commit();
  Reply r;
  r.data = {{"contentID", contentId}, {"contentName", name}, {"updateTime", now}};
  return r;
}

Reply CloudStore::DeleteToRecycle(const std::string& token, const std::vector<std::string>& catalogIds,
                                  const std::vector<std::string>& contentIds) {
  AUTH_OR_102(user);
  if (catalogIds.empty() && contentIds.empty()) return Reply::Err(codes::kBadRequest);
  if (catalogIds.size() + contentIds.size() > kMaxItemsPerCall) return Reply::Err(codes::kBadRequest);
  // Everything is checked before anything changes: a refused item refuses the call.
  std::vector<CatalogRow> cats;
  std::vector<ContentRow> cons;
  for (const auto& id : catalogIds) {
    auto c = LoadCatalog(id);
    if (!c || c->owner != user) return Reply::Err(codes::kCatalogMissing);
    if (c->fixed) return Reply::Err(codes::kFixedNoDelete);
    if (IsRecycle(c->parent)) return Reply::Err(codes::kCatalogMissing);
    cats.push_back(*c);
  }
  for (const auto& id : contentIds) {
    auto c = LoadContent(id);
    if (!c || c->owner != user || IsRecycle(c->parent)) return Reply::Err(codes::kContentMissing);
    cons.push_back(*c);
  }
  Transaction tx(db_);
  std::string recycle = RecycleOf(user), now = TimeTextNow();
  std::set<std::string> touched;
  auto moveCat = db_.Prepare("UPDATE catalogs SET parent = ?, orig_parent = ?, update_time = ? WHERE id = ?");
  for (const auto& c : cats) {
    moveCat.BindAll(recycle, c.parent, now, c.id).Run();
    moveCat.Reset();
    touched.insert(c.parent);
  }
  auto moveCon = db_.Prepare("UPDATE contents SET parent = ?, orig_parent = ?, update_time = ? WHERE id = ?");
  for (const auto& c : cons) {
    moveCon.BindAll(recycle, c.parent, now, c.id).Run();
    moveCon.Reset();
    touched.insert(c.parent);
  }
  // Deleted items are no longer shared with anyone.
  auto unshare = db_.Prepare("DELETE FROM shares WHERE item_id = ?");
  for (const auto& id : catalogIds) unshare.BindAll(id).Run(), unshare.Reset();
  for (const auto& id : contentIds) unshare.BindAll(id).Run(), unshare.Reset();
  for (const auto& p : touched) TouchCatalog(p);
  tx.Commit();
  Reply r;
  r.data = {{"recycleCatalogID", recycle}};
  return r;
}

CloudStore::Subtree CloudStore::MeasureSubtree(const std::string& catalogId, int64_t maxEntries) {
  Subtree t;
  std::vector<std::string> level{catalogId};
  // Level by level, so the height is the number of levels below the top.
  while (!level.empty()) {
    std::vector<std::string> next;
    for (const auto& id : level) {
      Statement sum = db_.Prepare("SELECT COUNT(*), COALESCE(SUM(size), 0) FROM contents WHERE parent = ?");
      sum.Bind(1, id);
      if (sum.Step()) {
        t.entries += sum.Int(0);
        t.bytes += sum.Int(1);
      }
      Statement st = db_.Prepare("SELECT id FROM catalogs WHERE parent = ?");
      st.Bind(1, id);
      while (st.Step()) {
        next.push_back(st.Text(0));
        ++t.entries;
      }
      // Past either bound the answer is already "refused"; stop walking.
      if (t.entries > maxEntries) return t;
    }
    if (next.empty()) break;
    if (++t.height > kMaxDepth) return t;
    level = std::move(next);
  }
  return t;
}

int CloudStore::CopyCatalogTree(const std::string& srcId, const std::string& targetParent,
                                const std::string& newOwner) {
  // An explicit stack of (source catalog, parent of its copy): the depth of
  // a tree costs heap, never the thread's stack.
  std::vector<std::pair<std::string, std::string>> pending{{srcId, targetParent}};
  std::string now = TimeTextNow();
  auto insCat = db_.Prepare("INSERT INTO catalogs(id, owner, parent, name, ctype, fixed, create_time, update_time) "
                            "VALUES(?,?,?,?,?,0,?,?)");
  auto insCon = db_.Prepare("INSERT INTO contents(id, owner, parent, name, size, md5, upload_time, update_time) "
                            "VALUES(?,?,?,?,?,?,?,?)");
  while (!pending.empty()) {
    auto [from, parent] = std::move(pending.back());
    pending.pop_back();
    auto src = LoadCatalog(from);
    if (!src) return codes::kCatalogMissing;
    std::string id = NewId(newOwner, true);
    insCat.BindAll(id, newOwner, parent, src->name, src->ctype, now, now).Run();
    insCat.Reset();
    Statement st = db_.Prepare(std::string("SELECT ") + kContentCols + " FROM contents WHERE parent = ?");
    st.Bind(1, from);
    while (st.Step()) {
      ContentRow c = ReadContent(st);
      insCon.BindAll(NewId(newOwner, false), newOwner, id, c.name, c.size, c.md5, now, now).Run();
      insCon.Reset();
    }
    Statement children = db_.Prepare("SELECT id FROM catalogs WHERE parent = ?");
    children.Bind(1, from);
    while (children.Step()) pending.emplace_back(children.Text(0), id);
  }
  return codes::kOk;
}

Reply CloudStore::Copy(const std::string& token, const std::vector<std::string>& catalogIds,
                       const std::vector<std::string>& contentIds, const std::string& targetIdIn) {
  AUTH_OR_102(user);
  const std::string targetId = OwnId(user, targetIdIn);
  if (catalogIds.empty() && contentIds.empty()) return Reply::Err(codes::kBadRequest);
  if (catalogIds.size() + contentIds.size() > kMaxItemsPerCall) return Reply::Err(codes::kTooManyItems);
  auto target = LoadCatalog(targetId);
  if (!target || CatalogAccess(user, *target) < Access::kWrite) return Reply::Err(codes::kCatalogMissing);
  if (IsRecycle(targetId)) return Reply::Err(codes::kFixedNoModify);
  std::set<std::string> names;
  int64_t bytes = 0, entries = 0;
  int targetDepth = Depth(targetId);
  for (const auto& id : catalogIds) {
    auto c = LoadCatalog(id);
    if (!c || CatalogAccess(user, *c) == Access::kNone || IsRecycle(c->parent)) return Reply::Err(codes::kCatalogMissing);
    if (c->fixed) return Reply::Err(codes::kFixedNoMove);
    if (c->parent == targetId) return Reply::Err(codes::kCopyCatalogSameFolder);
    if (IsAncestorOrSelf(id, targetId)) return Reply::Err(codes::kCopyIntoSelf);
    if (NameTaken(targetId, c->name, "") || !names.insert(c->name).second) return Reply::Err(codes::kNameExists);
    Subtree tree = MeasureSubtree(id, kMaxCopyEntries - entries);
    // The copy's deepest catalog lands height levels below the copy itself.
    if (targetDepth + 1 + tree.height > kMaxDepth) return Reply::Err(codes::kTooDeep);
    entries += 1 + tree.entries;
    if (entries > kMaxCopyEntries) return Reply::Err(codes::kTooManyItems);
    bytes += tree.bytes;
  }
  for (const auto& id : contentIds) {
    auto c = LoadContent(id);
    if (!c || ContentAccess(user, *c) == Access::kNone || IsRecycle(c->parent)) return Reply::Err(codes::kContentMissing);
    if (c->parent == targetId) return Reply::Err(codes::kCopySameFolder);
    if (NameTaken(targetId, c->name, "") || !names.insert(c->name).second) return Reply::Err(codes::kNameExists);
    bytes += c->size;
  }
  const std::string& owner = target->owner;
  if (!FitsQuota(owner, bytes)) return Reply::Err(codes::kNoSpace);
  Transaction tx(db_);
  Json newContents = Json::array();
  for (const auto& id : catalogIds)
    if (int c = CopyCatalogTree(id, targetId, owner)) return Reply::Err(c);
  std::string now = TimeTextNow();
  auto ins = db_.Prepare("INSERT INTO contents(id, owner, parent, name, size, md5, upload_time, update_time) "
                         "VALUES(?,?,?,?,?,?,?,?)");
  for (const auto& id : contentIds) {
    auto c = LoadContent(id);
    std::string nid = NewId(owner, false);
    ins.BindAll(nid, owner, targetId, c->name, c->size, c->md5, now, now).Run();
    ins.Reset();
    newContents.push_back(nid);
  }
  TouchCatalog(targetId);
  tx.Commit();
  Reply r;
  r.data = {{"contentIDs", std::move(newContents)}};
  return r;
}

Reply CloudStore::Move(const std::string& token, const std::vector<std::string>& catalogIds,
                       const std::vector<std::string>& contentIds, const std::string& targetIdIn) {
  AUTH_OR_102(user);
  const std::string targetId = OwnId(user, targetIdIn);
  if (catalogIds.empty() && contentIds.empty()) return Reply::Err(codes::kBadRequest);
  if (catalogIds.size() + contentIds.size() > kMaxItemsPerCall) return Reply::Err(codes::kTooManyItems);
  auto target = LoadCatalog(targetId);
  if (!target || target->owner != user) return Reply::Err(codes::kCatalogMissing);
  if (IsRecycle(targetId)) return Reply::Err(codes::kFixedNoModify);
  std::set<std::string> names, touched;
  int targetDepth = Depth(targetId);
  for (const auto& id : catalogIds) {
    auto c = LoadCatalog(id);
    if (!c || c->owner != user || IsRecycle(c->parent)) return Reply::Err(codes::kCatalogMissing);
    if (c->fixed) return Reply::Err(codes::kFixedNoMove);
    if (c->parent == targetId) return Reply::Err(codes::kMoveSameFolder);
    if (IsAncestorOrSelf(id, targetId)) return Reply::Err(codes::kCopyIntoSelf);
    if (NameTaken(targetId, c->name, "") || !names.insert(c->name).second) return Reply::Err(codes::kNameExists);
    // The moved catalog keeps everything below it.
    if (targetDepth + 1 + MeasureSubtree(id, INT64_MAX).height > kMaxDepth) return Reply::Err(codes::kTooDeep);
    touched.insert(c->parent);
  }
  for (const auto& id : contentIds) {
    auto c = LoadContent(id);
    if (!c || c->owner != user || IsRecycle(c->parent)) return Reply::Err(codes::kContentMissing);
    if (c->parent == targetId) return Reply::Err(codes::kMoveSameFolder);
    if (NameTaken(targetId, c->name, "") || !names.insert(c->name).second) return Reply::Err(codes::kNameExists);
    touched.insert(c->parent);
  }
  Transaction tx(db_);
  std::string now = TimeTextNow();
  auto mc = db_.Prepare("UPDATE catalogs SET parent = ?, update_time = ? WHERE id = ?");
  for (const auto& id : catalogIds) mc.BindAll(targetId, now, id).Run(), mc.Reset();
  auto mf = db_.Prepare("UPDATE contents SET parent = ?, update_time = ? WHERE id = ?");
  for (const auto& id : contentIds) mf.BindAll(targetId, now, id).Run(), mf.Reset();
  touched.insert(targetId);
  for (const auto& p : touched) TouchCatalog(p);
  tx.Commit();
  return Reply{};
}

// ---------------------------------------------------------------- upload

Reply CloudStore::UploadRequest(const std::string& token, const std::string& parentIdIn,
                                const std::vector<UploadFile>& files) {
  AUTH_OR_102(user);
  const std::string parentId = OwnId(user, parentIdIn);
  if (files.empty() || files.size() > kMaxItemsPerCall) return Reply::Err(codes::kBadRequest);
  auto parent = LoadCatalog(parentId);
  if (!parent || CatalogAccess(user, *parent) < Access::kWrite) return Reply::Err(codes::kParentMissing);
  if (IsRecycle(parentId)) return Reply::Err(codes::kFixedNoModify);
  const std::string owner = parent->owner;
  std::set<std::string> names;
  int64_t bytes = 0;
  for (const auto& f : files) {
    if (int c = CheckName(f.name, false)) return Reply::Err(c);
    if (f.size < 0 || !IsMd5Hex(f.md5) || !names.insert(f.name).second) return Reply::Err(codes::kBadRequest);
    Statement st = db_.Prepare("SELECT 1 FROM catalogs WHERE parent = ? AND name = ?");
    st.BindAll(parentId, f.name);
    if (st.Step()) return Reply::Err(codes::kNameExists);
    // Declared sizes are the client's: a sum past INT64_MAX is over any quota.
    if (f.size > INT64_MAX - bytes) return Reply::Err(codes::kNoSpace);
    bytes += f.size;
  }
  if (!FitsQuota(owner, bytes)) return Reply::Err(codes::kNoSpace);

  Transaction tx(db_);
  std::string taskId = RandomHex(16), now = TimeTextNow();
  Json entries = Json::array();
  bool anyPending = false;
  for (const auto& f : files) {
    // A file of the same name is replaced and keeps its ID; its old bytes
    // become the previous version.
    std::string replaceId;
    {
      Statement st = db_.Prepare("SELECT id FROM contents WHERE parent = ? AND name = ?");
      st.BindAll(parentId, f.name);
      replaceId = st.Step() ? st.Text(0) : "";
    }
    std::string contentId = replaceId.empty() ? NewId(owner, false) : replaceId;
    // An empty file has nothing to send: its blob is made on the spot.
    bool instant = f.size == 0 && f.md5 == kEmptyMd5 ? !blobs_.Put("").empty() : blobs_.Has(f.md5, f.size);
    db_.Prepare("INSERT INTO upload_tasks VALUES(?,?,?,?,?,?,?,?,?,0)")
        .BindAll(taskId, contentId, user, owner, parentId, f.name, f.size, f.md5, replaceId)
        .Run();
    if (instant) {
      Reply c = CommitUpload(taskId, contentId);
      if (c.code) return c;
    } else {
      anyPending = true;
    }
    entries.push_back(Json{{"contentID", contentId},
                           {"contentName", f.name},
                           {"needUpload", instant ? "0" : "1"},
                           {"isExist", replaceId.empty() ? "0" : "1"},
                           {"uploadURL", "/blob/upload/" + taskId + "/" + contentId}});
  }
  tx.Commit();
  Reply r;
  r.data = {{"uploadTaskID", taskId},
            {"uploadURL", entries[0]["uploadURL"]},
            {"allInstant", anyPending ? "0" : "1"},
            {"files", std::move(entries)}};
  return r;
}

// Called with the mutex held and inside a transaction.
Reply CloudStore::CommitUpload(const std::string& taskId, const std::string& contentId) {
  Statement st = db_.Prepare(
      "SELECT owner, parent, name, size, md5, replace_id, done, uploader FROM upload_tasks "
      "WHERE task_id = ? AND content_id = ?");
  st.BindAll(taskId, contentId);
  if (!st.Step()) return Reply::Err(codes::kTaskMissing);
  if (st.Int(6)) return Reply{};
  std::string owner = st.Text(0), parent = st.Text(1), name = st.Text(2), md5 = st.Text(4), replaceId = st.Text(5),
              uploader = st.Text(7);
  int64_t size = st.Int(3);
  std::string now = TimeTextNow();
  // The bytes may arrive long after the request: a share left, cancelled or
  // declined meanwhile no longer lets the uploader write here.
  if (uploader != owner) {
    auto p = LoadCatalog(parent);
    if (!p || CatalogAccess(uploader, *p) < Access::kWrite) return Reply::Err(codes::kParentMissing);
  }
  auto existing = LoadContent(contentId);
  if (existing && existing->parent == parent && existing->name == name) {
    db_.Prepare("UPDATE contents SET size = ?, md5 = ?, update_time = ?, upload_time = ?, version = version + 1 "
                "WHERE id = ?")
        .BindAll(size, md5, now, now, contentId)
        .Run();
  } else {
    if (!LoadCatalog(parent)) return Reply::Err(codes::kParentMissing);
    // The name may have been taken while the bytes were on their way.
    if (NameTaken(parent, name, existing ? contentId : "")) return Reply::Err(codes::kNameExists);
    std::string id = contentId;
    if (existing) id = NewId(owner, false);  // the replaced file moved away meanwhile
    db_.Prepare("INSERT INTO contents(id, owner, parent, name, size, md5, upload_time, update_time) "
                "VALUES(?,?,?,?,?,?,?,?)")
        .BindAll(id, owner, parent, name, size, md5, now, now)
        .Run();
  }
  db_.Prepare("UPDATE upload_tasks SET done = 1 WHERE task_id = ? AND content_id = ?").BindAll(taskId, contentId).Run();
  TouchCatalog(parent);
  return Reply{};
}

Reply CloudStore::UploadRange(const std::string& taskId, const std::string& contentId, int64_t offset, int64_t total,
                              std::string_view bytes) {
  // Held from the task lookup to the commit, so a task deleted meanwhile
  // cannot get its partial file back. Lock order: this one, then mutex_.
  std::lock_guard fileLock(uploadMutex_);
  std::string md5;
  int64_t size = 0;
  {
    std::lock_guard lock(mutex_);
    Statement st = db_.Prepare("SELECT size, md5, done FROM upload_tasks WHERE task_id = ? AND content_id = ?");
    st.BindAll(taskId, contentId);
    if (!st.Step()) return Reply::Err(codes::kTaskMissing);
    size = st.Int(0);
    md5 = st.Text(1);
    if (st.Int(2)) {
      Reply r;
      r.data = {{"storedBytes", std::to_string(size)}, {"complete", "1"}};
      return r;
    }
  }
  if (total != size || offset < 0 || offset > size || static_cast<int64_t>(bytes.size()) > size - offset)
    return Reply::Err(codes::kBadRequest);
  std::string key = taskId + "_" + contentId;
  int64_t stored = blobs_.PartialSize(key);
  if (offset > stored) {
    Reply r = Reply::Err(codes::kBadRequest);
    r.data = {{"storedBytes", std::to_string(stored)}, {"complete", "0"}};
    return r;
  }
  auto now = blobs_.WriteRange(key, offset, bytes);
  if (!now) return Reply::Err(codes::kSaveFailed);
  Reply r;
  if (*now < size) {
    r.data = {{"storedBytes", std::to_string(*now)}, {"complete", "0"}};
    return r;
  }
  if (!blobs_.Finalize(key, md5)) {
    blobs_.RemovePartial(key);
    r = Reply::Err(codes::kSaveFailed);
    r.data = {{"storedBytes", "0"}, {"complete", "0"}};
    return r;
  }
  std::lock_guard lock(mutex_);
  Transaction tx(db_);
  Reply c = CommitUpload(taskId, contentId);
  if (c.code) return c;
  tx.Commit();
  r.data = {{"storedBytes", std::to_string(size)}, {"complete", "1"}};
  return r;
}

Reply CloudStore::UploadTaskInfo(const std::string& token, const std::string& taskId, const std::string& contentId) {
  AUTH_OR_102(user);
  Statement st = db_.Prepare(
      "SELECT content_id, name, size, done FROM upload_tasks WHERE task_id = ? AND uploader = ? "
      "AND (? = '' OR content_id = ?)");
  st.BindAll(taskId, user, contentId, contentId);
  Json infos = Json::array();
  while (st.Step()) {
    int64_t size = st.Int(2);
    int64_t stored = st.Int(3) ? size : blobs_.PartialSize(taskId + "_" + st.Text(0));
    infos.push_back(Json{{"uploadTaskID", taskId},
                         {"contentID", st.Text(0)},
                         {"contentName", st.Text(1)},
                         {"totalSize", std::to_string(size)},
                         {"uploadedSize", std::to_string(stored)},
                         {"complete", st.Int(3) ? "1" : "0"}});
  }
  if (infos.empty()) return Reply::Err(codes::kTaskMissing);
  Reply r;
  r.data = {{"taskInfoList", std::move(infos)}};
  return r;
}

Reply CloudStore::DeleteUploadTask(const std::string& token, const std::string& taskId) {
  // Taken before AUTH_OR_102 takes mutex_: the one lock order of the store.
  std::lock_guard fileLock(uploadMutex_);
  AUTH_OR_102(user);
  std::vector<std::string> ids;
  {
    Statement st = db_.Prepare("SELECT content_id FROM upload_tasks WHERE task_id = ? AND uploader = ?");
    st.BindAll(taskId, user);
    while (st.Step()) ids.push_back(st.Text(0));
  }
  if (ids.empty()) return Reply::Err(codes::kTaskMissing);
  for (const auto& id : ids) blobs_.RemovePartial(taskId + "_" + id);
  db_.Prepare("DELETE FROM upload_tasks WHERE task_id = ?").BindAll(taskId).Run();
  return Reply{};
}

// ---------------------------------------------------------------- download

Reply CloudStore::DownloadRequest(const std::string& token, const std::string& contentId) {
  AUTH_OR_102(user);
  auto c = LoadContent(contentId);
  if (!c || ContentAccess(user, *c) == Access::kNone) return Reply::Err(codes::kContentMissing);
  if (!blobs_.Has(c->md5, c->size)) return Reply::Err(codes::kContentMissing);
  std::string ticket = RandomHex(16);
  db_.Prepare("DELETE FROM tickets WHERE expires <= ?").BindAll(Now()).Run();
  db_.Prepare("INSERT INTO tickets VALUES(?,?,?,?)").BindAll(ticket, user, contentId, Now() + options_.tokenTtlSeconds).Run();
  Reply r;
  r.data = {{"downloadURL", "/blob/download/" + ticket},
            {"contentID", contentId},
            {"contentName", c->name},
            {"contentSize", std::to_string(c->size)},
            {"digest", c->md5}};
  return r;
}

std::optional<BlobRef> CloudStore::ResolveDownload(const std::string& ticket) {
  std::lock_guard lock(mutex_);
  Statement st = db_.Prepare("SELECT content_id, expires FROM tickets WHERE ticket = ?");
  st.Bind(1, ticket);
  if (!st.Step() || st.Int(1) <= Now()) return std::nullopt;
  auto c = LoadContent(st.Text(0));
  if (!c || !blobs_.Has(c->md5, c->size)) return std::nullopt;
  return BlobRef{blobs_.BlobPath(c->md5), c->size, c->name};
}

Reply CloudStore::Thumbnail(const std::string& token, const std::string& contentId, int edge,
                            std::filesystem::path* out) {
  std::string md5;
  {
    AUTH_OR_102(user);
    auto c = LoadContent(contentId);
    if (!c || ContentAccess(user, *c) == Access::kNone) return Reply::Err(codes::kContentMissing);
    if (!Thumbnailable(c->name)) return Reply::Err(codes::kContentMissing);
    md5 = c->md5;
  }
  edge = std::clamp(edge, 16, 1024);
  std::filesystem::path thumb = blobs_.ThumbPath(md5, edge);
  if (!std::filesystem::exists(thumb) && !MakeThumbnail(blobs_.BlobPath(md5), thumb, edge))
    return Reply::Err(codes::kSaveFailed);
  *out = thumb;
  return Reply{};
}

// ---------------------------------------------------------------- shares

Reply CloudStore::ShareItems(const std::string& token, const std::vector<std::string>& catalogIds,
                             const std::vector<std::string>& contentIds, const std::vector<std::string>& accounts) {
  AUTH_OR_102(user);
  if ((catalogIds.empty() && contentIds.empty()) || accounts.empty()) return Reply::Err(codes::kBadRequest);
  // Items times accounts rows are written under the store lock: both bounded.
  if (catalogIds.size() + contentIds.size() > kMaxItemsPerCall || accounts.size() > kMaxItemsPerCall)
    return Reply::Err(codes::kTooManyItems);
  for (const auto& id : catalogIds) {
    auto c = LoadCatalog(id);
    if (!c || c->owner != user || IsRecycle(c->parent)) return Reply::Err(codes::kCatalogMissing);
    if (c->fixed) return Reply::Err(codes::kFixedNoModify);
  }
  for (const auto& id : contentIds) {
    auto c = LoadContent(id);
    if (!c || c->owner != user || IsRecycle(c->parent)) return Reply::Err(codes::kContentMissing);
  }
  std::set<std::string> sharees;
  for (const auto& a : accounts) {
    auto uid = db_.QueryText("SELECT user_id FROM accounts WHERE account = ?", a);
    if (!uid || *uid == user) return Reply::Err(codes::kAccountBad);
    sharees.insert(*uid);
  }
  Transaction tx(db_);
  auto ins = db_.Prepare("INSERT OR IGNORE INTO shares(owner, item_id, is_catalog, sharee, link_code, state, created) "
                         "VALUES(?,?,?,?,'',0,?)");
  std::string now = TimeTextNow();
  for (const auto& s : sharees) {
    for (const auto& id : catalogIds) ins.BindAll(user, id, 1, s, now).Run(), ins.Reset();
    for (const auto& id : contentIds) ins.BindAll(user, id, 0, s, now).Run(), ins.Reset();
  }
  tx.Commit();
  return Reply{};
}

Reply CloudStore::CreateLinkShare(const std::string& token, const std::string& itemId) {
  AUTH_OR_102(user);
  auto cat = LoadCatalog(itemId);
  auto con = cat ? std::nullopt : LoadContent(itemId);
  bool own = cat ? (cat->owner == user && !cat->fixed && !IsRecycle(cat->parent))
                 : (con && con->owner == user && !IsRecycle(con->parent));
  if (!own) return Reply::Err(cat ? codes::kCatalogMissing : codes::kContentMissing);
  auto existing =
      db_.QueryText("SELECT link_code FROM shares WHERE item_id = ? AND sharee = '' AND link_code <> ''", itemId);
  std::string code = existing.value_or(RandomHex(6));
  if (!existing)
    db_.Prepare("INSERT INTO shares(owner, item_id, is_catalog, sharee, link_code, state, created) "
                "VALUES(?,?,?,'',?,1,?)")
        .BindAll(user, itemId, cat ? 1 : 0, code, TimeTextNow())
        .Run();
  Reply r;
  r.data = {{"linkCode", code}, {"itemID", itemId}};
  return r;
}

Reply CloudStore::OpenLinkShare(const std::string& token, const std::string& linkCode) {
  AUTH_OR_102(user);
  Statement st = db_.Prepare(
      "SELECT owner, item_id, is_catalog FROM shares WHERE link_code = ? AND sharee = '' AND link_code <> ''");
  st.Bind(1, linkCode);
  if (!st.Step()) return Reply::Err(codes::kLinkMissing);
  std::string owner = st.Text(0), item = st.Text(1);
  int isCatalog = static_cast<int>(st.Int(2));
  // The received row keeps the code it came through: a link gives reading only.
  if (owner != user)
    db_.Prepare("INSERT OR IGNORE INTO shares(owner, item_id, is_catalog, sharee, link_code, state, created) "
                "VALUES(?,?,?,?,?,1,?)")
        .BindAll(owner, item, isCatalog, user, linkCode, TimeTextNow())
        .Run();
  Reply r;
  r.data = {{"itemID", item}, {"isCatalog", isCatalog ? "1" : "0"}};
  return r;
}

Reply CloudStore::GetShareList(const std::string& token, const std::string& kind, const std::string& start,
                               const std::string& end) {
  AUTH_OR_102(user);
  if (kind != "1" && kind != "2") return Reply::Err(codes::kBadRequest);
  auto s = ParseDecimal(start), e = ParseDecimal(end);
  int64_t first = 1, last = INT64_MAX;
  if (!(start == "-1" && end == "-1")) {
    if (!s || !e || *s < 1 || *e < *s) return Reply::Err(codes::kBadRequest);
    first = *s;
    last = std::min(*e, *s + kPageMax - 1);
  }
  std::string where = kind == "1" ? "s.sharee = ?" : "s.owner = ?";
  int64_t total = db_.QueryInt("SELECT COUNT(*) FROM shares s WHERE " + where, user);
  Statement st = db_.Prepare(
      "SELECT s.share_id, s.owner, a.account, a.display_name, s.item_id, s.is_catalog, s.state, s.link_code, "
      "COALESCE(b.account, '') FROM shares s JOIN accounts a ON a.user_id = s.owner "
      "LEFT JOIN accounts b ON b.user_id = s.sharee WHERE " +
      where + " ORDER BY s.share_id LIMIT ? OFFSET ?");
  st.BindAll(user, last - first + 1, first - 1);
  Json list = Json::array();
  while (st.Step()) {
    Json entry{{"shareID", std::to_string(st.Int(0))},
               {"sharerID", st.Text(1)},
               {"sharerAccount", st.Text(2)},
               {"sharerName", st.Text(3)},
               {"shareeAccount", st.Text(8)},
               {"shareState", std::to_string(st.Int(6))},
               {"linkCode", st.Text(7)},
               {"catalogInfo", Json::object()},
               {"contentInfo", Json::object()}};
    std::string item = st.Text(4);
    if (st.Int(5)) {
      if (auto c = LoadCatalog(item)) entry["catalogInfo"] = CatalogJson(*c, CatalogPath(c->parent));
    } else if (auto c = LoadContent(item)) {
      entry["contentInfo"] = ContentJson(*c);
    }
    list.push_back(std::move(entry));
  }
  Reply r;
  r.data = {{"totalCount", std::to_string(total)}, {"shareList", std::move(list)}};
  return r;
}

Reply CloudStore::CancelShare(const std::string& token, const std::string& itemId) {
  AUTH_OR_102(user);
  int n = db_.Prepare("DELETE FROM shares WHERE owner = ? AND item_id = ?").BindAll(user, itemId).Run();
  return n ? Reply{} : Reply::Err(codes::kShareMissing);
}

Reply CloudStore::LeaveShare(const std::string& token, const std::vector<std::string>& itemIds) {
  AUTH_OR_102(user);
  if (itemIds.empty()) return Reply::Err(codes::kBadRequest);
  Transaction tx(db_);
  auto del = db_.Prepare("DELETE FROM shares WHERE sharee = ? AND item_id = ?");
  for (const auto& id : itemIds) {
    if (del.BindAll(user, id).Run() == 0) return Reply::Err(codes::kShareMissing);
    del.Reset();
  }
  tx.Commit();
  return Reply{};
}

Reply CloudStore::ReplyShare(const std::string& token, const std::vector<std::string>& itemIds, bool accept) {
  AUTH_OR_102(user);
  if (itemIds.empty()) return Reply::Err(codes::kBadRequest);
  Transaction tx(db_);
  auto upd = db_.Prepare(accept ? "UPDATE shares SET state = 1 WHERE sharee = ? AND item_id = ?"
                                : "DELETE FROM shares WHERE sharee = ? AND item_id = ?");
  for (const auto& id : itemIds) {
    if (upd.BindAll(user, id).Run() == 0) return Reply::Err(codes::kShareMissing);
    upd.Reset();
  }
  tx.Commit();
  return Reply{};
}

Reply CloudStore::ItemGetList(const std::string& token) {
  AUTH_OR_102(user);
  Statement st = db_.Prepare(
      "SELECT DISTINCT a.account, a.display_name FROM shares s JOIN accounts a ON a.user_id = s.owner "
      "WHERE s.sharee = ? ORDER BY a.account");
  st.Bind(1, user);
  Json items = Json::array();
  while (st.Step()) items.push_back(Json{{"name", st.Text(1)}, {"accountList", Json::array({st.Text(0)})}});
  Reply r;
  r.data = {{"itemList", std::move(items)}};
  return r;
}

Reply CloudStore::RecordEvent(const std::string& token, const std::string& kind, const std::string& body) {
  AUTH_OR_102(user);
  if (kind.empty() || kind.size() > 64) return Reply::Err(codes::kBadRequest);
  db_.Prepare("INSERT INTO events(user_id, kind, body, created) VALUES(?,?,?,?)")
      .BindAll(user, kind, body, TimeTextNow())
      .Run();
  return Reply{};
}

void CloudStore::SaveRows(Database& to) {
  std::lock_guard lock(mutex_);
  Database::Copy(db_, to);
}

void CloudStore::LoadRows(Database& from) {
  std::lock_guard fileLock(uploadMutex_);
  std::lock_guard lock(mutex_);
  Database::Copy(from, db_);
  cursors_.clear();  // a copy does not count as changes
}

Reply CloudStore::CreateBenchFolder(const std::string& account, const std::string& name, int64_t count) {
  std::lock_guard lock(mutex_);
  auto user = db_.QueryText("SELECT user_id FROM accounts WHERE account = ?", account);
  if (!user) return Reply::Err(codes::kAccountBad);
  if (int c = CheckName(name, true)) return Reply::Err(c);
  std::string root = RootOf(*user);
  if (NameTaken(root, name, "")) return Reply::Err(codes::kNameExists);
  std::string md5 = blobs_.Put("bench\n");
  Transaction tx(db_);
  std::string now = TimeTextNow();
  std::string folder = NewId(*user, true);
  db_.Prepare("INSERT INTO catalogs(id, owner, parent, name, ctype, fixed, create_time, update_time) "
              "VALUES(?,?,?,?,0,0,?,?)")
      .BindAll(folder, *user, root, name, now, now)
      .Run();
  // One sequence reservation for the whole batch keeps this a single pass.
  db_.Exec("INSERT OR IGNORE INTO meta VALUES('seq', 1000)");
  int64_t base = db_.QueryInt("SELECT value FROM meta WHERE key = ?", "seq");
  db_.Prepare("UPDATE meta SET value = value + ? WHERE key = 'seq'").BindAll(count).Run();
  auto ins = db_.Prepare("INSERT INTO contents(id, owner, parent, name, size, md5, upload_time, update_time) "
                         "VALUES(?,?,?,?,6,?,?,?)");
  char idbuf[64], namebuf[64];
  for (int64_t i = 1; i <= count; ++i) {
    std::snprintf(idbuf, sizeof idbuf, "001%s%09lld", now.substr(0, 8).c_str(),
                  static_cast<long long>((base + i) % 1000000000));
    std::snprintf(namebuf, sizeof namebuf, "file_%06lld.txt", static_cast<long long>(i));
    ins.BindAll(*user + idbuf, *user, folder, namebuf, md5, now, now).Run();
    ins.Reset();
  }
  tx.Commit();
  Reply r;
  r.data = {{"catalogID", folder}, {"count", std::to_string(count)}};
  return r;
}

}  // namespace cloudserver
