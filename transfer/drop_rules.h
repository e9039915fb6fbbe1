#pragma once
// The upload rules for local files and folders dropped or pasted on a cloud
// folder: what is taken, what is skipped, and which single message refuses
// the whole drop. Nothing here talks to the service; a drop that passes is
// handed to an upload task as the tree built here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "upload_task.h"

namespace vdtransfer {

// The largest file an upload takes (20 GiB, included).
inline constexpr std::uint64_t kMaxUploadFileBytes = 0x500000000ull;

// Drop modes, handed on to the upload task.
inline constexpr int kDropLocalFiles = 1;
inline constexpr int kDropCloudItems = 2;
inline constexpr int kDropPaste = 10;
inline constexpr int kDropOpenDialogFile = 14;

// What one drop holds once checked.
struct DropCollection {
  UploadDirNode root;
  bool hidden = false;     // a hidden or system entry at the top
  bool forbidden = false;  // a top-level file with a filtered suffix
  bool openFailure = false;
  bool sameName = false;   // a top-level folder the target already has
  bool tooLarge = false;   // a top-level file above the limit
  std::string failedFile;  // the file that did not open; empty when a folder could not be listed
  int emptyCount = 0;
  std::vector<std::string> emptyFiles;
  int sameNameCount = 0;
  std::vector<std::string> sameNameFolders;
  std::uint32_t over20Count = 0;  // files above the limit, at the top or inside folders
  std::uint32_t itemCount = 0;
  std::uint64_t byteTotal = 0;
  std::string title;  // the first file taken
};

// The name's suffix (from its last dot, dot included) occurs in the
// configured list. A name without a dot is never filtered.
bool IsForbidSuffix(const std::string& path, const std::u16string& filterList);

// Adds a local folder's files and sub-folders to `node` (names beginning
// with "." and hidden or system entries are left out without notice);
// -1 when the folder cannot be listed.
int PutFilesToTree(UploadDirNode& node, const std::string& folderPath, DropCollection& drop,
                   const std::u16string& filterList);

// Checks the dropped paths in their order; a folder the target already has
// (`targetFolders`, exact names) is only counted. Stops at the first entry
// that cannot be read.
DropCollection CollectDrop(const std::vector<std::u16string>& paths, const std::vector<std::string>& targetFolders,
                           const std::u16string& filterList);

// The one message that refuses a drop, or nothing when it may go ahead.
struct DropMessage {
  int captionId = 0;
  std::u16string text;
  bool handIcon = false;
};
std::optional<DropMessage> DropRefusal(const DropCollection& drop, bool targetIsShareRoot, int mode);

}  // namespace vdtransfer
