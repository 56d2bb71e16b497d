// Small helpers shared by the Windows files of the platform layer.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kap {

// The OVERLAPPED that addresses `offset` in a file (positioned reads, writes and locks).
inline OVERLAPPED OverlappedAt(int64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  return o;
}

}  // namespace kap
