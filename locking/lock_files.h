// Record locking by lock files shared by all terminals: RootDir + "LOCKS\<name>.lck", entries
// of 121 bytes, one terminal identity per working directory kept in WorkDir + "LOCKS.TMP".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/os.h"

namespace kap {

// Locks one record by its key bytes (packed digits become two decimal digits).
// 0 when held; -1 when given up with Esc (mode "P") or taken by another terminal (mode "S").
// While another terminal holds the key it waits, showing the waiting message; a lock file that
// cannot be opened, read or written is tried again without end.
int16_t LockRecord(const std::string& fileName, const std::string& key);
// lockType "K" (key range) or "F" (whole file), either case; keys are cut to 40 bytes.
// Same results as LockRecord; -1 also for a lockType that is neither, without touching the file.
int16_t LockRange(const std::string& fileName, const std::string& lockType,
                  const std::string& fromKey, const std::string& toKey);
// Releases this terminal's newest entry in the file: 0, or -1 when it holds none (or when the
// file could not be read or written; the entry then expires after 30 minutes).
int16_t UnlockRecord(const std::string& fileName);
// "P": Esc ends the wait; "S": fail at once; anything else: wait until free.
std::string& LockWaitMode();
// The printable lock key text of a record key.
std::string LockKeyText(const std::string& key);

// Renews the time of the entries this process holds when they are a few minutes old, so that
// no other program takes a living holder's lock for abandoned. Never waits: a lock file busy
// at that moment is renewed on a later call. Lock calls and the screen's key waits call it.
void RenewHeldLocks();
// Gives this process a terminal identity of its own, drawn now and kept nowhere, instead of
// the working directory's (a tool must not act as a running terminal).
void UseOwnLockIdentity();

// Forgets the terminal identity and the wait mode, and puts the screen sink back (tests). The
// liveness of what the forgotten identity holds stays with this process.
void ResetLockState();
// ResetLockState, and lets go of every liveness mark this process keeps, as its end would
// (tests, before their installation's folder goes: Windows removes no file that is still open).
void ResetLockStateAndMarks();

// --- Lock file layout, shared with every program of the suite ---

constexpr int kLockEntrySize = 121;
constexpr int kLockKeyMax = 40;
constexpr int kLockHostSize = 15;
constexpr int kLockStaleMinutes = 30;
constexpr int kLockIdentitySize = 19;

// One entry as stored: fields are the raw bytes of the file (space-padded text).
struct LockEntry {
  std::string host;                                  // 15
  std::string number;                                // 11
  std::string time;                                  // 8
  char type = ' ';                                   // 'K', 'F', ' ' free
  std::string fromLength, fromKey, toLength, toKey;  // 2, 40, 2, 40
  std::string lineEnd;                               // 2

  static LockEntry Parse(const std::string& bytes);  // `bytes` is 121 bytes long
  std::string Bytes() const;                         // exactly 121 bytes

  bool Free() const { return type == ' '; }
  bool NumberBlank() const;
  // The number field as an integer; false when it is not a plain decimal integer.
  bool NumberValue(int64_t* value) const;
  // The time field read like the suite reads numbers: leading digits, 0 when there are none.
  int64_t TimeValue() const;
  // A length field as a count 0..40; a field that is not a number counts as 0.
  static int LengthValue(const std::string& field);
};

// The identity of this terminal: the pair kept in LOCKS.TMP.
struct LockIdentity {
  int32_t number = 0;
  std::string host;  // 15 bytes
};

// This process's terminal identity, set up from LOCKS.TMP on first use. While another program
// of the same working directory holds LOCKS.TMP the set-up waits for it; without a usable
// working directory the identity is drawn for this process alone.
const LockIdentity& CurrentLockIdentity();
// Reads LOCKS.TMP of the working directory without creating or changing it; false when it is
// missing or holds no identity.
bool PeekLockIdentity(LockIdentity* identity);

// Whole minutes since 1 January 1970 00:00 of a local date and time.
int64_t MinutesSince1970(const LocalTime& time);

// Where the waiting message goes. The default shows it on screen row 24 and removes it with
// PopWindow; tools without a screen send it elsewhere.
struct LockMessageSink {
  std::function<void(const std::string& text)> show;
  std::function<void()> hide;
};
void SetLockMessageSink(LockMessageSink sink);
// The waiting message in the session language, with the Esc text when `escOffered`.
std::string LockWaitText(bool escOffered);
// The message shown while a lock file, the LOCKS folder or LOCKS.TMP cannot be used: the
// file's path and the cause in the session language, with the Esc text when `escOffered`.
std::string LockFailureText(const std::string& path, OsError cause, bool escOffered);

// Every entry of the lock file of `fileName` (nothing when the file does not exist); a trailing
// piece shorter than one entry is not an entry. False when the file exists but cannot be read.
bool ReadLockEntries(const std::string& fileName, std::vector<LockEntry>* entries);
// The state of an entry's holder as another program judges it.
enum class LockHolder {
  kFree,    // a free entry
  kAlive,   // a process of this computer holds it
  kDead,    // of this computer, and no process holds it any more
  kStale,   // not renewed for 30 minutes, or a time more than a day ahead
  kRemote,  // of another computer, renewed lately: alive as far as anyone here can tell
};
LockHolder JudgeLockHolder(const LockEntry& entry, int64_t nowMinutes);
// Clears the entries of dead holders and the stale ones in the lock file of `fileName`;
// returns how many, or -1 when there is no such lock file or it cannot be opened.
int ClearAbandonedLockEntries(const std::string& fileName);
// Clears entry `index` (from 0, as listed) of the lock file of `fileName`. An entry that is
// alive or of another computer is cleared only with `evenLive`. `was` receives the entry as
// it was. 0 cleared; 1 already free; 2 alive and not cleared; -1 no such entry or file.
int ClearLockEntry(const std::string& fileName, int64_t index, bool evenLive, LockEntry* was);

}  // namespace kap
