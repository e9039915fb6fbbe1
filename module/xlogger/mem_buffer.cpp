#include "mem_buffer.h"

#include <cstring>

namespace XLOGGER {
namespace {

constexpr size_t kRecordHeader = 32;  // size 4, kind 2, level 2, pid 4, tid 4, ms 8, name chars 2, pad 2, payload 4

template <typename T>
T Get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Put(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

size_t Pad8(size_t n) { return (n + 7) & ~size_t{7}; }

// Header fields: magic 0, capacity 4, end 8, dropped 12.
bool HeaderValid(const uint8_t* data, size_t size) {
  return Get<uint32_t>(data) == CMemBuffer::kMagic && Get<uint32_t>(data + 4) == size &&
         Get<uint32_t>(data + 8) >= CMemBuffer::kHeaderSize && Get<uint32_t>(data + 8) <= size;
}

void Reset(uint8_t* data, size_t size, uint32_t dropped) {
  Put<uint32_t>(data, CMemBuffer::kMagic);
  Put<uint32_t>(data + 4, static_cast<uint32_t>(size));
  Put<uint32_t>(data + 8, static_cast<uint32_t>(CMemBuffer::kHeaderSize));
  Put<uint32_t>(data + 12, dropped);
}

}  // namespace

void CMemBuffer::Initialize() {
  if (!channel_.Lock(5000)) return;
  if (!HeaderValid(channel_.Data(), channel_.Size())) Reset(channel_.Data(), channel_.Size(), 0);
  channel_.Unlock();
}

std::string CMemBuffer::Encode(const Record& record) {
  size_t name_bytes = record.name.size() * 2;
  size_t total = Pad8(kRecordHeader + name_bytes + record.payload.size());
  std::string out(total, '\0');
  auto* p = reinterpret_cast<uint8_t*>(out.data());
  Put<uint32_t>(p, static_cast<uint32_t>(total));
  Put<uint16_t>(p + 4, static_cast<uint16_t>(record.kind));
  Put<uint16_t>(p + 6, static_cast<uint16_t>(record.level));
  Put<uint32_t>(p + 8, record.pid);
  Put<uint32_t>(p + 12, record.tid);
  Put<uint64_t>(p + 16, record.unix_ms);
  Put<uint16_t>(p + 24, static_cast<uint16_t>(record.name.size()));
  Put<uint32_t>(p + 28, static_cast<uint32_t>(record.payload.size()));
  if (name_bytes) std::memcpy(p + kRecordHeader, record.name.data(), name_bytes);
  if (!record.payload.empty()) std::memcpy(p + kRecordHeader + name_bytes, record.payload.data(), record.payload.size());
  return out;
}

std::vector<Record> CMemBuffer::Decode(std::string_view bytes, size_t* damaged) {
  std::vector<Record> records;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t at = 0;
  if (damaged) *damaged = 0;
  while (at < bytes.size()) {
    size_t left = bytes.size() - at;
    if (left < kRecordHeader) break;
    const uint8_t* r = p + at;
    uint32_t total = Get<uint32_t>(r);
    uint16_t kind = Get<uint16_t>(r + 4);
    uint16_t name_chars = Get<uint16_t>(r + 24);
    uint32_t payload = Get<uint32_t>(r + 28);
    bool fits = total >= kRecordHeader && total % 8 == 0 && total <= left && payload <= kMaxPayload &&
                kRecordHeader + size_t{name_chars} * 2 + payload <= total && (kind == 1 || kind == 2);
    if (!fits) {
      if (damaged) ++*damaged;
      break;  // past a bad size nothing can be trusted
    }
    Record rec;
    rec.kind = static_cast<RecordKind>(kind);
    rec.level = Get<uint16_t>(r + 6);
    rec.pid = Get<uint32_t>(r + 8);
    rec.tid = Get<uint32_t>(r + 12);
    rec.unix_ms = Get<uint64_t>(r + 16);
    rec.name.resize(name_chars);
    if (name_chars) std::memcpy(rec.name.data(), r + kRecordHeader, size_t{name_chars} * 2);
    rec.payload.assign(reinterpret_cast<const char*>(r + kRecordHeader + size_t{name_chars} * 2), payload);
    records.push_back(std::move(rec));
    at += total;
  }
  return records;
}

AppendResult CMemBuffer::Append(const Record& record, uint32_t wait_ms) {
  if (record.payload.size() > kMaxPayload || record.name.size() > 0xFFFF) return AppendResult::TooLarge;
  std::string bytes = Encode(record);
  if (!channel_.Lock(wait_ms)) return AppendResult::Timeout;
  uint8_t* data = channel_.Data();
  const size_t size = channel_.Size();
  if (!HeaderValid(data, size)) Reset(data, size, 0);
  uint32_t end = Get<uint32_t>(data + 8);
  if (bytes.size() > size - end) {
    Put<uint32_t>(data + 12, Get<uint32_t>(data + 12) + 1);
    channel_.Unlock();
    channel_.SignalReader();
    return AppendResult::Full;
  }
  std::memcpy(data + end, bytes.data(), bytes.size());
  Put<uint32_t>(data + 8, static_cast<uint32_t>(end + bytes.size()));
  channel_.Unlock();
  channel_.SignalReader();
  return AppendResult::Ok;
}

std::vector<Record> CMemBuffer::Drain(uint32_t wait_ms, size_t* damaged) {
  if (damaged) *damaged = 0;
  if (!channel_.Lock(wait_ms)) return {};
  uint8_t* data = channel_.Data();
  const size_t size = channel_.Size();
  std::string block;
  if (HeaderValid(data, size)) {
    uint32_t end = Get<uint32_t>(data + 8);
    block.assign(reinterpret_cast<const char*>(data + kHeaderSize), end - kHeaderSize);
    Reset(data, size, Get<uint32_t>(data + 12));
  } else {
    Reset(data, size, 0);
    if (damaged) *damaged = 1;
  }
  channel_.Unlock();
  size_t bad = 0;
  auto records = Decode(block, &bad);
  if (damaged) *damaged += bad;
  return records;
}

uint32_t CMemBuffer::Dropped() {
  if (!channel_.Lock(1500)) return 0;
  uint32_t dropped = HeaderValid(channel_.Data(), channel_.Size()) ? Get<uint32_t>(channel_.Data() + 12) : 0;
  channel_.Unlock();
  return dropped;
}

}  // namespace XLOGGER
