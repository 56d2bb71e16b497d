// The owner-sized file of the record-manager benchmarks: 321-byte records whose key 0 is a
// unique 4-byte binary number at the start.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

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

// The dictionary file: 2-byte length, then the creation block.
inline std::string Dictionary() {
  std::string block(32, '\0');
  auto put16 = [&](size_t at, int v) {
    block[at] = static_cast<char>(v & 0xFF);
    block[at + 1] = static_cast<char>(v >> 8);
  };
  put16(0, kRecordLength);
  put16(2, 4096);
  put16(4, 1);
  put16(16, 1);
  put16(18, 4);
  put16(20, 0x0004);  // binary, unique
  std::string d(2, '\0');
  d[0] = static_cast<char>(block.size());
  return d + block;
}

}  // namespace kap::bench
