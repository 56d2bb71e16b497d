// Taking and giving back locks: one exclusive open, scan and write per attempt, with waits
// between attempts while another terminal holds an overlapping entry.
#include <set>
#include <string_view>

#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "platform/text.h"
#include "session/session.h"

namespace kap {

namespace {

using locking::Locks;

// Byte-wise (unsigned) comparison of the first `n` bytes of two texts; a text shorter than
// `n` compares as if it ended there.
int ComparePrefix(std::string_view a, std::string_view b, size_t n) {
  return a.substr(0, n).compare(b.substr(0, n));
}

bool Overlaps(const locking::RawEntry& entry, const std::string& fromKey,
              const std::string& toKey) {
  const size_t a = std::min<size_t>(entry.fromLength(), fromKey.size());
  const size_t b = std::min<size_t>(entry.toLength(), toKey.size());
  if (ComparePrefix(fromKey, entry.toKey(), a) > 0) return false;
  if (ComparePrefix(toKey, entry.fromKey(), b) < 0) return false;
  return true;
}

using locking::IsMine;
using locking::NumberIsMine;

LockEntry NewEntry(const LockIdentity& id, int64_t now, char type, const std::string& fromKey,
                   const std::string& toKey) {
  LockEntry e;
  e.host = id.host;
  e.number = std::to_string(id.number);
  e.time = std::to_string(now);
  e.type = type;
  if (type == 'K') {
    e.fromLength = std::to_string(fromKey.size());
    e.fromKey = fromKey;
    e.toLength = std::to_string(toKey.size());
    e.toKey = toKey;
  }
  e.lineEnd = "\r\n";
  return e;
}

enum class Attempt { kHeld, kConflict, kFailed, kGaveUp };

// One attempt: the entry written, another terminal's entry in the way, a read or write of the
// file that failed (shown, and tried again like an open that fails), or the operator gave up
// while the file could not be opened.
Attempt TryLock(const std::string& name, char type, const std::string& fromKey,
                const std::string& toKey, locking::LockWait& wait) {
  locking::LockState& state = Locks();
  const LockIdentity& id = state.identity;
  std::string path;
  std::unique_ptr<File> file = locking::OpenLockFile(name, &wait, &path);
  if (!file) return Attempt::kGaveUp;
  const int64_t now = locking::NowMinutes();
  locking::AbandonedCheck abandoned(path, now);
  int64_t writeAt = -1;
  bool conflict = false;
  const int64_t end = locking::ScanEntries(*file, [&](int64_t at, locking::RawEntry entry) {
    if (abandoned(at, entry)) {
      file->WriteAt(at, locking::ClearedBytes(entry));
      writeAt = at;  // free from now on
      return true;
    }
    if (entry.Free()) {
      writeAt = at;
      return true;
    }
    if (entry.type() == 'F' || type == 'F') {
      if (IsMine(entry, id)) {
        if (entry.type() == type) writeAt = at;
        return false;
      }
      conflict = true;
      return false;
    }
    if (entry.type() == 'K' && type == 'K') {
      if (!Overlaps(entry, fromKey, toKey)) return true;
      if (NumberIsMine(entry, id)) {
        writeAt = at;
      } else {
        conflict = true;
      }
      return false;
    }
    return true;
  });
  if (end < 0) {
    wait.ShowFailure(path, GetOs().LastError());
    return Attempt::kFailed;
  }
  if (conflict) return Attempt::kConflict;
  // Appending goes to the end of the last whole entry, over any cut-short piece, so that the
  // file stays a sequence of whole entries for every program reading it.
  const int64_t at = writeAt >= 0 ? writeAt : end;
  if (!file->WriteAt(at, NewEntry(id, now, type, fromKey, toKey).Bytes())) {
    wait.ShowFailure(path, GetOs().LastError());
    return Attempt::kFailed;
  }
  if (state.held.empty()) state.renewedAt = now;
  state.held[path].insert(at);
  return Attempt::kHeld;
}

}  // namespace

int16_t LockRange(const std::string& fileName, const std::string& lockType,
                  const std::string& fromKey, const std::string& toKey) {
  // An entry of any other type would block nothing and never be released by its meaning.
  if (lockType.size() != 1) return -1;
  const char type = UpperAscii(lockType)[0];
  if (type != 'K' && type != 'F') return -1;
  locking::LockWait wait;
  if (!locking::SetUpIdentity(wait)) return -1;
  // The mark goes first: a program that sees an entry must find its holder alive.
  if (!locking::HoldLivenessMark(wait)) return -1;
  RenewHeldLocks();
  const std::string name = TrimRight(fileName);
  const std::string from = fromKey.substr(0, kLockKeyMax);
  const std::string to = toKey.substr(0, kLockKeyMax);
  Os& os = GetOs();
  bool held = false;
  for (;;) {
    const Attempt attempt = TryLock(name, type, from, to, wait);
    if (attempt == Attempt::kGaveUp) break;
    if (attempt == Attempt::kFailed) {
      if (!wait.Pause(locking::OpenRetryMs())) break;
      continue;
    }
    held = attempt == Attempt::kHeld;
    if (held || locking::ModeIs('S')) break;
    wait.Show(LockWaitText(wait.escOffered()));
    if (!wait.Pause(static_cast<int>(1000.0 * os.Random() + 1.5))) break;
  }
  // Nothing held after all: the mark must not keep this process's leftovers looking alive.
  if (!held) locking::ForgetHeld("", -1);
  return held ? 0 : -1;
}

int16_t LockRecord(const std::string& fileName, const std::string& key) {
  const std::string text = LockKeyText(key);
  return LockRange(fileName, "k", text, text);
}

int16_t UnlockRecord(const std::string& fileName) {
  locking::LockWait wait;
  if (!locking::SetUpIdentity(wait)) return -1;
  const LockIdentity& id = Locks().identity;
  std::string path;
  std::unique_ptr<File> file =
      locking::OpenLockFile(UpperAscii(TrimSpaces(fileName)), &wait, &path);
  if (!file) return -1;
  static const std::set<int64_t> kNone;
  const auto heldHere = Locks().held.find(path);
  const std::set<int64_t>& mine = heldHere != Locks().held.end() ? heldHere->second : kNone;
  // This process's newest entry first: another program of the same terminal keeps its own.
  int64_t bestAt = -1, bestTime = 0, ownAt = -1, ownTime = 0;
  const int64_t end = locking::ScanEntries(*file, [&](int64_t at, const locking::RawEntry& entry) {
    if (entry.Free() || !IsMine(entry, id)) return true;
    if (bestAt < 0 || entry.time() >= bestTime) {
      bestAt = at;
      bestTime = entry.time();
    }
    if (mine.count(at) && (ownAt < 0 || entry.time() >= ownTime)) {
      ownAt = at;
      ownTime = entry.time();
    }
    return true;
  });
  const int64_t at = ownAt >= 0 ? ownAt : bestAt;
  std::string bytes;
  // A file that cannot be read or written leaves the entry there; no longer renewed, it
  // expires in time, or at once when this process ends.
  const bool cleared = end >= 0 && at >= 0 && file->ReadAt(at, kLockEntrySize, &bytes) &&
                       bytes.size() == static_cast<size_t>(kLockEntrySize) &&
                       file->WriteAt(at, locking::ClearedBytes(locking::RawEntry{bytes}));
  locking::ForgetHeld(path, at);
  return cleared ? 0 : -1;
}

bool ReadLockEntries(const std::string& fileName, std::vector<LockEntry>* entries) {
  entries->clear();
  std::unique_ptr<File> file = locking::OpenLockFile(TrimSpaces(fileName), nullptr);
  if (!file) return !locking::StoreFileExists(locking::LockFilePath(TrimSpaces(fileName)));
  return locking::ScanEntries(*file, [&](int64_t, const locking::RawEntry& entry) {
           entries->push_back(LockEntry::Parse(std::string(entry.b)));
           return true;
         }) >= 0;
}

int ClearAbandonedLockEntries(const std::string& fileName) {
  std::string path;
  std::unique_ptr<File> file = locking::OpenLockFile(TrimSpaces(fileName), nullptr, &path);
  if (!file) return -1;
  locking::AbandonedCheck abandoned(path, locking::NowMinutes());
  int cleared = 0;
  locking::ScanEntries(*file, [&](int64_t at, const locking::RawEntry& entry) {
    if ((!entry.Free() || !locking::Blank(entry.number())) && abandoned(at, entry) &&
        file->WriteAt(at, locking::ClearedBytes(entry))) {
      ++cleared;
    }
    return true;
  });
  return cleared;
}

int ClearLockEntry(const std::string& fileName, int64_t index, bool evenLive, LockEntry* was) {
  std::unique_ptr<File> file = locking::OpenLockFile(TrimSpaces(fileName), nullptr);
  if (!file || index < 0) return -1;
  std::string bytes;
  if (!file->ReadAt(index * kLockEntrySize, kLockEntrySize, &bytes) ||
      bytes.size() != static_cast<size_t>(kLockEntrySize)) {
    return -1;
  }
  *was = LockEntry::Parse(bytes);
  const LockHolder holder = JudgeLockHolder(*was, locking::NowMinutes());
  if (holder == LockHolder::kFree) return 1;
  if ((holder == LockHolder::kAlive || holder == LockHolder::kRemote) && !evenLive) return 2;
  return file->WriteAt(index * kLockEntrySize, locking::ClearedBytes(locking::RawEntry{bytes}))
             ? 0
             : -1;
}

}  // namespace kap
