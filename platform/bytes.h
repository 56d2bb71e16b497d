// Numbers inside records, creation blocks and other stored layouts are little-endian whatever
// the machine: read and write them only through these.
#pragma once

#include <cstdint>
#include <string>

namespace kap {

inline uint16_t LittleEndian16(const void* bytes) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t LittleEndian32(const void* bytes) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void PutLittleEndian16(void* bytes, uint16_t value) {
  auto* p = static_cast<uint8_t*>(bytes);
  p[0] = static_cast<uint8_t>(value & 0xFF);
  p[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLittleEndian32(void* bytes, uint32_t value) {
  auto* p = static_cast<uint8_t*>(bytes);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// The 4 bytes of `value`.
inline std::string LittleEndianBytes32(uint32_t value) {
  std::string bytes(4, '\0');
  PutLittleEndian32(bytes.data(), value);
  return bytes;
}

// The same at byte `at` of a string; the caller keeps `at` inside it.
inline uint16_t LittleEndian16(const std::string& bytes, size_t at) {
  return LittleEndian16(bytes.data() + at);
}
inline uint32_t LittleEndian32(const std::string& bytes, size_t at) {
  return LittleEndian32(bytes.data() + at);
}
inline void PutLittleEndian16(std::string* bytes, size_t at, uint16_t value) {
  PutLittleEndian16(bytes->data() + at, value);
}

}  // namespace kap
