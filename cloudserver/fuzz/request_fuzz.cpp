// Request handling of the service: each input is up to four HTTP requests,
// run one after another through the router against a real store whose
// blobs live in a temporary folder. The store is seeded once per process and
// its rows are restored before every input, so each input starts from the
// same state and a finding replays alone.
//
// Input: requests separated by a line "~~~". Each request is a line
// "METHOD /path[?query]", header lines "Name: value", an empty line, then the
// body. Placeholders stand for what an input cannot guess:
//   {A} {B}    alice's and bob's tokens       {AR} {BR}  their roots
//   {DOCS}     a catalog of alice's          {TXT} {PNG} contents of alice's
//   {U} {D} {L} {K} {C} {T}  upload URL, download URL, link code, catalog,
//              content and upload task: seeded, then the last one answered.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cloud_store.h"
#include "router.h"
#include "seed.h"
#include "util.h"

namespace {

namespace fs = std::filesystem;
using cloudserver::Json;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Seeded once per process; every input starts from its rows.
struct World {
  fs::path root;  // the folder the data folder lives in: nothing else may appear here
  fs::path data;
  std::unique_ptr<cloudserver::CloudStore> store;
  std::unique_ptr<cloudserver::Database> snapshot;
  std::unique_ptr<cloudserver::Router> router;
  std::map<std::string, std::string> seeded;  // placeholder -> value
  std::set<fs::path> baseBlobs;

  World() {
    // Memory-backed when the machine has it: uploads sync every range they store.
    std::string pattern = fs::is_directory("/dev/shm") ? "/dev/shm/fuzz-cloudserver-XXXXXX"
                                                       : "/tmp/fuzz-cloudserver-XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr);
    root = pattern;
    data = root / "data";
    cloudserver::CloudStore::Options o;
    o.dataDir = data;
    o.databaseFile = ":memory:";
    o.clock = [] { return int64_t{1700000000}; };
    store = std::make_unique<cloudserver::CloudStore>(o);
    std::ostringstream log;
    cloudserver::Seed(*store, 0, log);

    auto& s = *store;
    Json a = s.SignIn("alice", "alice-pass").data, b = s.SignIn("bob", "bob-pass").data;
    std::string at = a["token"], bt = b["token"], aroot = a["rootCatalogID"];
    seeded["{A}"] = at;
    seeded["{B}"] = bt;
    seeded["{AR}"] = aroot;
    seeded["{BR}"] = b["rootCatalogID"];
    Json all = s.ListAll(at, aroot, true).data;
    for (auto& c : all["catalogList"])
      if (c["catalogName"] == "我的文档") seeded["{DOCS}"] = c["catalogID"];
    for (auto& c : all["contentList"]) {
      if (c["contentName"] == "readme.txt") seeded["{TXT}"] = c["contentID"];
      if (c["contentName"] == "日出.png") seeded["{PNG}"] = c["contentID"];
    }
    seeded["{K}"] = seeded["{DOCS}"];
    seeded["{C}"] = seeded["{TXT}"];
    Json up = s.UploadRequest(at, aroot, {{"pending.bin", 300, std::string(32, 'e')}}).data;
    seeded["{U}"] = up["uploadURL"];
    seeded["{T}"] = up["uploadTaskID"];
    seeded["{D}"] = s.DownloadRequest(at, seeded["{TXT}"]).data["downloadURL"];
    seeded["{L}"] = s.CreateLinkShare(at, seeded["{DOCS}"]).data["linkCode"];
    for (const auto& [key, value] : seeded) Require(!value.empty());

    snapshot = std::make_unique<cloudserver::Database>(":memory:");
    s.SaveRows(*snapshot);
    baseBlobs = FilesUnder(data / "blobs");
    // Small limits, so inputs of a few kilobytes reach the size refusals.
    cloudserver::RequestLimits limits;
    limits.maxJsonBody = 2048;
    limits.maxPutBody = 1024;
    router = std::make_unique<cloudserver::Router>(s, limits);
  }

