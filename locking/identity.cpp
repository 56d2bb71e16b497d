// The terminal identity: a random number and the computer name, shared through LOCKS.TMP by
// every program started in the same working directory.
#include <cstdint>

#include "locking/lock_internal.h"
#include "session/session.h"

namespace kap {
namespace locking {

namespace {

std::string IdentityPath() { return GetOs().MapPath(CurrentSession().WorkDir + "LOCKS.TMP"); }

int32_t ReadLittleEndian(const std::string& bytes) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int32_t>(v);
}

std::string LittleEndian(int32_t number) {
  const uint32_t v = static_cast<uint32_t>(number);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return bytes;
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

void SetUpIdentity() {
  LockState& state = Locks();
  if (state.identity.number != 0) return;
  Os& os = GetOs();
  for (;;) {
    OpenResult result = OpenResult::kFailed;
    std::unique_ptr<File> file = os.OpenFile(IdentityPath(), true, false, Sharing::kExclusive,
                                             &result);
    if (!file) {
      if (result == OpenResult::kBusy) {
        // Another program of this terminal is reading or writing it: it will be done soon.
        os.SleepMs(static_cast<int>(os.Random() * 3000) + 1);
        continue;
      }
      // No usable working directory: the identity lives for this process only, which still
      // keeps its locks apart from every other terminal's.
      state.identity = NewIdentity();
      return;
    }
    std::string bytes;
    if (file->ReadAt(0, kLockIdentitySize, &bytes) &&
        bytes.size() == static_cast<size_t>(kLockIdentitySize)) {
      state.identity.number = ReadLittleEndian(bytes);
      state.identity.host = bytes.substr(4, kLockHostSize);
    }
    // An empty, new or cut-short file gets a fresh identity written in full.
    if (state.identity.number == 0) {
      state.identity = NewIdentity();
      file->WriteAt(0, LittleEndian(state.identity.number) + state.identity.host);
    }
    return;
  }
}

}  // namespace locking

const LockIdentity& CurrentLockIdentity() {
  locking::SetUpIdentity();
  return locking::Locks().identity;
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
  return identity->number != 0;
}

}  // namespace kap
