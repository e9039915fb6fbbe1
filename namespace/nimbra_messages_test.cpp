// Records from other processes: every layout the views accept, and the ways
// a record can be wrong, decoded without reading past its end.
#include "nimbra_messages.h"

#include <gtest/gtest.h>

#include <string>

namespace vd {
namespace {

std::string Wide(std::u16string_view text) { return EncodeRecordText(text); }

TEST(ViewRecords, DecodeEveryCodeAndDropWhatDoesNotFit) {
    const std::string id = "100000000001" "00019700101000000099";
    struct Case {
        const char* what;
        std::uint64_t code;
        std::string payload;
        RecordDrop reason;
        std::string catalogId;
    };
    const Case cases[] = {
        {"proxy changed", SHELL_PRXOY_CHANGE, "", RecordDrop::None, ""},
        {"token changed", SHELL_REFRESH_TOKEN, "", RecordDrop::None, ""},
        {"op token changed", REFRESH_NIMBRA_OP_TOKEN, "", RecordDrop::None, ""},
        {"signed out", SHELL_SIGNED_OUT, "", RecordDrop::None, ""},
        {"share users", SHELL_SHARE_USERS_LOADED, "", RecordDrop::None, ""},
        {"catalog changed", SHELL_CATALOG_CHANGED, EncodeRecordBytes(id), RecordDrop::None, id},
        {"page arrived", SHELL_PAGE_CHANGED, EncodeRecordBytes(id), RecordDrop::None, id},
        {"shares accepted", SHELL_SHARES_ACCEPTED, EncodeRecordBytes(id), RecordDrop::None, id},
        {"sync states", SHELL_SYNC_STATES, Wide(u"2;NULL;NULL;" + std::u16string(id.begin(), id.end())),
         RecordDrop::None, ""},
        {"unknown code", 9999, "", RecordDrop::UnknownCode, ""},
        {"bytes where none belong", SHELL_REFRESH_TOKEN, "x", RecordDrop::UnexpectedPayload, ""},
        {"catalog without its zero", SHELL_CATALOG_CHANGED, id, RecordDrop::MissingTerminator, ""},
        {"catalog empty", SHELL_CATALOG_CHANGED, std::string(1, '\0'), RecordDrop::MissingPayload, ""},
        {"catalog no bytes", SHELL_PAGE_CHANGED, "", RecordDrop::MissingPayload, ""},
        {"catalog with a NUL inside", SHELL_CATALOG_CHANGED, std::string("ab\0cd\0", 6), RecordDrop::EmbeddedNul, ""},
        {"catalog far too long", SHELL_CATALOG_CHANGED, EncodeRecordBytes(std::string(4000, 'a')),
         RecordDrop::BadField, ""},
        {"states odd length", SHELL_SYNC_STATES, Wide(u"1;2;x").substr(1), RecordDrop::OddLength, ""},
        {"states unterminated", SHELL_SYNC_STATES, Wide(u"1;2;x").substr(0, 10), RecordDrop::MissingTerminator, ""},
        {"states two fields", SHELL_SYNC_STATES, Wide(u"1;2"), RecordDrop::BadField, ""},
        {"states not a number", SHELL_SYNC_STATES, Wide(u"x;2;t"), RecordDrop::BadField, ""},
        {"states text too long", SHELL_SYNC_STATES, Wide(u"1;2;" + std::u16string(100, u'a')), RecordDrop::BadField,
         ""},
        {"oversized", SHELL_SYNC_STATES, std::string(kMaxViewRecordBytes + 2, 'a'), RecordDrop::Oversized, ""},
    };
    for (const Case& c : cases) {
        const ViewDecode d = DecodeViewRecord(c.code, c.payload);
        EXPECT_EQ(d.ok, c.reason == RecordDrop::None) << c.what;
        EXPECT_EQ(d.reason, c.reason) << c.what << ": " << RecordDropName(d.reason);
        EXPECT_EQ(d.record.code, c.code) << c.what;
        EXPECT_EQ(d.record.catalogId, c.catalogId) << c.what;
    }
}

TEST(ViewRecords, SyncStateFields) {
    struct Case {
        std::u16string text;
        bool ok;
        std::int64_t first, second;
        std::u16string label;
        std::size_t ids;
    };
    const Case cases[] = {
        {u"3;120;上传中;a;b;c", true, 3, 120, u"上传中", 3},
        {u"0;NULL;NULL", true, 0, 0, u"", 0},
        {u"1;2;x;", true, 1, 2, u"x", 0},
        {u"NULL;2;x", false, 0, 0, u"", 0},
        {u"1;-5;" + std::u16string(99, u'z'), true, 1, -5, std::u16string(99, u'z'), 0},
        {u"1;99999999999999999999;x", false, 0, 0, u"", 0},
        {u"", false, 0, 0, u"", 0},
    };
    for (const Case& c : cases) {
        SyncStates s;
        ASSERT_EQ(ParseSyncStates(c.text, &s), c.ok);
        if (!c.ok) {
            continue;
        }
        EXPECT_EQ(s.first, c.first);
        EXPECT_EQ(s.second, c.second);
        EXPECT_EQ(s.text, c.label);
        EXPECT_EQ(s.catalogIds.size(), c.ids);
    }
}

TEST(ViewRecords, DoubleClickUploadsTellTheClientWhenTheLastOneEnds) {
    CntDBClkUploadTast counter;
    const std::pair<int, std::uint64_t> steps[] = {
        {1, NIMBRA_UPLOAD_STARTED}, {1, NIMBRA_UPLOAD_STARTED}, {-1, NIMBRA_MENU_OTHER},
        {-1, NIMBRA_UPLOADS_DONE},  {0, NIMBRA_UPLOADS_DONE},   {3, NIMBRA_UPLOAD_STARTED},
        {-3, NIMBRA_UPLOADS_DONE},
    };
    for (const auto& [delta, code] : steps) {
        EXPECT_EQ(counter.Apply(delta), code) << "delta " << delta << " count " << counter.Count();
    }
    EXPECT_EQ(counter.Count(), 0);
}

}  // namespace
}  // namespace vd
