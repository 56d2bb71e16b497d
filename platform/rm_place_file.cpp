// Moving a finished data file into place on POSIX: link refuses an existing name atomically,
// rename replaces one atomically.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/rm_internal.h"

namespace kap::rm {

namespace {

// The new name lives in the folder entry: without syncing it a power cut can lose a file whose
// creation was reported done.
bool SyncFolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

bool PlaceFile(const std::string& from, const std::string& to, bool replace, bool* existed) {
  if (replace) return std::rename(from.c_str(), to.c_str()) == 0 && SyncFolderOf(to);
  if (::link(from.c_str(), to.c_str()) == 0) {
    if (SyncFolderOf(to)) return true;
    // Not known to be on disk: take the name back, so "cannot create" leaves no file behind.
    ::unlink(to.c_str());
    if (existed) *existed = false;
    return false;
  }
  if (existed) *existed = errno == EEXIST;
  return false;
}

}  // namespace kap::rm
