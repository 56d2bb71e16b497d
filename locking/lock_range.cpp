// Taking and giving back locks: one exclusive open, scan and write per attempt, with waits
// between attempts while another terminal holds an overlapping entry.
#include <string_view>

#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "session/session.h"

namespace kap {

namespace {

using locking::Locks;

int64_t NowMinutes() { return MinutesSince1970(GetOs().Now()); }

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

bool NumberIsMine(const locking::RawEntry& entry, const LockIdentity& id) {
  int64_t number = 0;
  return locking::ParseNumber(entry.number(), &number) && number == id.number;
}

bool IsMine(const locking::RawEntry& entry, const LockIdentity& id) {
  return entry.host() == id.host && NumberIsMine(entry, id);
}

LockEntry NewEntry(const LockIdentity& id, char type, const std::string& fromKey,
                   const std::string& toKey) {
  LockEntry e;
  e.host = id.host;
  e.number = std::to_string(id.number);
  e.time = std::to_string(NowMinutes());
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

enum class Attempt { kHeld, kConflict, kFailed };

// One attempt: the entry written, another terminal's entry in the way, or a read or write of
// the file that failed (tried again like an open that fails).
Attempt TryLock(const std::string& name, char type, const std::string& fromKey,
             const std::string& toKey) {
  const LockIdentity& id = Locks().identity;
  std::unique_ptr<File> file = locking::OpenLockFile(name, true);
  const int64_t now = NowMinutes();
  int64_t writeAt = -1;
  bool conflict = false;
  const int64_t end = locking::ScanEntries(*file, [&](int64_t at, locking::RawEntry entry) {
    if (locking::IsStale(entry, now)) {
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
  if (end < 0) return Attempt::kFailed;
  if (conflict) return Attempt::kConflict;
  // Appending goes to the end of the last whole entry, over any cut-short piece, so that the
  // file stays a sequence of whole entries for every program reading it.
  const std::string bytes = NewEntry(id, type, fromKey, toKey).Bytes();
  return file->WriteAt(writeAt >= 0 ? writeAt : end, bytes) ? Attempt::kHeld : Attempt::kFailed;
}

bool ModeIs(char letter) {
  const std::string& mode = Locks().waitMode;
  return !mode.empty() && (mode[0] == letter || mode[0] == letter - 'A' + 'a');
}

void ShowWaitMessage(const std::string& text) {
  locking::LockState& state = Locks();
  if (state.customSink) {
    state.sink.show(text);
  } else {
    ShowMessage(24, text);
  }
}

void HideWaitMessage() {
  locking::LockState& state = Locks();
  if (state.customSink) {
    if (state.sink.hide) state.sink.hide();
  } else {
    PopWindow();
  }
}

}  // namespace

std::string LockWaitText(bool escOffered) {
  const std::string language = CurrentSession().Language.substr(0, 3);
  std::string base, esc;
  if (language == "SPA") {
    base = "FICHERO BLOQUEADO. ESPERE UN MOMENTO";
    esc = " O PULSE [ESC] PARA SALIR";
  } else if (language == "GLG") {
    base = "FICHEIRO BLOQUEADO. ESPERE UM MOMENTO";
    esc = " OU PULSE [ESC] PARA SAIR";
  } else if (language == "OCI") {
    base = "FICH\xD4R BLOQUEJAT. ESPERATZ UN MOMENT";
    esc = " O POSSATZ [ESC] ENT\xB7 G\xD4SSER";
  } else {
    base = "FITXER BLOQUEJAT. ESPEREU UN MOMENT";
    esc = " O POLSEU [ESC] PER A EIXIR";
  }
  return base + (escOffered ? esc : "") + ".";
}

int16_t LockRange(const std::string& fileName, const std::string& lockType,
                  const std::string& fromKey, const std::string& toKey) {
  // An entry of any other type would block nothing and never be released by its meaning.
  if (lockType.size() != 1) return -1;
  const char type = locking::UpperAscii(lockType)[0];
  if (type != 'K' && type != 'F') return -1;
  locking::SetUpIdentity();
  const std::string name = locking::RightTrim(fileName);
  const std::string from = fromKey.substr(0, kLockKeyMax);
  const std::string to = toKey.substr(0, kLockKeyMax);
  Os& os = GetOs();
  int shown = 0;
  bool conflict = false;
  for (;;) {
    const Attempt attempt = TryLock(name, type, from, to);
    if (attempt == Attempt::kFailed) {
      os.SleepMs(static_cast<int>(os.Random() * 3000) + 1);
      continue;
    }
    conflict = attempt == Attempt::kConflict;
    if (!conflict || ModeIs('S')) break;
    const bool escOffered = ModeIs('P');
    if (shown < 2) ++shown;
    if (shown == 1) {
      ShowWaitMessage(LockWaitText(escOffered));
      if (escOffered) FlushKeys();
    }
    os.SleepMs(static_cast<int>(1000.0 * os.Random() + 1.5));
    if (escOffered) {
      int16_t key = 0, buttons = 0, row = 0, column = 0;
      ReadKey(key, buttons, row, column);
      if (key == key::kEsc) break;
    }
  }
  if (shown > 0) HideWaitMessage();
  return conflict ? -1 : 0;
}

int16_t LockRecord(const std::string& fileName, const std::string& key) {
  const std::string text = LockKeyText(key);
  return LockRange(fileName, "k", text, text);
}

int16_t UnlockRecord(const std::string& fileName) {
  locking::SetUpIdentity();
  const LockIdentity& id = Locks().identity;
  std::unique_ptr<File> file =
      locking::OpenLockFile(locking::UpperAscii(locking::Trim(fileName)), true);
  int64_t bestAt = -1, bestTime = 0;
  std::string best;
  const int64_t end = locking::ScanEntries(*file, [&](int64_t at, const locking::RawEntry& entry) {
    if (!entry.Free() && IsMine(entry, id) && (bestAt < 0 || entry.time() >= bestTime)) {
      bestAt = at;
      bestTime = entry.time();
      best = locking::ClearedBytes(entry);
    }
    return true;
  });
  // A file that cannot be read or written leaves the entry held: it expires in time.
  if (end < 0 || bestAt < 0) return -1;
  return file->WriteAt(bestAt, best) ? 0 : -1;
}

bool ReadLockEntries(const std::string& fileName, std::vector<LockEntry>* entries) {
  entries->clear();
  std::unique_ptr<File> file = locking::OpenLockFile(locking::Trim(fileName), false);
  if (!file) return !GetOs().FileExists(locking::LockFilePath(locking::Trim(fileName)));
  return locking::ScanEntries(*file, [&](int64_t, const locking::RawEntry& entry) {
    entries->push_back(LockEntry::Parse(std::string(entry.b)));
    return true;
  }) >= 0;
}

int ClearStaleLockEntries(const std::string& fileName) {
  std::unique_ptr<File> file = locking::OpenLockFile(locking::Trim(fileName), false);
  if (!file) return -1;
  const int64_t now = NowMinutes();
  int cleared = 0;
  locking::ScanEntries(*file, [&](int64_t at, const locking::RawEntry& entry) {
    if (locking::IsStale(entry, now) && file->WriteAt(at, locking::ClearedBytes(entry))) {
      ++cleared;
    }
    return true;
  });
  return cleared;
}

}  // namespace kap
