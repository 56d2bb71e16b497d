// Record locks of the SQLite record engine on Windows: LockFileEx byte ranges on the lock file
// beside the database. They belong to the handle and are released when the process dies.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/rm_internal.h"
#include "platform/windows_internal.h"

namespace kap::rm {
namespace {

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Another process's probe holds a byte shared for a moment: an exclusive lock that meets it
// is asked again a few times before the byte counts as held.
constexpr int kProbeRetries = 3;

bool LockByte(HANDLE h, int64_t offset, bool exclusive) {
  for (int attempt = 0;; ++attempt) {
    if (TryLockRange(h, offset, 1, exclusive)) return true;
    if (!exclusive || attempt == kProbeRetries || ::GetLastError() != ERROR_LOCK_VIOLATION)
      return false;
    ::Sleep(0);
  }
}

void UnlockByte(HANDLE h, int64_t offset) { UnlockRange(h, offset, 1); }

}  // namespace

LockFile::~LockFile() {
  if (fd_ >= 0) _close(fd_);  // closing the handle releases its locks
}

bool LockFile::Open(const std::string& path) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    h = ::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR);
  if (fd_ < 0) ::CloseHandle(h);
  return fd_ >= 0;
}

bool LockFile::TryLock(int64_t offset, bool exclusive) {
  HANDLE h = HandleOf(fd_);
  auto it = held_.find(offset);
  if (it != held_.end()) {
    if (it->second == exclusive) return true;
    // A lock changes kind as an unlock and a new lock; the old one comes back on failure.
    UnlockByte(h, offset);
    if (!LockByte(h, offset, exclusive)) {
      if (!LockByte(h, offset, it->second)) held_.erase(it);
      return false;
    }
    it->second = exclusive;
    return true;
  }
  if (!LockByte(h, offset, exclusive)) return false;
  held_[offset] = exclusive;
  return true;
}

void LockFile::Unlock(int64_t offset) {
  if (held_.erase(offset) > 0) UnlockByte(HandleOf(fd_), offset);
}

bool LockFile::HeldByOther(int64_t offset) {
  if (held_.count(offset) > 0) return false;  // ours (record and transaction locks are exclusive)
  return !NoExclusiveLockIn(HandleOf(fd_), offset, 1);
}

}  // namespace kap::rm
