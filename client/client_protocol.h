#pragma once
// Copy-data records between the desktop client and the shell extension.
//
// The client's window "WND_MSG_VEYRA_ORLO" receives the library's requests;
// the view windows ("VDViewClass" children of Explorer windows) receive the
// client's notices. Records arrive from other processes, so every record is
// decoded here, checked against the layout its code allows, before anything
// reads it: a record that does not fit is dropped with a reason.
//
// Codes the client adds for itself (no collision with the library's codes):
//   900 sign out (no data): sent by "Nimbra.exe --sign-out" to the running client;
//   901 quit (no data): the client ends without signing out;
//    30 page request: UTF-16 page name ("calender", "message", "contact", ...).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbra {

inline constexpr char16_t kClientWindowName[] = u"WND_MSG_VEYRA_ORLO";
inline constexpr char16_t kSignInMutexName[] = u"ORLOSyncLoginMutex";
inline constexpr char16_t kViewWindowClass[] = u"VDViewClass";

// Library -> client.
enum RecordCode : uint64_t {
  kMenuOther = 0,
  kMenuCheckUpdate = 3,
  kMenuSettings = 4,
  kMenuAbout = 5,
  kShareByLink = 6,
  kStopSyncFolder = 7,
  kShareWithPeople = 13,
  kSyncSelection = 14,
  kSaveShareTo = 16,
  kTokenInvalid = 21,
  kPageRequest = 30,
  kUploadStarted = 300,
  kUploadsDone = 400,
  kHistoryVersions = 409,
  kSyncStateRequest = 500,
  kSignOutRequest = 900,
  kQuitRequest = 901,
};

// Client -> views.
enum ViewCode : uint64_t {
  kViewProxyChanged = 10,
  kViewSignInChanged = 11,
  kViewOpTokenChanged = 12,
  kViewSyncStates = 15,
  kViewSaveDestination = 16,
  kViewSignedOut = 401,
};

// Bounds on what a record may carry: far above any real use, low enough that
// a hostile sender cannot make the client hold large copies.
inline constexpr size_t kMaxRecordBytes = 1u << 20;
inline constexpr size_t kMaxPathUnits = 32767;  // the longest Windows path, in UTF-16 units

enum class RecordKind {
  MenuCommand,      // code 0, 3, 4, 5
  ItemList,         // 6, 13, 14, 409: the selected items
  StopSync,         // 7: narrow local path
  SaveShareTo,      // 16
  TokenInvalid,     // 21
  PageRequest,      // 30: page name
  UploadStarted,    // 300: path text or none
  UploadsDone,      // 400: path text or none
  SyncStateRequest, // 500
  SignOut,          // 900
  Quit,             // 901
};

enum class DropReason {
  None,
  UnknownCode,
  UnexpectedPayload,  // a code without data came with bytes
  MissingPayload,     // a code that needs data came without
  Oversized,
  OddLength,          // UTF-16 text with an odd byte count
  MissingTerminator,
  EmbeddedNul,
  BadItemList,
};

const char* DropReasonName(DropReason reason);

// One selected cloud item as the views describe it:
// "<ITEM>ID=<id>NAME=<name>TYPE=<kind>" repeated.
struct ShareItem {
  std::u16string id;
  std::u16string name;
  int type = 0;
  bool operator==(const ShareItem&) const = default;
};

struct ClientRecord {
  uint64_t code = 0;
  RecordKind kind = RecordKind::MenuCommand;
  std::u16string text;           // UTF-16 payloads, without the terminator
  std::string bytes;             // 8-bit payloads (code 7), without the terminator
  std::vector<ShareItem> items;  // code 6, 13, 14, 409
};

struct DecodeResult {
  bool ok = false;
  DropReason reason = DropReason::None;
  ClientRecord record;
};

// Checks and decodes one record; never reads outside `payload`.
DecodeResult DecodeClientRecord(uint64_t code, std::string_view payload);

// Parses the item string of a share request; false on any deviation.
bool ParseItemList(std::u16string_view text, std::vector<ShareItem>* items);
std::u16string FormatItemList(const std::vector<ShareItem>& items);

// UTF-16 text as the records carry it: little-endian units with a
// terminating zero unit.
std::string EncodeRecordText(std::u16string_view text);
// Code 15 payload: "<count>;<speed or NULL>;<text or NULL>[;catalogID...]".
std::u16string FormatSyncStates(int folders, int speed, std::u16string_view text,
                                const std::vector<std::u16string>& catalogIds);

}  // namespace nimbra
