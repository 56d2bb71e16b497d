// The terminal identity: a random number and the computer name, shared through LOCKS.TMP by
// every program started in the same working directory.
#include <cstdint>

#include "locking/lock_internal.h"
#include "platform/bytes.h"
#include "session/session.h"

namespace kap {
namespace locking {

namespace {

std::string IdentityPath() { return GetOs().MapPath(CurrentSession().WorkDir + "LOCKS.TMP"); }

int32_t ReadLittleEndian(const std::string& bytes) {
  return static_cast<int32_t>(LittleEndian32(bytes, 0));
}

std::string LittleEndian(int32_t number) {
  return LittleEndianBytes32(static_cast<uint32_t>(number));
}

// Draws a new identity. The seed is the time of day in hundredths, as the suite does, mixed
// with the working directory and the host: two terminals that start in the same hundredth of
// a second would otherwise draw the same number, and key locks compare only numbers.
LockIdentity NewIdentity() {
  Os& os = GetOs();
  const LocalTime now = os.Now();
  const uint32_t hundredths = static_cast<uint32_t>(
      ((now.hour * 60 + now.minute) * 60 + now.second) * 100 + now.hundredths);
  const std::string host = PadOrCut(ComputerName(), kLockHostSize);
  uint32_t mix = 2166136261u;  // FNV-1a
  for (char c : IdentityPath() + "|" + host) {
    mix = (mix ^ static_cast<unsigned char>(c)) * 16777619u;
  }
  os.SeedRandom(hundredths ^ mix);
  LockIdentity id;
  id.host = host;
  for (int draw = 0; draw < 100 && id.number == 0; ++draw) {
    id.number = static_cast<int32_t>(os.Random() * 2147483647.0);
  }
  // A generator stuck at 0 must not hang the program.
  if (id.number == 0) id.number = static_cast<int32_t>(1 + (hundredths ^ mix) % 2147483646u);
  return id;
}

}  // namespace

bool SetUpIdentity(LockWait& wait) {
  LockState& state = Locks();
  if (state.identity.number != 0) return true;
  Os& os = GetOs();
  for (;;) {
    OpenResult result = OpenResult::kFailed;
    std::unique_ptr<File> file =
        os.OpenFile(IdentityPath(), true, false, Sharing::kExclusive, &result);
    if (!file) {
      // Busy: another program of this terminal is reading or writing it, a moment. Any other
      // failure is told while the attempts go on: an identity of this process alone would
      // let two programs of the terminal take each other's entries for a dead program's.
      if (result != OpenResult::kBusy) wait.ShowFailure(IdentityPath(), os.LastError());
      if (!wait.Pause(OpenRetryMs())) return false;
      continue;
    }
    std::string bytes;
    if (file->ReadAt(0, kLockIdentitySize, &bytes) &&
        bytes.size() == static_cast<size_t>(kLockIdentitySize)) {
      state.identity.number = ReadLittleEndian(bytes);
      state.identity.host = bytes.substr(4, kLockHostSize);
    }
    // An empty, new or cut-short file gets a fresh identity written in full; so does a
    // negative number, which no terminal draws: it is damage, and no liveness mark can be
    // held at a negative place, so every lock call would be tried again for ever.
    if (state.identity.number <= 0) {
      state.identity = NewIdentity();
      if (!file->WriteAt(0, LittleEndian(state.identity.number) + state.identity.host)) {
        state.identity = LockIdentity();
        wait.ShowFailure(IdentityPath(), os.LastError());
        if (!wait.Pause(OpenRetryMs())) return false;
        continue;
      }
    }
    // Still holding LOCKS.TMP, so that two programs of the terminal starting together do not
    // both take the other for dead.
    ClearLeftovers();
    return true;
  }
}

}  // namespace locking

const LockIdentity& CurrentLockIdentity() {
  locking::LockWait wait;
  locking::SetUpIdentity(wait);
  return locking::Locks().identity;
}

void UseOwnLockIdentity() {
  locking::LockState& state = locking::Locks();
  Os& os = GetOs();
  state.identity.host = PadOrCut(ComputerName(), kLockHostSize);
  state.identity.number = 0;
  // The generator is seeded per process: no other process draws the same sequence.
  for (int draw = 0; draw < 100 && state.identity.number == 0; ++draw) {
    state.identity.number = static_cast<int32_t>(os.Random() * 2147483647.0);
  }
  if (state.identity.number == 0) state.identity.number = 1;
}

bool PeekLockIdentity(LockIdentity* identity) {
  Os& os = GetOs();
  const std::string path = locking::IdentityPath();
  if (!os.FileExists(path)) return false;
  OpenResult result = OpenResult::kFailed;
  std::unique_ptr<File> file = os.OpenFile(path, false, true, Sharing::kShared, &result);
  // Busy only while a program of this terminal sets its identity up: a moment.
  while (!file && result == OpenResult::kBusy) {
    os.SleepMs(static_cast<int>(os.Random() * 300) + 1);
    file = os.OpenFile(path, false, true, Sharing::kShared, &result);
  }
  std::string bytes;
  if (!file || !file->ReadAt(0, kLockIdentitySize, &bytes) ||
      bytes.size() != static_cast<size_t>(kLockIdentitySize)) {
    return false;
  }
  identity->number = locking::ReadLittleEndian(bytes);
  identity->host = bytes.substr(4, kLockHostSize);
  return identity->number > 0;
}

}  // namespace kap
