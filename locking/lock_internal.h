// Private to locking/: the process-wide lock state, the exclusive open of the shared files and
// the reading of entries in place.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "locking/lock_files.h"
#include "platform/os.h"
#include "platform/text.h"

namespace kap::locking {

class LockWait;
struct RawEntry;

// Whether the holder of an entry still lives. The lock files answer it with process marks
// (LOCKS\ALIVE.TMP, one mark per identity number); a variant kept on a server answers it
// through its connections.
class HolderLiveness {
 public:
  virtual ~HolderLiveness() = default;
  enum class Hold { kHeld, kUnsupported, kFailed };
  // Says that this process holds entries under `number`, until Release. kFailed when the
  // marks cannot be reached (the cause is the Os's LastError and `where` names the file).
  virtual Hold HoldFor(int32_t number, std::string* where) = 0;
  virtual void Release(int32_t number) = 0;
  // True when another process holds entries under `number`. Anything uncertain (marks not
  // supported or not reachable) counts as alive, so a living holder is never taken for dead.
  virtual bool OthersAlive(int32_t number) = 0;
};
std::unique_ptr<HolderLiveness> MarksLiveness();

struct LockState {
  LockIdentity identity;  // number 0 until the first lock or unlock call sets it up
  std::string waitMode;
  bool customSink = false;
  LockMessageSink sink;
  // Lock file paths already resolved, by RootDir and name: resolving a name whose case
  // differs from the file's reads the directory, which a lock call should not do every time.
  std::map<std::string, std::string> paths;
  std::unique_ptr<HolderLiveness> liveness;
  bool markHeld = false;
  // The entries this process wrote and has not given back: lock file path -> offsets. They
  // are renewed while the process lives, and told apart from a dead program's leftovers.
  std::map<std::string, std::set<int64_t>> held;
  int64_t renewedAt = 0;  // minutes
};
LockState& Locks();
HolderLiveness& Liveness();

// Sets up the identity from WorkDir + "LOCKS.TMP" unless it is already known, and clears
// what a dead program of this terminal left. False when the operator gave up with Esc.
bool SetUpIdentity(LockWait& wait);
// Marks this process as a living holder before it writes an entry; false when the operator
// gave up with Esc while the marks could not be reached.
bool HoldLivenessMark(LockWait& wait);
// Forgets a given-back entry and drops the mark when nothing is held any more.
void ForgetHeld(const std::string& path, int64_t offset);

// Entries nobody will give back: stale or damaged times (IsStale), and entries of this
// computer whose holder is dead. Liveness answers are kept for the one scan it serves.
class AbandonedCheck {
 public:
  AbandonedCheck(const std::string& path, int64_t nowMinutes);
  bool operator()(int64_t offset, const RawEntry& entry);

 private:
  const std::string& path_;
  int64_t now_;
  std::map<int64_t, bool> alive_;
};

// Clears every entry of this terminal in every lock file when no other program of it lives:
// what is left then belongs to programs that died.
void ClearLeftovers();

// Name as the code writes it, trimmed on the right ("PropietV") -> the path of its lock file
// on this system. An existing file is found whatever the case of its name; a new one is made
// under the upper-cased name, so that every spelling of the name reaches the same file.
std::string LockFilePath(const std::string& baseName);

// Where the lock files live: on the data server when the installation uses one (its holders'
// liveness is then their connection, on every computer), else in RootDir\LOCKS.
bool LocksOnServer();
// Opens a file of the LOCKS folder (`path` as LockFilePath gives it) wherever they live.
std::unique_ptr<File> OpenStoreFile(const std::string& path, bool create, Sharing sharing,
                                    OpenResult* result);
bool StoreFileExists(const std::string& path);
// The names of the files in the LOCKS folder `dir`, wherever the installation keeps them.
std::vector<std::string> StoreFileNames(const std::string& dir);

// Opens the lock file exclusively, retrying after a random 1 to 3000 ms while another process
// holds it and creating the LOCKS directory when it is missing. A failure other than another
// holder is shown through `wait` while the attempts go on; null when the operator gave up
// with Esc. Without `wait` (create false) a file that is missing or cannot be opened gives
// null at once. `path` receives the file's path.
std::unique_ptr<File> OpenLockFile(const std::string& baseName, LockWait* wait,
                                   std::string* path = nullptr);

// What the operator sees while a lock call waits or retries: one message at a time on screen
// row 24 (or the tool's sink), keys typed ahead discarded when the first one appears, Esc
// read between attempts in mode "P". The message goes when the wait ends.
class LockWait {
 public:
  LockWait();
  ~LockWait();
  bool escOffered() const { return escOffered_; }
  void Show(const std::string& text);
  // Tells that `path` could not be opened, created, read or written (cause: the Os's
  // LastError, or `cause` when given).
  void ShowFailure(const std::string& path, OsError cause);
  // Sleeps, renewing the entries held meanwhile. False when the operator pressed Esc in mode
  // "P" while a message was shown.
  bool Pause(int milliseconds);

 private:
  bool escOffered_;
  std::string shown_;
};

bool ModeIs(char letter);
int64_t NowMinutes();
// The wait between two opens of a busy file: a random 1 to 3000 ms.
int OpenRetryMs();

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
// An entry whose time lies more than a day ahead is damaged and counts as stale too.
bool IsStale(const RawEntry& entry, int64_t nowMinutes);
// Whether the entry carries this identity.
bool NumberIsMine(const RawEntry& entry, const LockIdentity& id);
bool IsMine(const RawEntry& entry, const LockIdentity& id);
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

}  // namespace kap::locking
