#include "client_protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nimbra {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string Wide(std::u16string_view text) { return EncodeRecordText(text); }

const std::u16string kTwoItems =
    u"<ITEM>ID=<111122223333000201801010000000042>NAME=<报告 (1).doc>TYPE=<2>"
    u"<ITEM>ID=<111122223333000201801010000000007>NAME=<a>b>TYPE=<1>";

TEST(ClientProtocol, DecodesOrDropsEveryRecordShape) {
  struct Case {
    const char* what;
    uint64_t code;
    std::string payload;
    DropReason reason;
    RecordKind kind = RecordKind::MenuCommand;
  };
  std::string oversized_items = Wide(std::u16string(kMaxRecordBytes / 2, u'x'));
  std::string long_path = Wide(std::u16string(kMaxPathUnits + 1, u'p'));
  const Case cases[] = {
      {"menu command", kMenuAbout, "", DropReason::None, RecordKind::MenuCommand},
      {"menu command with bytes", kMenuSettings, "x", DropReason::UnexpectedPayload},
      {"token invalid", kTokenInvalid, "", DropReason::None, RecordKind::TokenInvalid},
      {"token invalid with a terminator only", kTokenInvalid, Bytes({0, 0}), DropReason::UnexpectedPayload},
      {"sync state request", kSyncStateRequest, "", DropReason::None, RecordKind::SyncStateRequest},
      {"sign out", kSignOutRequest, "", DropReason::None, RecordKind::SignOut},
      {"quit", kQuitRequest, "", DropReason::None, RecordKind::Quit},
      {"unknown code", 402, "", DropReason::UnknownCode},
      {"huge code", 0xFFFFFFFFFFFFFFFFull, "", DropReason::UnknownCode},
      {"upload started without path", kUploadStarted, "", DropReason::None, RecordKind::UploadStarted},
      {"upload started with path", kUploadStarted, Wide(u"C:\\同步\\a.txt"), DropReason::None,
       RecordKind::UploadStarted},
      {"path with odd byte count", kUploadsDone, Wide(u"C:\\a") + "x", DropReason::OddLength},
      {"path without terminator", kUploadsDone, Wide(u"C:\\a").substr(0, 6), DropReason::MissingTerminator},
      {"path of one byte", kUploadsDone, Bytes({0}), DropReason::OddLength},
      {"path with a half terminator", kUploadsDone, Bytes({'a', 0, 0, 1}), DropReason::MissingTerminator},
      {"path with embedded NUL", kUploadsDone, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0}), DropReason::EmbeddedNul},
      {"path too long", kUploadsDone, long_path, DropReason::Oversized},
      {"page request", kPageRequest, Wide(u"calender"), DropReason::None, RecordKind::PageRequest},
      {"page request empty text", kPageRequest, Bytes({0, 0}), DropReason::MissingPayload},
      {"page request without data", kPageRequest, "", DropReason::MissingPayload},
      {"stop sync", kStopSyncFolder, std::string("D:\\SyncDir:1\0", 13), DropReason::None, RecordKind::StopSync},
      {"stop sync without NUL", kStopSyncFolder, "D:\\SyncDir:1", DropReason::MissingTerminator},
      {"stop sync NUL only", kStopSyncFolder, Bytes({0}), DropReason::MissingPayload},
      {"stop sync embedded NUL", kStopSyncFolder, std::string("D:\0x\0", 5), DropReason::EmbeddedNul},
      {"stop sync empty", kStopSyncFolder, "", DropReason::MissingPayload},
      {"share by link", kShareByLink, Wide(kTwoItems), DropReason::None, RecordKind::ItemList},
      {"history versions", kHistoryVersions, Wide(kTwoItems), DropReason::None, RecordKind::ItemList},
      {"share without items", kShareWithPeople, "", DropReason::MissingPayload},
      {"share of garbage", kShareWithPeople, Wide(u"hello"), DropReason::BadItemList},
      {"share cut in the type", kShareByLink, Wide(u"<ITEM>ID=<1>NAME=<a>TYPE=<2"), DropReason::BadItemList},
      {"share without terminator", kShareByLink, Wide(kTwoItems).substr(0, kTwoItems.size() * 2),
       DropReason::MissingTerminator},
      {"share oversized", kShareByLink, oversized_items, DropReason::Oversized},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeResult r = DecodeClientRecord(c.code, c.payload);
    EXPECT_EQ(r.reason, c.reason) << DropReasonName(r.reason);
    EXPECT_EQ(r.ok, c.reason == DropReason::None);
    EXPECT_EQ(r.record.code, c.code);
    if (r.ok) {
      EXPECT_EQ(r.record.kind, c.kind);
    } else {
      EXPECT_TRUE(r.record.text.empty() && r.record.bytes.empty() && r.record.items.empty());
    }
  }
}

