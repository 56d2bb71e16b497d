// Creation blocks built and read in one place, for the tools, tests and benchmarks that make
// or describe data files.
#include "platform/bytes.h"
#include "platform/record_manager.h"

namespace kap::rm {

namespace {
constexpr size_t kSpecSize = 16;
constexpr size_t kAcsSize = 265;
}  // namespace

std::string BuildCreationBlock(const FileLayout& layout) {
  std::string block(kSpecSize, '\0');
  PutLittleEndian16(&block, 0, layout.recordLength);
  PutLittleEndian16(&block, 2, layout.pageSize);
  PutLittleEndian16(&block, 4, static_cast<uint16_t>(layout.keys.size()));
  PutLittleEndian16(&block, 10, layout.fileFlags);
  for (const std::vector<KeySegment>& key : layout.keys) {
    for (size_t i = 0; i < key.size(); ++i) {
      std::string spec(kSpecSize, '\0');
      PutLittleEndian16(&spec, 0, key[i].position);
      PutLittleEndian16(&spec, 2, key[i].length);
      const uint16_t more = i + 1 < key.size() ? kKeySegmented : 0;
      PutLittleEndian16(&spec, 4, static_cast<uint16_t>((key[i].flags & ~kKeySegmented) | more));
      spec[10] = static_cast<char>(key[i].extendedType);
      block += spec;
    }
  }
  return block + layout.acs;
}

bool ReadCreationBlock(const std::string& block, FileLayout* layout) {
  if (block.size() < kSpecSize) return false;
  FileLayout read;
  read.recordLength = LittleEndian16(block, 0);
  read.pageSize = LittleEndian16(block, 2);
  // A Stat answer may carry the file version in the high byte of the key count.
  const uint16_t keys = LittleEndian16(block, 4) & 0xFF;
  read.fileFlags = LittleEndian16(block, 10);
  size_t at = kSpecSize;
  bool acs = false;
  for (uint16_t k = 0; k < keys; ++k) {
    std::vector<KeySegment> key;
    for (bool more = true; more;) {
      if (at + kSpecSize > block.size()) return false;
      KeySegment segment;
      segment.position = LittleEndian16(block, at);
      segment.length = LittleEndian16(block, at + 2);
      const uint16_t flags = LittleEndian16(block, at + 4);
      more = (flags & kKeySegmented) != 0;
      segment.flags = static_cast<uint16_t>(flags & ~kKeySegmented);
      segment.extendedType = static_cast<uint8_t>(block[at + 10]);
      acs = acs || (flags & kKeyAcs) != 0;
      key.push_back(segment);
      at += kSpecSize;
    }
    read.keys.push_back(key);
  }
  if (acs) {
    if (at + kAcsSize > block.size()) return false;
    read.acs = block.substr(at, kAcsSize);
  }
  *layout = read;
  return true;
}

}  // namespace kap::rm
