#include "api.h"

#include <functional>
#include <map>

#include "util.h"

namespace cloudserver {
namespace {

struct BadField {};

std::string Str(const Json& j, const char* key, bool required = true) {
  auto it = j.find(key);
  if (it == j.end()) {
    if (required) throw BadField{};
    return {};
  }
  if (!it->is_string()) throw BadField{};
  return it->get<std::string>();
}

std::vector<std::string> StrList(const Json& j, const char* key) {
  std::vector<std::string> out;
  auto it = j.find(key);
  if (it == j.end()) return out;
  if (!it->is_array()) throw BadField{};
  for (const auto& v : *it) {
    if (!v.is_string()) throw BadField{};
    out.push_back(v.get<std::string>());
  }
  return out;
}

std::vector<UploadFile> Files(const Json& j) {
  auto it = j.find("files");
  if (it == j.end() || !it->is_array()) throw BadField{};
  std::vector<UploadFile> files;
  for (const auto& f : *it) {
    if (!f.is_object()) throw BadField{};
    auto size = ParseDecimal(Str(f, "size"));
    if (!size) throw BadField{};
    files.push_back(UploadFile{Str(f, "name"), *size, Str(f, "md5")});
  }
  return files;
}

using Handler = std::function<Reply(CloudStore&, const Json&)>;

const std::map<std::string, Handler>& Handlers() {
  static const std::map<std::string, Handler> handlers = {
      {"signIn", [](CloudStore& s, const Json& j) { return s.SignIn(Str(j, "account"), Str(j, "password")); }},
      {"getTokenByDomain",
       [](CloudStore& s, const Json& j) { return s.GetTokenByDomain(Str(j, "token"), Str(j, "domain")); }},
      {"ls",
       [](CloudStore& s, const Json& j) {
         return s.List(Str(j, "token"), Str(j, "catalogID"), Str(j, "startNumber"), Str(j, "endNumber"));
       }},
      {"SyncLsAll",
       [](CloudStore& s, const Json& j) {
         return s.ListAll(Str(j, "token"), Str(j, "catalogID"), Str(j, "wholeTree", false) == "1");
       }},
      {"getDiskInfo", [](CloudStore& s, const Json& j) { return s.GetDiskInfo(Str(j, "token")); }},
      {"SyncMkdir",
       [](CloudStore& s, const Json& j) {
         return s.Mkdir(Str(j, "token"), Str(j, "parentCatalogID"), Str(j, "catalogName"));
       }},
      {"updateCatalogInfo",
       [](CloudStore& s, const Json& j) {
         return s.RenameCatalog(Str(j, "token"), Str(j, "catalogID"), Str(j, "catalogName"));
       }},
      {"updateFile",
       [](CloudStore& s, const Json& j) {
         return s.RenameContent(Str(j, "token"), Str(j, "contentID"), Str(j, "contentName"));
       }},
      {"SyncMgtVirDirInfo",
       [](CloudStore& s, const Json& j) {
         // Only "move to the recycle bin" exists.
         if (Str(j, "oprType") != "2") return Reply::Err(codes::kBadRequest);
         return s.DeleteToRecycle(Str(j, "token"), StrList(j, "catalogIDs"), StrList(j, "contentIDs"));
       }},
      {"SyncCopy",
       [](CloudStore& s, const Json& j) {
         return s.Copy(Str(j, "token"), StrList(j, "catalogIDs"), StrList(j, "contentIDs"),
                       Str(j, "targetCatalogID"));
       }},
      {"SyncMove",
       [](CloudStore& s, const Json& j) {
         return s.Move(Str(j, "token"), StrList(j, "catalogIDs"), StrList(j, "contentIDs"),
                       Str(j, "targetCatalogID"));
       }},
      {"SyncUploadFileRequest",
       [](CloudStore& s, const Json& j) {
         return s.UploadRequest(Str(j, "token"), Str(j, "parentCatalogID"), Files(j));
       }},
      {"getUploadTaskInfoN",
       [](CloudStore& s, const Json& j) {
         return s.UploadTaskInfo(Str(j, "token"), Str(j, "uploadTaskID"), Str(j, "contentID", false));
       }},
      {"SyncDelUploadTask",
       [](CloudStore& s, const Json& j) { return s.DeleteUploadTask(Str(j, "token"), Str(j, "uploadTaskID")); }},
      {"pcDownloadFileRequest",
       [](CloudStore& s, const Json& j) { return s.DownloadRequest(Str(j, "token"), Str(j, "contentID")); }},
      {"shareItems",
       [](CloudStore& s, const Json& j) {
         return s.ShareItems(Str(j, "token"), StrList(j, "catalogIDs"), StrList(j, "contentIDs"),
                             StrList(j, "accounts"));
       }},
      {"createLinkShare",
       [](CloudStore& s, const Json& j) { return s.CreateLinkShare(Str(j, "token"), Str(j, "itemID")); }},
      {"openLinkShare",
       [](CloudStore& s, const Json& j) { return s.OpenLinkShare(Str(j, "token"), Str(j, "linkCode")); }},
      {"GetShareList",
       [](CloudStore& s, const Json& j) {
         return s.GetShareList(Str(j, "token"), Str(j, "shareKind"), Str(j, "startNumber"), Str(j, "endNumber"));
       }},
      {"CancelShare", [](CloudStore& s, const Json& j) { return s.CancelShare(Str(j, "token"), Str(j, "itemID")); }},
      {"LeaveShare",
       [](CloudStore& s, const Json& j) {
         auto ids = StrList(j, "catalogIDs");
         auto more = StrList(j, "contentIDs");
         ids.insert(ids.end(), more.begin(), more.end());
         return s.LeaveShare(Str(j, "token"), ids);
       }},
      {"ReplyShare",
       [](CloudStore& s, const Json& j) {
         auto ids = StrList(j, "catalogIDs");
         auto more = StrList(j, "contentIDs");
         ids.insert(ids.end(), more.begin(), more.end());
         std::string accept = Str(j, "accept");
         if (accept != "0" && accept != "1") return Reply::Err(codes::kBadRequest);
         return s.ReplyShare(Str(j, "token"), ids, accept == "1");
       }},
      {"itemGetList", [](CloudStore& s, const Json& j) { return s.ItemGetList(Str(j, "token")); }},
      {"NewEvent",
       [](CloudStore& s, const Json& j) {
         auto it = j.find("event");
         if (it == j.end()) return Reply::Err(codes::kBadRequest);
         return s.RecordEvent(Str(j, "token"), "event", it->dump());
       }},
      {"RecordOprLogExAndXML",
       [](CloudStore& s, const Json& j) {
         auto it = j.find("record");
         if (it == j.end()) return Reply::Err(codes::kBadRequest);
         return s.RecordEvent(Str(j, "token"), "oprlog", it->dump());
       }},
  };
  return handlers;
}

}  // namespace

Json Api::Call(const std::string& name, const Json& request, bool* known) {
  const auto& handlers = Handlers();
  auto it = handlers.find(name);
  *known = it != handlers.end();
  if (!*known || !request.is_object()) return Json{{"code", codes::kBadRequest}, {"message", "bad request"}};
  Reply reply;
  try {
    // The token before any other field is read: a caller without one gets
    // no work done on its behalf.
    if (name != "signIn") {
      auto token = request.find("token");
      if (token == request.end() || !token->is_string())
        return Json{{"code", codes::kBadRequest}, {"message", "missing or mistyped field"}};
      if (!store_.UserForToken(token->get<std::string>())) return Json{{"code", codes::kTokenInvalid}};
    }
    reply = it->second(store_, request);
  } catch (const BadField&) {
    return Json{{"code", codes::kBadRequest}, {"message", "missing or mistyped field"}};
  } catch (const std::exception&) {
    return Json{{"code", codes::kServerError}, {"message", "internal error"}};
  }
  Json out = reply.data.is_object() ? reply.data : Json::object();
  out["code"] = reply.code;
  return out;
}

}  // namespace cloudserver
