#include "seed.h"

#include <chrono>
#include <ostream>
#include <stdexcept>

#include "cloud_store.h"
#include "thumbnail.h"
#include "util.h"

namespace cloudserver {
namespace {

Reply Must(Reply r, const char* what) {
  if (r.code != codes::kOk) throw std::runtime_error(std::string(what) + " failed with code " + std::to_string(r.code));
  return r;
}

std::string Folder(CloudStore& s, const std::string& token, const std::string& parent, const std::string& name) {
  return Must(s.Mkdir(token, parent, name), "mkdir").data["catalogID"];
}

void File(CloudStore& s, const std::string& token, const std::string& parent, const std::string& name,
          const std::string& bytes) {
  std::string md5 = s.Blobs().Put(bytes);
  Reply r = Must(s.UploadRequest(token, parent, {UploadFile{name, static_cast<int64_t>(bytes.size()), md5}}), "upload");
  if (r.data["files"][0]["needUpload"] != "0") throw std::runtime_error("seed upload was not instant");
}

std::string Gradient(int w, int h, int seed) {
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
      p[0] = static_cast<unsigned char>(x * 255 / w);
      p[1] = static_cast<unsigned char>(y * 255 / h);
      p[2] = static_cast<unsigned char>((x + y + seed * 80) & 0xff);
    }
  return EncodePng(w, h, rgb);
}

}  // namespace

void Seed(CloudStore& s, int64_t benchEntries, std::ostream& log) {
  Must(s.CreateAccount(SeedAccounts::kFirst, SeedAccounts::kFirstPassword, "爱丽丝"), "account");
  Must(s.CreateAccount(SeedAccounts::kSecond, SeedAccounts::kSecondPassword, "鲍勃"), "account");
  Reply a = Must(s.SignIn(SeedAccounts::kFirst, SeedAccounts::kFirstPassword), "sign-in");
  Reply b = Must(s.SignIn(SeedAccounts::kSecond, SeedAccounts::kSecondPassword), "sign-in");
  std::string at = a.data["token"], bt = b.data["token"];
  std::string aroot = a.data["rootCatalogID"], broot = b.data["rootCatalogID"];

  std::string docs = Folder(s, at, aroot, "我的文档");
  std::string work = Folder(s, at, docs, "工作");
  std::string reports = Folder(s, at, work, "报告");
  std::string pictures = Folder(s, at, aroot, "图片");
  Folder(s, at, aroot, "音乐");
  File(s, at, docs, "说明.txt", "这是示例文件。\n");
  File(s, at, work, "计划.txt", "第一季度计划\n");
  File(s, at, reports, "季度报告.txt", "季度报告内容\n");
  File(s, at, aroot, "readme.txt", "sample account alice\n");
  File(s, at, pictures, "日出.png", Gradient(64, 48, 1));
  File(s, at, pictures, "海浪.png", Gradient(48, 64, 2));
  Must(s.ShareItems(at, {docs}, {}, {SeedAccounts::kSecond}), "share");

  std::string bdocs = Folder(s, bt, broot, "我的文档");
  File(s, bt, bdocs, "笔记.txt", "鲍勃的笔记\n");
  std::string bshared = Folder(s, bt, broot, "共享资料");
  File(s, bt, bshared, "清单.txt", "鲍勃分享的清单\n");
  Must(s.ShareItems(bt, {bshared}, {}, {SeedAccounts::kFirst}), "share");

  log << "seeded accounts " << SeedAccounts::kFirst << "/" << SeedAccounts::kFirstPassword << " and "
      << SeedAccounts::kSecond << "/" << SeedAccounts::kSecondPassword << "\n";
  if (benchEntries > 0) {
    auto t0 = std::chrono::steady_clock::now();
    Reply r = Must(s.CreateBenchFolder(SeedAccounts::kFirst, "bench_" + std::to_string(benchEntries), benchEntries),
                   "bench folder");
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    log << "bench folder " << r.data["catalogID"].get<std::string>() << " with " << benchEntries << " entries in "
        << ms << " ms\n";
  }
}

}  // namespace cloudserver
