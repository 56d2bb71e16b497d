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

// A byte-range lock that never waits: false at once when another handle's lock is in the way.
inline bool TryLockRange(HANDLE h, int64_t from, int64_t length, bool exclusive) {
  OVERLAPPED o = OverlappedAt(from);
  const DWORD kind = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  return ::LockFileEx(h, kind, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32),
                      &o) != 0;
}

inline void UnlockRange(HANDLE h, int64_t from, int64_t length) {
  OVERLAPPED o = OverlappedAt(from);
  ::UnlockFileEx(h, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &o);
}

// True when no other handle holds an exclusive lock in the range: a shared probe, so that two
// processes probing at once never take each other's probe for a lock.
inline bool NoExclusiveLockIn(HANDLE h, int64_t from, int64_t length) {
  if (!TryLockRange(h, from, length, false)) return false;
  UnlockRange(h, from, length);
  return true;
}

}  // namespace kap
