#include "client_protocol.h"

#include "platform/message_channel.h"


namespace nimbra {
namespace {

enum class Layout { None, Text, OptionalText, NarrowText, Items };

struct CodeRule {
  uint64_t code;
  RecordKind kind;
  Layout layout;
};

constexpr CodeRule kRules[] = {
    {kMenuOther, RecordKind::MenuCommand, Layout::None},
    {kMenuCheckUpdate, RecordKind::MenuCommand, Layout::None},
    {kMenuSettings, RecordKind::MenuCommand, Layout::None},
    {kMenuAbout, RecordKind::MenuCommand, Layout::None},
    {kShareByLink, RecordKind::ItemList, Layout::Items},
    {kStopSyncFolder, RecordKind::StopSync, Layout::NarrowText},
    {kShareWithPeople, RecordKind::ItemList, Layout::Items},
    {kSyncSelection, RecordKind::ItemList, Layout::Items},
    {kSaveShareTo, RecordKind::SaveShareTo, Layout::None},
    {kTokenInvalid, RecordKind::TokenInvalid, Layout::None},
    {kPageRequest, RecordKind::PageRequest, Layout::Text},
    {kUploadStarted, RecordKind::UploadStarted, Layout::OptionalText},
    {kUploadsDone, RecordKind::UploadsDone, Layout::OptionalText},
    {kHistoryVersions, RecordKind::ItemList, Layout::Items},
    {kSyncStateRequest, RecordKind::SyncStateRequest, Layout::None},
    {kSignOutRequest, RecordKind::SignOut, Layout::None},
    {kQuitRequest, RecordKind::Quit, Layout::None},
};

const CodeRule* FindRule(uint64_t code) {
  for (const auto& rule : kRules) {
    if (rule.code == code) return &rule;
  }
  return nullptr;
}

// UTF-16LE text with its zero unit; the text itself may hold no zero.
DropReason ReasonOf(platform::RecordTextError error) {
  switch (error) {
    case platform::RecordTextError::None: return DropReason::None;
    case platform::RecordTextError::OddLength: return DropReason::OddLength;
    case platform::RecordTextError::MissingTerminator: return DropReason::MissingTerminator;
    case platform::RecordTextError::EmbeddedNul: return DropReason::EmbeddedNul;
    case platform::RecordTextError::TooLong: return DropReason::Oversized;
  }
  return DropReason::Oversized;
}

DropReason DecodeWide(std::string_view payload, size_t max_units, std::u16string* out) {
  return ReasonOf(platform::DecodeWideRecordText(payload, max_units, out));
}

DropReason DecodeNarrow(std::string_view payload, std::string* out) {
  return ReasonOf(platform::DecodeNarrowRecordText(payload, kMaxPathUnits * 2, out));
}

bool Consume(std::u16string_view& text, std::u16string_view prefix) {
  if (text.substr(0, prefix.size()) != prefix) return false;
  text.remove_prefix(prefix.size());
  return true;
}

}  // namespace

const char* DropReasonName(DropReason reason) {
  switch (reason) {
    case DropReason::None: return "none";
    case DropReason::UnknownCode: return "unknown code";
    case DropReason::UnexpectedPayload: return "unexpected payload";
    case DropReason::MissingPayload: return "missing payload";
    case DropReason::Oversized: return "oversized";
    case DropReason::OddLength: return "odd UTF-16 byte count";
    case DropReason::MissingTerminator: return "missing terminator";
    case DropReason::EmbeddedNul: return "embedded NUL";
    case DropReason::BadItemList: return "malformed item list";
  }
  return "?";
}

bool ParseItemList(std::u16string_view text, std::vector<ShareItem>* items) {
  static constexpr std::u16string_view kItem = u"<ITEM>", kId = u"ID=<", kName = u">NAME=<",
                                       kType = u">TYPE=<";
  items->clear();
  if (text.empty()) return false;
  while (!text.empty()) {
    ShareItem item;
    if (!Consume(text, kItem) || !Consume(text, kId)) return false;
    size_t end = text.find(kName);
    if (end == std::u16string_view::npos) return false;
    item.id.assign(text.substr(0, end));
    text.remove_prefix(end + kName.size());
    // Names may hold '>' themselves; the type tag ends the name.
    end = text.find(kType);
    if (end == std::u16string_view::npos) return false;
    item.name.assign(text.substr(0, end));
    text.remove_prefix(end + kType.size());
    size_t digits = 0;
    while (digits < text.size() && digits < 9 && text[digits] >= u'0' && text[digits] <= u'9') ++digits;
    if (digits == 0 || digits >= text.size() || text[digits] != u'>') return false;
    for (size_t i = 0; i < digits; ++i) item.type = item.type * 10 + (text[i] - u'0');
    text.remove_prefix(digits + 1);
    if (item.id.empty()) return false;
    items->push_back(std::move(item));
  }
  return true;
}

std::u16string FormatItemList(const std::vector<ShareItem>& items) {
  std::u16string out;
  for (const auto& item : items) {
    out += u"<ITEM>ID=<";
    out += item.id;
    out += u">NAME=<";
    out += item.name;
    out += u">TYPE=<";
    for (char c : std::to_string(item.type)) out.push_back(static_cast<char16_t>(c));
    out += u">";
  }
  return out;
}

DecodeResult DecodeClientRecord(uint64_t code, std::string_view payload) {
  DecodeResult result;
  result.record.code = code;
  const CodeRule* rule = FindRule(code);
  if (!rule) {
    result.reason = DropReason::UnknownCode;
    return result;
  }
  result.record.kind = rule->kind;
  if (payload.size() > kMaxRecordBytes) {
    result.reason = DropReason::Oversized;
    return result;
  }
  DropReason reason = DropReason::None;
  switch (rule->layout) {
    case Layout::None:
      if (!payload.empty()) reason = DropReason::UnexpectedPayload;
      break;
    case Layout::OptionalText:
      if (!payload.empty()) reason = DecodeWide(payload, kMaxPathUnits, &result.record.text);
      break;
    case Layout::Text:
      if (payload.empty()) {
        reason = DropReason::MissingPayload;
      } else {
        reason = DecodeWide(payload, kMaxPathUnits, &result.record.text);
        if (reason == DropReason::None && result.record.text.empty()) reason = DropReason::MissingPayload;
      }
      break;
    case Layout::NarrowText:
      reason = payload.empty() ? DropReason::MissingPayload : DecodeNarrow(payload, &result.record.bytes);
      if (reason == DropReason::None && result.record.bytes.empty()) reason = DropReason::MissingPayload;
      break;
    case Layout::Items:
      if (payload.empty()) {
        reason = DropReason::MissingPayload;
        break;
      }
      reason = DecodeWide(payload, kMaxRecordBytes / 2, &result.record.text);
      if (reason == DropReason::None && !ParseItemList(result.record.text, &result.record.items)) {
        reason = DropReason::BadItemList;
      }
      break;
  }
  result.reason = reason;
  result.ok = reason == DropReason::None;
  if (!result.ok) result.record = ClientRecord{code, rule->kind, {}, {}, {}};
  return result;
}

std::string EncodeRecordText(std::u16string_view text) { return platform::EncodeWideRecordText(text); }

std::u16string FormatSyncStates(int folders, int speed, std::u16string_view text,
                                const std::vector<std::u16string>& catalogIds) {
  auto number = [](int n) {
    std::u16string s;
    for (char c : std::to_string(n)) s.push_back(static_cast<char16_t>(c));
    return s;
  };
  std::u16string out = number(folders) + u";" + number(speed) + u";";
  out += text.empty() ? std::u16string(u"NULL") : std::u16string(text.substr(0, 99));
  for (const auto& id : catalogIds) {
    out += u";";
    out += id;
  }
  return out;
}

}  // namespace nimbra
