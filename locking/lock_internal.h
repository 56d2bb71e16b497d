// Private to locking/: the process-wide lock state, the exclusive open of the shared files and
// the reading of entries in place.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "locking/lock_files.h"
#include "platform/os.h"

namespace kap::locking {

struct LockState {
  LockIdentity identity;  // number 0 until the first lock or unlock call sets it up
  std::string waitMode;
  bool customSink = false;
  LockMessageSink sink;
  // Lock file paths already resolved, by RootDir and name: resolving a name whose case
  // differs from the file's reads the directory, which a lock call should not do every time.
  std::map<std::string, std::string> paths;
};
LockState& Locks();

// Sets up the identity from WorkDir + "LOCKS.TMP" unless it is already known.
void SetUpIdentity();

// Name as the code writes it, trimmed on the right ("PropietV") -> the path of its lock file
// on this system. An existing file is found whatever the case of its name; a new one is made
// under the upper-cased name, so that every spelling of the name reaches the same file.
std::string LockFilePath(const std::string& baseName);

// Opens the lock file exclusively, retrying after a random 1 to 3000 ms while another process
// holds it and creating the LOCKS directory when it is missing. With `create` false a file
// that does not exist gives null at once instead.
std::unique_ptr<File> OpenLockFile(const std::string& baseName, bool create);

// The fields of a field text read the way every program reads them.
bool Blank(std::string_view field);
bool ParseNumber(std::string_view field, int64_t* value);  // plain decimal integer only
int64_t ParseLeadingDigits(std::string_view field);        // 0 when there are none
int ParseLength(std::string_view field);                   // 0..40

// One whole entry as it lies in the file buffer (121 bytes).
struct RawEntry {
  std::string_view b;
  char type() const { return b[34]; }
  bool Free() const { return type() == ' '; }
  std::string_view host() const { return b.substr(0, 15); }
  std::string_view number() const { return b.substr(15, 11); }
  int64_t time() const { return ParseLeadingDigits(b.substr(26, 8)); }
  int fromLength() const { return ParseLength(b.substr(35, 2)); }
  std::string_view fromKey() const { return b.substr(37, 40); }
  int toLength() const { return ParseLength(b.substr(77, 2)); }
  std::string_view toKey() const { return b.substr(79, 40); }
};

// Entries a program clears as abandoned: written more than 30 minutes before `nowMinutes`. An
// entry with a type but a blank number is included, so that it cannot block for ever.
bool IsStale(const RawEntry& entry, int64_t nowMinutes);
// The entry's bytes with host, number and type blanked, the rest as it was.
std::string ClearedBytes(const RawEntry& entry);

// Reads the whole entries of an open lock file in slices and calls `visit(offset, entry)` for
// each until it returns false. A trailing piece shorter than an entry is not visited.
// Returns the offset just after the last whole entry of the file, or -1 when it could not be
// read to the end.
template <typename Visit>
int64_t ScanEntries(File& file, Visit visit) {
  const int64_t size = file.Size();
  const int64_t whole = size > 0 ? size / kLockEntrySize * kLockEntrySize : 0;
  constexpr int64_t kSlice = 512 * kLockEntrySize;
  std::string buffer;
  for (int64_t start = 0; start < whole; start += kSlice) {
    const int64_t length = std::min(kSlice, whole - start);
    if (!file.ReadAt(start, static_cast<size_t>(length), &buffer)) return -1;
    const int64_t got = static_cast<int64_t>(buffer.size()) / kLockEntrySize * kLockEntrySize;
    const std::string_view view(buffer);
    for (int64_t at = 0; at < got; at += kLockEntrySize) {
      if (!visit(start + at, RawEntry{view.substr(static_cast<size_t>(at), kLockEntrySize)})) {
        return whole;
      }
    }
    if (got < length) return -1;  // nobody may shorten a file we hold: a read error
  }
  return whole;
}

std::string RightTrim(const std::string& text);
std::string Trim(const std::string& text);
std::string UpperAscii(std::string text);
std::string PadOrCut(const std::string& text, size_t width);

}  // namespace kap::locking