  ~World() {
    router.reset();
    store.reset();
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  static std::set<fs::path> FilesUnder(const fs::path& dir) {
    std::set<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
      if (e.is_regular_file()) out.insert(e.path());
    return out;
  }

  // Rows from the snapshot; files the last input added are removed.
  void Reset(bool uploads, bool thumbs) {
    store->LoadRows(*snapshot);
    std::error_code ec;
    if (uploads) {
      for (const auto& e : fs::directory_iterator(data / "partial")) fs::remove(e.path(), ec);
      for (const auto& f : FilesUnder(data / "blobs"))
        if (!baseBlobs.count(f)) fs::remove(f, ec);
    }
    if (thumbs)
      for (const auto& e : fs::directory_iterator(data / "thumbs")) fs::remove(e.path(), ec);
  }

  // Nothing but the data folder next to it, nothing but the store's folders in it.
  void CheckNothingEscaped() const {
    for (const auto& e : fs::directory_iterator(root)) Require(e.path() == data);
    for (const auto& e : fs::directory_iterator(data)) {
      auto name = e.path().filename();
      Require(name == "blobs" || name == "partial" || name == "thumbs");
    }
  }
};

World& TheWorld() {
  static World world;
  return world;
}

std::string Substitute(std::string text, const std::map<std::string, std::string>& values) {
  for (size_t at = text.find('{'); at != std::string::npos; at = text.find('{', at + 1)) {
    auto close = text.find('}', at);
    if (close == std::string::npos || close - at > 6) continue;
    auto it = values.find(text.substr(at, close - at + 1));
    if (it == values.end()) continue;
    text.replace(at, close - at + 1, it->second);
    at += it->second.size() - 1;
  }
  return text;
}

cloudserver::HttpRequest ParseRequest(std::string_view text) {
  cloudserver::HttpRequest r;
  auto line = [&]() {
    auto nl = text.find('\n');
    std::string_view l = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    return l;
  };
  std::string_view first = line();
  auto space = first.find(' ');
  r.method = std::string(first.substr(0, space));
  std::string_view target = space == std::string_view::npos ? std::string_view() : first.substr(space + 1);
  auto q = target.find('?');
  r.path = std::string(target.substr(0, q));
  if (q != std::string_view::npos) {
    std::string_view query = target.substr(q + 1);
    while (!query.empty()) {
      auto amp = query.find('&');
      std::string_view pair = query.substr(0, amp);
      auto eq = pair.find('=');
      r.query.emplace(std::string(pair.substr(0, eq)),
                      eq == std::string_view::npos ? std::string() : std::string(pair.substr(eq + 1)));
      query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
  }
  while (!text.empty()) {
    std::string_view h = line();
    if (h.empty()) break;
    auto colon = h.find(": ");
    if (colon != std::string_view::npos)
      r.headers.emplace(std::string(h.substr(0, colon)), std::string(h.substr(colon + 2)));
  }
  r.body = std::string(text);
  return r;
}

// The pure parsers against what they promise, on whatever the input carries.
void CheckParsers(const cloudserver::HttpRequest& r) {
  auto header = [&](const char* name) {
    auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
  };
  if (auto cr = cloudserver::ParseContentRange(header("Content-Range")))
    Require(0 <= cr->first && cr->first <= cr->last && cr->last < cr->total);
  for (int64_t size : {int64_t{0}, int64_t{1}, int64_t{1000}, INT64_MAX / 2}) {
    auto span = cloudserver::ResolveRange(header("Range"), size);
    if (span) Require(span->offset >= 0 && span->length >= 0 && span->length <= size - span->offset);
  }
}

// The answer's JSON (discarded when it has none), for what later requests use.
Json CheckAnswer(const World& w, const cloudserver::HttpAnswer& a) {
  // Every refusal has its status; a 500 is an exception nobody expected.
  static const std::set<int> statuses{200, 206, 400, 401, 404, 413, 416};
  Require(statuses.count(a.status) == 1);
  if (a.file) {
    Require(a.status == 200 || a.status == 206);
    auto rel = a.file->path.lexically_relative(w.data / "blobs");
    Require(!rel.empty() && *rel.begin() != "..");
    std::error_code ec;
    Require(static_cast<int64_t>(fs::file_size(a.file->path, ec)) == a.file->total && !ec);
    Require(a.file->offset >= 0 && a.file->length >= 0 && a.file->length <= a.file->total - a.file->offset);
    return Json(Json::value_t::discarded);
  }
  if (a.status == 416 && a.body.empty()) {  // a download range outside the blob
    Require(a.headers.size() == 1 && a.headers[0].first == "Content-Range");
    return Json(Json::value_t::discarded);
  }
  if (a.contentType == "image/png" || a.contentType == "image/jpeg") {
    Require(a.status == 200 && !a.body.empty());
    return Json(Json::value_t::discarded);
  }
  // Validated without building it; only answers that name something later
  // requests may use are parsed. Keys are written sorted and without blanks.
  Require(Json::accept(a.body) && a.body.front() == '{');
  auto code = a.body.find("\"code\":");
  Require(code != std::string::npos && code + 7 < a.body.size() &&
          (std::isdigit(static_cast<unsigned char>(a.body[code + 7])) || a.body[code + 7] == '-'));
  for (const char* key : {"URL\"", "ID\"", "linkCode"})
    if (a.body.find(key) != std::string::npos) return Json::parse(a.body, nullptr, false);
  return Json(Json::value_t::discarded);
}

// What later requests of the same input may refer to.
void Remember(const Json& j, std::map<std::string, std::string>& values) {
  if (!j.is_object()) return;
  auto take = [&](const char* field, const char* key) {
    auto it = j.find(field);
    if (it != j.end() && it->is_string() && !it->get<std::string>().empty()) values[key] = it->get<std::string>();
  };
  take("uploadURL", "{U}");
  take("uploadTaskID", "{T}");
  take("downloadURL", "{D}");
  take("linkCode", "{L}");
  take("catalogID", "{K}");
  take("contentID", "{C}");
  if (auto files = j.find("files"); files != j.end() && files->is_array() && !files->empty())
    Remember((*files)[0], values);
}

}  // namespace

// Shorter allocation stacks: recording them was a fifth of every run. A
// finding is replayed with full stacks (ASAN_OPTIONS=malloc_context_size=30).
extern "C" const char* __asan_default_options() { return "malloc_context_size=4"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  World& w = TheWorld();
  std::string input(reinterpret_cast<const char*>(data), size);
  std::map<std::string, std::string> values = w.seeded;
  bool uploads = false, thumbs = false;
  size_t start = 0;
  for (int n = 0; n < 4 && start <= input.size(); ++n) {
    size_t end = input.find("\n~~~\n", start);
    std::string text = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
    start = end == std::string::npos ? input.size() + 1 : end + 5;
    cloudserver::HttpRequest request = ParseRequest(Substitute(text, values));
    CheckParsers(request);
    uploads |= request.path.rfind("/blob/upload/", 0) == 0;
    thumbs |= request.path.rfind("/thumb/", 0) == 0;
    cloudserver::HttpAnswer answer = w.router->Handle(request);
    // CLOUDSERVER_FUZZ_TRACE=1 shows what each request of a replayed input got.
    static const bool trace = std::getenv("CLOUDSERVER_FUZZ_TRACE") != nullptr;
    if (trace)
      std::fprintf(stderr, "%s %s -> %d %s\n", request.method.c_str(), request.path.c_str(), answer.status,
                   answer.file ? "(file)" : answer.body.substr(0, 300).c_str());
    Remember(CheckAnswer(w, answer), values);
  }
  w.CheckNothingEscaped();
  w.Reset(uploads, thumbs);
  return 0;
}
