// Moving a finished data file into place on POSIX: link refuses an existing name atomically,
// rename replaces one atomically.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/rm_internal.h"

namespace kap::rm {

bool PlaceFile(const std::string& from, const std::string& to, bool replace, bool* existed) {
  if (replace) return std::rename(from.c_str(), to.c_str()) == 0;
  if (::link(from.c_str(), to.c_str()) == 0) return true;
  if (existed) *existed = errno == EEXIST;
  return false;
}

}  // namespace kap::rm
