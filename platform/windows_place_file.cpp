// Moving a finished data file into place on Windows: MoveFileEx refuses an existing name
// unless told to replace it, and writes the move through before it returns.
#include <windows.h>

#include "platform/rm_internal.h"

namespace kap::rm {

bool PlaceFile(const std::string& from, const std::string& to, bool replace, bool* existed) {
  DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  if (::MoveFileExA(from.c_str(), to.c_str(), flags)) return true;
  DWORD error = ::GetLastError();
  if (existed) *existed = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  return false;
}

}  // namespace kap::rm
