// Creation blocks, key values and key images of the SQLite record engine.
#include <algorithm>

#include "platform/record_manager.h"
#include "platform/rm_internal.h"
#include "platform/text.h"

namespace kap::rm {
namespace {

// Null keys, manual keys and the engine-set bits are not supported.
constexpr uint16_t kSupportedKeyFlags = kKeyDuplicates | kKeyModifiable | kKeyBinary |
                                        kKeySegmented | kKeyAcs | kKeyDescending |
                                        kKeyRepeatingDuplicates | kKeyExtendedType | kKeyNoCase;
// Variable-length records, blank truncation, key-only files and manual key numbers change
// what a record is; the other file flags only tune storage and are accepted.
constexpr uint16_t kUnsupportedFileFlags = 0x0001 | 0x0002 | 0x0010 | 0x0400 | 0x0800;

constexpr uint8_t kTypeString = 0;
constexpr uint8_t kTypeInteger = 1;
constexpr uint8_t kTypeUnsignedBinary = 14;

int MaxSegments(uint16_t pageSize) {
  if (pageSize <= 512) return 8;
  if (pageSize <= 1024) return 23;
  if (pageSize <= 1536) return 24;
  if (pageSize <= 3584) return 54;
  return 119;
}

void ImageSegment(const Segment& seg, const std::string& acs, const char* src, std::string* out) {
  size_t start = out->size();
  out->append(src, seg.length);
  char* p = out->data() + start;
  switch (seg.kind) {
    case SegmentKind::kString:
      if (seg.acs) {
        for (size_t i = 0; i < seg.length; ++i) p[i] = acs[9 + static_cast<uint8_t>(p[i])];
      } else if (seg.noCase) {
        for (size_t i = 0; i < seg.length; ++i) p[i] = UpperAscii(p[i]);
      }
      break;
    case SegmentKind::kUnsigned:
      std::reverse(p, p + seg.length);
      break;
    case SegmentKind::kSigned:
      std::reverse(p, p + seg.length);
      p[0] = static_cast<char>(p[0] ^ 0x80);
      break;
  }
  if (seg.descending)
    for (size_t i = 0; i < seg.length; ++i) p[i] = static_cast<char>(~p[i]);
}

}  // namespace

int16_t ParseCreationBlock(const uint8_t* data, size_t length, FileDef* def) {
  *def = FileDef{};
  if (data == nullptr || length < 16) return kDataBufferTooShort;
  def->recordLength = LittleEndian16(data);
  def->pageSize = LittleEndian16(data + 2);
  uint16_t keyCount = LittleEndian16(data + 4);
  def->fileFlags = LittleEndian16(data + 10);
  if (def->pageSize < 512 || def->pageSize > 4096 || def->pageSize % 512 != 0) return kBadPageSize;
  if (def->recordLength < 4 || def->recordLength > kMaxRecordLength) return kBadRecordLength;
  if (def->recordLength + 8 > def->pageSize) return kBadPageSize;
  if (def->fileFlags & kUnsupportedFileFlags) return kInconsistentKeyFlags;
  if (keyCount > 119) return kBadKeyCount;

  size_t offset = 16;
  bool needsAcs = false;
  for (int k = 0; k < keyCount; ++k) {
    KeyDef key;
    for (;;) {
      if (offset + 16 > length) return kDataBufferTooShort;
      if (++def->segmentCount > MaxSegments(def->pageSize)) return kBadKeyCount;
      const uint8_t* s = data + offset;
      offset += 16;
      Segment seg;
      seg.position = LittleEndian16(s);
      seg.length = LittleEndian16(s + 2);
      seg.flags = LittleEndian16(s + 4);
      if (seg.flags & ~kSupportedKeyFlags) return kInconsistentKeyFlags;
      if (seg.length == 0) return kBadKeyLength;
      if (seg.position < 1 || seg.position + seg.length - 1 > def->recordLength)
        return kBadKeyPosition;
      uint8_t type = (seg.flags & kKeyExtendedType) ? s[10]
                     : (seg.flags & kKeyBinary)     ? kTypeUnsignedBinary
                                                    : kTypeString;
      if (type == kTypeString) {
        seg.kind = SegmentKind::kString;
      } else if (type == kTypeInteger) {
        if (seg.length != 1 && seg.length != 2 && seg.length != 4 && seg.length != 8)
          return kBadKeyLength;
        seg.kind = SegmentKind::kSigned;
      } else if (type == kTypeUnsignedBinary) {
        seg.kind = SegmentKind::kUnsigned;
      } else {
        return kInconsistentKeyFlags;  // a key type this engine does not order
      }
      seg.acs = (seg.flags & kKeyAcs) != 0;
      seg.noCase = (seg.flags & kKeyNoCase) != 0;
      seg.descending = (seg.flags & kKeyDescending) != 0;
      if ((seg.acs || seg.noCase) && seg.kind != SegmentKind::kString) return kInconsistentKeyFlags;
      if (seg.acs && seg.noCase) return kInconsistentKeyFlags;
      bool dup = (seg.flags & (kKeyDuplicates | kKeyRepeatingDuplicates)) != 0;
      bool mod = (seg.flags & kKeyModifiable) != 0;
      if (key.segments.empty()) {
        key.duplicates = dup;
        key.modifiable = mod;
      } else if (key.duplicates != dup || key.modifiable != mod) {
        return kInconsistentKeyFlags;  // segments of one key must agree
      }
      needsAcs = needsAcs || seg.acs;
      key.length += seg.length;
      key.segments.push_back(seg);
      if (!(seg.flags & kKeySegmented)) break;
    }
    if (key.length > kMaxKeyLength) return kBadKeyLength;
    def->keys.push_back(std::move(key));
  }
  if (needsAcs) {
    if (offset + 265 > length) return kDataBufferTooShort;
    if (data[offset] != 0xAC) return kBadCollatingSequence;
    def->acs.assign(reinterpret_cast<const char*>(data + offset), 265);
    offset += 265;
  }
  def->block.assign(reinterpret_cast<const char*>(data), offset);
  // Reserved and engine-filled fields start clean.
  PutLittleEndian32(def->block.data() + 6, 0);
  for (int i = 0; i < def->segmentCount; ++i)
    PutLittleEndian32(def->block.data() + 16 + 16 * i + 6, 0);
  return kOk;
}

std::string KeyValueOf(const FileDef& def, int key, const std::string& record) {
  std::string value;
  const KeyDef& k = def.keys[static_cast<size_t>(key)];
  value.reserve(static_cast<size_t>(k.length));
  for (const Segment& seg : k.segments) {
    size_t start = seg.position - 1u;
    for (size_t i = 0; i < seg.length; ++i)
      value.push_back(start + i < record.size() ? record[start + i] : '\0');
  }
  return value;
}

std::string KeyImageOf(const FileDef& def, int key, const std::string& value) {
  const KeyDef& k = def.keys[static_cast<size_t>(key)];
  std::string padded = value;
  padded.resize(static_cast<size_t>(k.length), '\0');
  std::string image;
  image.reserve(padded.size());
  size_t offset = 0;
  for (const Segment& seg : k.segments) {
    ImageSegment(seg, def.acs, padded.data() + offset, &image);
    offset += seg.length;
  }
  return image;
}

std::string BuildStat(const FileDef& def, uint32_t records, const std::vector<uint32_t>& unique,
                      bool compactKeyCount) {
  std::string stat = def.block;
  PutLittleEndian32(stat.data() + 6, records);
  if (compactKeyCount) {
    stat[4] = static_cast<char>(def.keys.size());
    stat[5] = 0x60;  // file format version 6.0
  }
  int segment = 0;
  for (size_t k = 0; k < def.keys.size(); ++k) {
    for (size_t s = 0; s < def.keys[k].segments.size(); ++s, ++segment)
      PutLittleEndian32(stat.data() + 16 + 16 * segment + 6, k < unique.size() ? unique[k] : 0);
  }
  return stat;
}

int16_t KeyImages::Read(const std::string& creationBlock) {
  auto def = std::make_shared<FileDef>();
  const int16_t status = ParseCreationBlock(reinterpret_cast<const uint8_t*>(creationBlock.data()),
                                            creationBlock.size(), def.get());
  if (status == kOk) def_ = std::move(def);
  return status;
}

uint16_t KeyImages::RecordLength() const { return def_ ? def_->recordLength : 0; }
int KeyImages::KeyCount() const { return def_ ? static_cast<int>(def_->keys.size()) : 0; }
bool KeyImages::Duplicates(int key) const {
  return def_->keys[static_cast<size_t>(key)].duplicates;
}
std::string KeyImages::ImageOf(int key, const std::string& record) const {
  return KeyImageOf(*def_, key, KeyValueOf(*def_, key, record));
}

}  // namespace kap::rm