TEST(ClientProtocol, DecodedPayloadsKeepEveryUnitAndByte) {
  auto path = DecodeClientRecord(kUploadStarted, Wide(u"C:\\同步\\😀.txt"));
  ASSERT_TRUE(path.ok);
  EXPECT_EQ(path.record.text, u"C:\\同步\\😀.txt");

  // High bytes of both halves of a unit must come through (little-endian).
  auto high = DecodeClientRecord(kPageRequest, Bytes({0xFF, 0xFE, 0x01, 0x80, 0, 0}));
  ASSERT_TRUE(high.ok);
  EXPECT_EQ(high.record.text, std::u16string({char16_t(0xFEFF), char16_t(0x8001)}));

  auto narrow = DecodeClientRecord(kStopSyncFolder, std::string("D:\\\xCD\xAC\xB2\xBD\0", 8));
  ASSERT_TRUE(narrow.ok);
  EXPECT_EQ(narrow.record.bytes, "D:\\\xCD\xAC\xB2\xBD");

  auto items = DecodeClientRecord(kShareByLink, Wide(kTwoItems));
  ASSERT_TRUE(items.ok);
  const std::vector<ShareItem> expected = {
      {u"111122223333000201801010000000042", u"报告 (1).doc", 2},
      {u"111122223333000201801010000000007", u"a>b", 1},
  };
  EXPECT_EQ(items.record.items, expected);
}

TEST(ClientProtocol, ItemListsRoundTripAndRejectDeviations) {
  const std::vector<ShareItem> items = {{u"1", u"", 0}, {u"2", u"名>TYPE", 12}, {u"3", u"x", 1}};
  std::vector<ShareItem> parsed;
  ASSERT_TRUE(ParseItemList(FormatItemList(items), &parsed));
  EXPECT_EQ(parsed, items);

  const char16_t* bad[] = {
      u"",
      u"<ITEM>",
      u"<ITEM>ID=<>NAME=<a>TYPE=<1>",          // empty ID
      u"<ITEM>ID=<1>NAME=<a>TYPE=<>",          // no digits
      u"<ITEM>ID=<1>NAME=<a>TYPE=<1x>",        // not a number
      u"<ITEM>ID=<1>NAME=<a>TYPE=<1234567890>",  // longer than a kind can be
      u"<ITEM>ID=<1>NAME=<a>TYPE=<1>trailing",
      u"<item>ID=<1>NAME=<a>TYPE=<1>",
      u"<ITEM>ID=<1>TYPE=<1>",
  };
  for (size_t i = 0; i < std::size(bad); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(ParseItemList(bad[i], &parsed));
  }
}

TEST(ClientProtocol, SyncStateAndTextEncodings) {
  EXPECT_EQ(FormatSyncStates(0, 0, u"", {}), u"0;0;NULL");
  EXPECT_EQ(FormatSyncStates(2, 35, u"同步中", {u"A", u"B"}), u"2;35;同步中;A;B");
  EXPECT_EQ(FormatSyncStates(1, 0, std::u16string(150, u'x'), {}).size(), std::u16string(u"1;0;").size() + 99);
  EXPECT_EQ(EncodeRecordText(u"A\u4E2D"), Bytes({'A', 0, 0x2D, 0x4E, 0, 0}));
}

}  // namespace
}  // namespace nimbra
