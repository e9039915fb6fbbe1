#include "wire.h"

#include "platform/text.h"

namespace corbel::wire {

namespace {
// IDs, numbers and times are ASCII, the same bytes in every code page; only
// names need the round trip through UTF-16.
bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}
}  // namespace

std::string ToUtf8(const std::string& ansi) {
  return IsAscii(ansi) ? ansi : platform::WideToUtf8(platform::AnsiToWide(ansi));
}
std::string ToAnsi(const std::string& utf8) {
  return IsAscii(utf8) ? utf8 : platform::WideToAnsi(platform::Utf8ToWide(utf8));
}

std::string Text(const Json& object, const char* key) {
  if (!object.is_object()) return {};
  auto it = object.find(key);
  if (it == object.end()) return {};
  if (it->is_string()) return ToAnsi(it->get_ref<const std::string&>());
  // Unsigned first: every integer counts as one, and sizes past 2^63 would
  // come out negative.
  if (it->is_number_unsigned()) return std::to_string(it->get<std::uint64_t>());
  if (it->is_number_integer()) return std::to_string(it->get<std::int64_t>());
  return {};
}

std::int32_t Int(const Json& object, const char* key) {
  if (!object.is_object()) return 0;
  auto it = object.find(key);
  if (it == object.end()) return 0;
  if (it->is_number_integer()) return static_cast<std::int32_t>(it->get<std::int64_t>());
  if (it->is_string()) {
    const std::string& s = it->get_ref<const std::string&>();
    if (!s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos) return std::stoi(s);
  }
  return 0;
}

Json TextList(const std::vector<std::string>& ansi) {
  Json out = Json::array();
  for (const auto& s : ansi) out.push_back(ToUtf8(s));
  return out;
}

CatalogInfo Catalog(const Json& j) {
  CatalogInfo c;
  c.catalogName = Text(j, "catalogName");
  c.catalogID = Text(j, "catalogID");
  c.catalogType = Text(j, "catalogType");
  c.isShared = Text(j, "isShared");
  c.createtime = Text(j, "createtime");
  c.updatetime = Text(j, "updatetime");
  c.catalogLevel = Text(j, "catalogLevel");
  c.shareDoneeCount = Text(j, "shareDoneeCount");
  c.ETagOprType = Text(j, "ETagOprType");
  c.openType = Text(j, "openType");
  c.parentCatalogID = Text(j, "parentCatalogID");
  c.dirEtag = Text(j, "dirEtag");
  c.tombstoned = Text(j, "tombstoned");
  c.proxyID = Text(j, "proxyID");
  c.moved = Int(j, "moved");
  c.isFixedDir = Int(j, "isFixedDir");
  c.isSynced = Int(j, "isSynced");
  c.path = Text(j, "path");
  c.shareType = Text(j, "shareType");
  return c;
}

ContentInfo Content(const Json& j) {
  ContentInfo c;
  c.contentID = Text(j, "contentID");
  c.contentName = Text(j, "contentName");
  c.contentSize = Text(j, "contentSize");
  c.contentDesc = Text(j, "contentDesc");
  c.contentType = Text(j, "contentType");
  c.isShared = Text(j, "isShared");
  c.thumbnailURL = Text(j, "thumbnailURL");
  c.updateTime = Text(j, "updateTime");
  c.contentOrigin = Text(j, "contentOrigin");
  c.safestate = Text(j, "safestate");
  c.bigthumbnailURL = Text(j, "bigthumbnailURL");
  c.presentURL = Text(j, "presentURL");
  c.presentLURL = Text(j, "presentLURL");
  c.presentHURL = Text(j, "presentHURL");
  c.contentTAGList = Text(j, "contentTAGList");
  c.commentCount = Text(j, "commentCount");
  c.uploadTime = Text(j, "uploadTime");
  c.updateShareTime = Text(j, "updateShareTime");
  c.shareDoneeCount = Text(j, "shareDoneeCount");
  c.isFocusContent = Text(j, "isFocusContent");
  c.ETagOprType = Text(j, "ETagOprType");
  c.contentSuffix = Text(j, "contentSuffix");
  c.transferstate = Text(j, "transferstate");
  c.openType = Text(j, "openType");
  c.auditResult = Text(j, "auditResult");
  c.channel = Text(j, "channel");
  c.geoLocFlag = Text(j, "geoLocFlag");
  c.digest = Text(j, "digest");
  c.version = Text(j, "version");
  c.fileEtag = Text(j, "fileEtag");
  c.midthumbnailURL = Text(j, "midthumbnailURL");
  c.tombstoned = Text(j, "tombstoned");
  c.fileVersion = Text(j, "fileVersion");
  c.proxyID = Text(j, "proxyID");
  c.moved = Int(j, "moved");
  c.shareType = Text(j, "shareType");
  return c;
}

ShareEntry Share(const Json& j) {
  ShareEntry e;
  if (!j.is_object()) return e;
  if (auto it = j.find("catalogInfo"); it != j.end() && it->is_object()) e.catalog = Catalog(*it);
  if (auto it = j.find("contentInfo"); it != j.end() && it->is_object()) e.content = Content(*it);
  e.header.SharerID = Text(j, "sharerID");
  e.header.sharerName = Text(j, "sharerName");
  e.header.shareKind = e.HasCatalog() ? "5" : "1";
  ShareUser user;
  user.account = Text(j, "sharerAccount");
  user.name = e.header.sharerName;
  user.kind = e.HasCatalog() ? "1" : "2";
  e.header.sharers.push_back(std::move(user));
  return e;
}

std::string LastPathPart(const std::string& path) {
  auto slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace corbel::wire
