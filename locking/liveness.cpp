// Holders that die lose their entries: a process holding entries keeps a mark in
// LOCKS\ALIVE.TMP at its identity number, which the system drops when the process ends. An
// entry of this computer without a living holder is abandoned at once; entries of other
// computers keep the 30-minute rule. A living holder renews its entries' time.
#include <climits>

#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace kap {
namespace locking {

namespace {

// Renewing every few minutes keeps an entry far from the 30-minute limit at little cost.
constexpr int64_t kRenewMinutes = 5;
// A lock file busy during the start-up sweep is tried this many times, then left to the
// lock calls, which clear the same leftovers when they meet them.
constexpr int kSweepTries = 10;

class MarksLivenessImpl : public HolderLiveness {
 public:
  Hold HoldFor(int32_t number, std::string* where) override {
    File* file = Open(where);
    if (!file) return Hold::kFailed;
    if (!file->MarksSupported()) return Hold::kUnsupported;
    if (file->HoldMark(number)) return Hold::kHeld;
    *where = GetOs().MapPath(Path());
    return Hold::kFailed;
  }

  void Release(int32_t number) override {
    if (file_) file_->ReleaseMark(number);
  }

  bool OthersAlive(int32_t number) override {
    File* file = Open(nullptr);
    if (!file || !file->MarksSupported()) return true;
    return file->MarkHeldElsewhere(number);
  }

 private:
  static std::string Path() { return CurrentSession().RootDir + "LOCKS\\ALIVE.TMP"; }

  File* Open(std::string* where) {
    if (file_) return file_.get();
    Os& os = GetOs();
    OpenResult result = OpenResult::kFailed;
    file_ = OpenStoreFile(Path(), true, Sharing::kShared, &result);
    if (!file_ && result == OpenResult::kPathMissing) {
      const std::string dir = CurrentSession().RootDir + "LOCKS";
      if (os.MakeDir(dir)) {
        file_ = OpenStoreFile(Path(), true, Sharing::kShared, &result);
      } else if (where) {
        *where = os.MapPath(dir);
        return nullptr;
      }
    }
    if (!file_ && where) *where = os.MapPath(Path());
    return file_.get();
  }

