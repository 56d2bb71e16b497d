// Helpers for the record manager tests: creation blocks and a position block with calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "platform/record_manager.h"

namespace kap::test {

struct Seg {
  uint16_t position;
  uint16_t length;
  uint16_t flags = 0;
  uint8_t type = 0;  // extended type, used with flag 0x100
};

inline void Put16(std::string* s, size_t at, uint16_t v) { PutLittleEndian16(s, at, v); }
inline uint16_t Get16(const std::string& s, size_t at) { return LittleEndian16(s, at); }
inline uint32_t Get32(const std::string& s, size_t at) { return LittleEndian32(s, at); }

// A Create data buffer. Segments of one key get the segmented flag except the last.
inline std::string CreationBlock(uint16_t recordLength, const std::vector<std::vector<Seg>>& keys,
                                 uint16_t pageSize = 4096, const std::string& acs = "") {
  rm::FileLayout layout;
  layout.recordLength = recordLength;
  layout.pageSize = pageSize;
  for (const auto& key : keys) {
    layout.keys.emplace_back();
    for (const Seg& seg : key)
      layout.keys.back().push_back({seg.position, seg.length, seg.flags, seg.type});
  }
  layout.acs = acs;
  return rm::BuildCreationBlock(layout);
}

// An upper-casing collating sequence named `name`.
inline std::string UpperAcs(const std::string& name = "UPPER") {
  std::string acs(265, '\0');
  acs[0] = static_cast<char>(0xAC);
  std::string padded = (name + "        ").substr(0, 8);
  acs.replace(1, 8, padded);
  for (int b = 0; b < 256; ++b) acs[9 + b] = static_cast<char>(b >= 'a' && b <= 'z' ? b - 32 : b);
  return acs;
}

// One open instance of a file.
class RmFile {
 public:
  char block[128] = {};

  int16_t Create(const std::string& path, const std::string& spec, int keyNumber = -1) {
    std::string data = spec;
    uint32_t length = static_cast<uint32_t>(data.size());
    std::string key = path;
    return BTRCALL(rm::kCreate, block, data.data(), &length, key.data(),
                   static_cast<uint8_t>(key.size()), static_cast<int8_t>(keyNumber));
  }
  int16_t Open(const std::string& path, int mode = 0) {
    std::string owner("KAPS", 5);
    uint32_t length = 5;
    std::string key = path;
    return BTRCALL(rm::kOpen, block, owner.data(), &length, key.data(),
                   static_cast<uint8_t>(key.size()), static_cast<int8_t>(mode));
  }
  int16_t Close() { return Call(rm::kClose, -1); }

  // `data`: in = bytes sent (its size is the capacity), out = bytes returned.
  int16_t Call(int op, std::string* data, std::string* key, int keyNumber) {
    uint32_t length = static_cast<uint32_t>(data->size());
    int16_t status = BTRCALL(op, block, data->data(), &length, key->data(),
                             static_cast<uint8_t>(key->size()), static_cast<int8_t>(keyNumber));
    if (length <= data->size()) data->resize(length);
    return status;
  }
  int16_t Call(int op, int keyNumber) {
    std::string data(8, '\0'), key(255, '\0');
    return Call(op, &data, &key, keyNumber);
  }

  // Conveniences on a file with 255-byte key buffers.
  int16_t Insert(const std::string& record, int keyNumber = 0) {
    std::string data = record, key(255, '\0');
    return Call(rm::kInsert, &data, &key, keyNumber);
  }
  int16_t Update(const std::string& record, int keyNumber = 0) {
    std::string data = record, key(255, '\0');
    return Call(rm::kUpdate, &data, &key, keyNumber);
  }
  int16_t Delete(int keyNumber = 0) { return Call(rm::kDelete, keyNumber); }
  // A keyed get; `value` is the key sent; the record lands in *record.
  int16_t Get(int op, int keyNumber, const std::string& value, std::string* record,
              size_t capacity = 4096) {
    std::string data(capacity, '\0'), key(255, '\0');
    key.replace(0, value.size(), value);
    int16_t status = Call(op, &data, &key, keyNumber);
    *record = data;
    lastKey = key;
    return status;
  }
  int16_t Step(int op, std::string* record) {
    std::string data(4096, '\0'), key(255, '\0');
    int16_t status = Call(op, &data, &key, 0);
    *record = data;
    return status;
  }
  int32_t Position(int16_t* status) {
    std::string data(4, '\0'), key(0, '\0');
    *status = Call(rm::kGetPosition, &data, &key, 0);
    return *status == 0 ? static_cast<int32_t>(Get32(data, 0)) : 0;
  }
  int16_t Direct(int32_t pos, int keyNumber, std::string* record) {
    std::string data(4096, '\0'), key(255, '\0');
    for (int i = 0; i < 4; ++i)
      data[i] = static_cast<char>((static_cast<uint32_t>(pos) >> (8 * i)) & 0xFF);
    int16_t status = Call(rm::kGetDirect, &data, &key, keyNumber);
    *record = data;
    return status;
  }

  std::string lastKey;
};

// True when the record manager in use (SQLite files or the server) opens a data file there.
inline bool DataFileExists(const std::string& path) {
  RmFile file;
  if (file.Open(path) != 0) return false;
  file.Close();
  return true;
}

}  // namespace kap::test
