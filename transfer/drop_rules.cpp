#include "drop_rules.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/text.h"
#include "string_table.h"
#include "trace.h"

namespace vdtransfer {
namespace {

using vd::resources::LoadText;

std::u16string Text(int id) { return platform::Utf8ToUtf16(LoadText(id)); }

std::string Join(const std::string& folder, const std::u16string& name) {
  std::string path = folder;
  if (!path.empty() && path.back() != '\\' && path.back() != '/') {
    path.push_back(static_cast<char>(platform::PathSeparator()));
  }
  return path + platform::WideToAnsi(name);
}

// A name the ANSI code page cannot carry would come back as another file.
bool RoundTrips(const std::u16string& wide, const std::string& ansi) { return platform::AnsiToWide(ansi) == wide; }

// Takes one accepted file into `node`; false when it is above the limit.
bool TakeFile(UploadDirNode& node, const std::string& path, std::uint64_t size, DropCollection& drop) {
  if (size > kMaxUploadFileBytes) {
    ++drop.over20Count;
    return false;
  }
  if (size == 0) {
    ++drop.emptyCount;
    drop.emptyFiles.push_back(path);
  }
  node.files.push_back(path);
  ++drop.itemCount;
  drop.byteTotal += size;
  if (drop.title.empty()) drop.title = path;
  return true;
}

}  // namespace

bool IsForbidSuffix(const std::string& path, const std::u16string& filterList) {
  const std::string leaf = LeafName(path);
  const auto dot = leaf.rfind('.');
  if (dot == std::string::npos || filterList.empty()) return false;
  return filterList.find(platform::AnsiToWide(leaf.substr(dot))) != std::u16string::npos;
}

int PutFilesToTree(UploadDirNode& node, const std::string& folderPath, DropCollection& drop,
                   const std::u16string& filterList) {
  node.localPath = folderPath;
  std::vector<platform::DirEntry> entries;
  if (platform::SystemFileSystem().List(platform::AnsiToWide(folderPath), entries) != platform::kOk) return -1;
  for (const platform::DirEntry& entry : entries) {
    if (entry.name.empty() || entry.name[0] == u'.' || entry.hidden_or_system) continue;
    const std::string full = Join(folderPath, entry.name);
    if (!RoundTrips(entry.name, LeafName(full))) {
      VD_LOG_WARN("%s: name not in the ANSI code page, left out", full.c_str());
      continue;
    }
    if (entry.is_directory) {
      UploadDirNode child;
      if (PutFilesToTree(child, full, drop, filterList) != 0) {
        VD_LOG_WARN("%s: cannot be listed, left out", full.c_str());
        continue;
      }
      node.subdirs.push_back(std::move(child));
      continue;
    }
    if (IsForbidSuffix(full, filterList)) continue;
    TakeFile(node, full, entry.size, drop);
  }
  return 0;
}

DropCollection CollectDrop(const std::vector<std::u16string>& paths, const std::vector<std::string>& targetFolders,
                           const std::u16string& filterList) {
  DropCollection drop;
  platform::IFileSystem& fs = platform::SystemFileSystem();
  for (const std::u16string& wide : paths) {
    std::u16string trimmed = wide;
    while (trimmed.size() > 1 && (trimmed.back() == u'\\' || trimmed.back() == u'/')) trimmed.pop_back();
    const std::string path = platform::WideToAnsi(trimmed);
    VD_LOG_INFO("QueryFile:: %s", path.c_str());
    const std::optional<platform::DirEntry> entry = RoundTrips(trimmed, path) ? fs.Stat(trimmed) : std::nullopt;
    if (!entry) {
      drop.openFailure = true;
      drop.failedFile = path;
      break;
    }
    if (entry->hidden_or_system) {
      VD_LOG_INFO("%s FILE_ATTRIBUTE_HIDDEN", path.c_str());
      drop.hidden = true;
      continue;
    }
    if (entry->is_directory) {
      const std::string name = LeafName(path);
      bool known = false;
      for (const std::string& folder : targetFolders) known = known || folder == name;
      if (known) {
        drop.sameName = true;
        ++drop.sameNameCount;
        drop.sameNameFolders.push_back(name);
        continue;
      }
      UploadDirNode child;
      if (PutFilesToTree(child, path, drop, filterList) != 0) {
        drop.openFailure = true;
        drop.failedFile.clear();
        break;
      }
      drop.root.subdirs.push_back(std::move(child));
      continue;
    }
    if (IsForbidSuffix(path, filterList)) {
      VD_LOG_INFO("%s IsForbidSuffix", path.c_str());
      drop.forbidden = true;
      continue;
    }
    // Opened as the upload will open it: a file another program holds
    // exclusively refuses the drop now, not halfway through the upload.
    std::unique_ptr<platform::LocalFile> file = platform::LocalFile::Open(path, platform::LocalFile::Mode::Read, 0);
    const std::optional<std::uint64_t> size = file ? file->Size() : std::nullopt;
    if (!size) {
      drop.openFailure = true;
      drop.failedFile = path;
      break;
    }
    if (!TakeFile(drop.root, path, *size, drop)) drop.tooLarge = true;
  }
  return drop;
}

std::optional<DropMessage> DropRefusal(const DropCollection& drop, bool targetIsShareRoot, int mode) {
  using namespace vd::resources;
  const bool nothing = drop.root.files.empty() && drop.root.subdirs.empty();
  if (drop.hidden) return DropMessage{IDS_CAPTION, Text(IDS_DROP_HIDDEN), false};
  if (drop.forbidden) return DropMessage{IDS_CAPTION, Text(IDS_DROP_FORBIDDEN_SUFFIX), false};
  if (drop.openFailure) {
    std::u16string text = Text(IDS_FILE_PREFIX);
    if (!drop.failedFile.empty()) text += platform::AnsiToWide(drop.failedFile);
    return DropMessage{IDS_UPLOAD_FAILED_CAPTION, text + Text(IDS_OPEN_FAILED_TAIL), true};
  }
  if (drop.sameName && nothing) return DropMessage{IDS_CAPTION, Text(IDS_SAME_NAME_FOLDER_EXISTS), false};
  if (drop.tooLarge && nothing) return DropMessage{IDS_CAPTION, Text(IDS_FILE_TOO_LARGE), false};
  if (drop.over20Count > 0) {
    char text[128];
    std::snprintf(text, sizeof text, std::string(LoadText(IDS_FILES_TOO_LARGE)).c_str(), drop.over20Count);
    return DropMessage{IDS_CAPTION, platform::Utf8ToUtf16(text), false};
  }
  if (targetIsShareRoot) {
    return DropMessage{IDS_CAPTION,
                       mode == kDropPaste ? u"不能往收到的分享根目录上传文件(夹)，可尝试粘贴到其他目录"
                                          : u"不能往收到的分享根目录拖曳上传文件(夹)，可尝试拖曳到其他目录",
                       false};
  }
  return std::nullopt;
}

}  // namespace vdtransfer
