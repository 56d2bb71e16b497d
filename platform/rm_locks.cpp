// Record locks of the SQLite record engine, as open-file-description locks on a lock file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/rm_internal.h"

namespace kap::rm {
namespace {

struct flock Range(int64_t offset, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = static_cast<off_t>(offset);
  lock.l_len = 1;
  lock.l_pid = 0;  // required by OFD locks
  return lock;
}

}  // namespace

LockFile::~LockFile() {
  if (fd_ >= 0) close(fd_);
}

bool LockFile::Open(const std::string& path) {
  // Never through a symbolic link: it could create or lock a file outside the data folder.
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd_ < 0 && errno != ELOOP) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  return fd_ >= 0;
}

bool LockFile::TryLock(int64_t offset, bool exclusive) {
  struct flock lock = Range(offset, exclusive ? F_WRLCK : F_RDLCK);
  for (;;) {
    if (fcntl(fd_, F_OFD_SETLK, &lock) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void LockFile::Unlock(int64_t offset) {
  struct flock lock = Range(offset, F_UNLCK);
  fcntl(fd_, F_OFD_SETLK, &lock);
}

bool LockFile::HeldByOther(int64_t offset) {
  struct flock lock = Range(offset, F_WRLCK);
  if (fcntl(fd_, F_OFD_GETLK, &lock) != 0) return false;
  return lock.l_type != F_UNLCK;
}

}  // namespace kap::rm