  std::unique_ptr<File> file_;
};

const std::string& ThisComputer() {
  static const std::string name = PadOrCut(ComputerName(), kLockHostSize);
  return name;
}

// The number of an entry of this computer, or 0 for another computer's or a damaged number.
int32_t LocalNumber(const RawEntry& entry) {
  const LockIdentity& id = Locks().identity;
  // On the server every holder's liveness is known, whatever its computer. Two computers'
  // terminals of one number share a mark: one is then taken for alive, never the reverse.
  const bool anyComputer = LocksOnServer();
  const bool thisComputer =
      entry.host() == ThisComputer() || (id.number != 0 && entry.host() == id.host);
  if (!anyComputer && !thisComputer) return 0;
  int64_t number = 0;
  if (!ParseNumber(entry.number(), &number) || number <= 0 || number > INT32_MAX) return 0;
  return static_cast<int32_t>(number);
}

void DropMarkWhenIdle() {
  LockState& state = Locks();
  if (state.held.empty() && state.markHeld) {
    Liveness().Release(state.identity.number);
    state.markHeld = false;
  }
}

}  // namespace

std::unique_ptr<HolderLiveness> MarksLiveness() { return std::make_unique<MarksLivenessImpl>(); }

HolderLiveness& Liveness() {
  LockState& state = Locks();
  if (!state.liveness) state.liveness = MarksLiveness();
  return *state.liveness;
}

bool HoldLivenessMark(LockWait& wait) {
  LockState& state = Locks();
  // Renewal also runs while the program sits waiting for a key.
  SetIdleHandler(RenewHeldLocks);
  while (!state.markHeld) {
    std::string where;
    switch (Liveness().HoldFor(state.identity.number, &where)) {
      case HolderLiveness::Hold::kHeld:
        state.markHeld = true;
        break;
      case HolderLiveness::Hold::kUnsupported:
        return true;  // only the 30-minute rule then
      case HolderLiveness::Hold::kFailed:
        wait.ShowFailure(where, GetOs().LastError());
        if (!wait.Pause(OpenRetryMs())) return false;
        break;
    }
  }
  return true;
}

void ForgetHeld(const std::string& path, int64_t offset) {
  LockState& state = Locks();
  auto file = state.held.find(path);
  if (file != state.held.end()) {
    file->second.erase(offset);
    if (file->second.empty()) state.held.erase(file);
  }
  DropMarkWhenIdle();
}

AbandonedCheck::AbandonedCheck(const std::string& path, int64_t nowMinutes)
    : path_(path), now_(nowMinutes) {}

bool AbandonedCheck::operator()(int64_t offset, const RawEntry& entry) {
  if (IsStale(entry, now_)) return true;
  if (entry.Free()) return false;
  const int32_t number = LocalNumber(entry);
  if (number == 0) return false;
  LockState& state = Locks();
  if (number == state.identity.number) {
    auto file = state.held.find(path_);
    if (file != state.held.end() && file->second.count(offset)) return false;
    // This terminal's, not this process's: a dead program's only when no other program of
    // this terminal lives (its entries cannot be told apart from theirs).
  }
  auto known = alive_.find(number);
  if (known == alive_.end()) known = alive_.emplace(number, Liveness().OthersAlive(number)).first;
  return !known->second;
}

void ClearLeftovers() {
  LockState& state = Locks();
  const LockIdentity id = state.identity;
  HolderLiveness& liveness = Liveness();
  if (liveness.OthersAlive(id.number)) return;
  Os& os = GetOs();
  const std::string dir = CurrentSession().RootDir + "LOCKS";
  for (const std::string& name : StoreFileNames(dir)) {
    if (name.size() < 5 || UpperAscii(name.substr(name.size() - 4)) != ".LCK") continue;
    std::unique_ptr<File> file;
    for (int attempt = 0; attempt < kSweepTries && !file; ++attempt) {
      OpenResult result = OpenResult::kFailed;
      file = OpenStoreFile(dir + "\\" + name, false, Sharing::kExclusive, &result);
      if (!file && result != OpenResult::kBusy) break;
      if (!file) os.SleepMs(OpenRetryMs());
    }
    if (!file) continue;
    // Asked again under the file's lock: a program of this terminal that started meanwhile
    // holds its mark before it writes an entry here.
    if (liveness.OthersAlive(id.number)) return;
    ScanEntries(*file, [&](int64_t at, const RawEntry& entry) {
      if (!entry.Free() && IsMine(entry, id)) file->WriteAt(at, ClearedBytes(entry));
      return true;
    });
  }
}

}  // namespace locking

void RenewHeldLocks() {
  locking::LockState& state = locking::Locks();
  if (state.held.empty()) return;
  const int64_t now = locking::NowMinutes();
  if (now >= state.renewedAt && now - state.renewedAt < locking::kRenewMinutes) return;
  const std::string time = PadOrCut(std::to_string(now), 8);
  bool all = true;
  for (auto file = state.held.begin(); file != state.held.end();) {
    OpenResult result = OpenResult::kFailed;
    // One try: a busy or failing file is renewed on a later call, never waited for here.
    std::unique_ptr<File> open =
        locking::OpenStoreFile(file->first, false, Sharing::kExclusive, &result);
    if (!open) {
      all = false;
      ++file;
      continue;
    }
    for (auto at = file->second.begin(); at != file->second.end();) {
      std::string bytes;
      const bool read = open->ReadAt(*at, kLockEntrySize, &bytes);
      const bool whole = read && bytes.size() == static_cast<size_t>(kLockEntrySize);
      if (whole && !locking::RawEntry{bytes}.Free() &&
          locking::IsMine(locking::RawEntry{bytes}, state.identity)) {
        if (!open->WriteAt(*at + 26, time)) all = false;
        ++at;
      } else if (read) {
        at = file->second.erase(at);  // cleared by someone else: no longer ours to renew
      } else {
        all = false;
        ++at;
      }
    }
    file = file->second.empty() ? state.held.erase(file) : std::next(file);
  }
  if (all) state.renewedAt = now;
  locking::DropMarkWhenIdle();
}

LockHolder JudgeLockHolder(const LockEntry& entry, int64_t nowMinutes) {
  const std::string bytes = entry.Bytes();
  const locking::RawEntry raw{bytes};
  if (locking::IsStale(raw, nowMinutes)) return LockHolder::kStale;
  if (raw.Free()) return LockHolder::kFree;
  const int32_t number = locking::LocalNumber(raw);
  if (number == 0) return LockHolder::kRemote;
  return locking::Liveness().OthersAlive(number) ? LockHolder::kAlive : LockHolder::kDead;
}

}  // namespace kap
