// The owner-sized file of the record-manager benchmarks: 321-byte records whose key 0 is a
// unique 4-byte binary number at the start.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/bytes.h"
#include "platform/record_manager.h"

namespace kap::bench {

constexpr int kRecordLength = 321;

inline std::string Record(uint32_t id, uint32_t salt) {
  std::string r(kRecordLength, ' ');
  std::memcpy(r.data(), &id, 4);
  std::snprintf(r.data() + 4, 40, "OWNER %08u %08u", id, salt);
  r[4 + 23] = ' ';
  return r;
}

inline std::string Key(uint32_t id) { return std::string(reinterpret_cast<const char*>(&id), 4); }

// The big-endian image of a 4-byte binary key, as the engines store it.
inline std::string Image(uint32_t id) {
  std::string k = Key(id);
  return std::string(k.rbegin(), k.rend());
}

// A dictionary file: 2-byte length, then the creation block.
inline std::string DictionaryFile(const rm::FileLayout& layout) {
  const std::string block = rm::BuildCreationBlock(layout);
  std::string d(2, '\0');
  PutLittleEndian16(&d, 0, static_cast<uint16_t>(block.size()));
  return d + block;
}

// The owner-sized file's dictionary.
inline std::string Dictionary() {
  rm::FileLayout layout;
  layout.recordLength = kRecordLength;
  layout.keys = {{{1, 4, rm::kKeyBinary}}};
  return DictionaryFile(layout);
}

}  // namespace kap::bench
