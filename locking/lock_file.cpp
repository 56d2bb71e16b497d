// Process-wide lock state, and finding and opening the shared lock files.
#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "platform/record_manager.h"
#include "session/session.h"

#include <vector>

namespace kap {
namespace locking {

LockState& Locks() {
  static LockState state;
  return state;
}

namespace {

// A LOCKS file's name on the server: the folder and the upper-cased file name, the same from
// every computer wherever it keeps the root.
std::string ServerName(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return "LOCKS/" + UpperAscii(slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace

bool LocksOnServer() { return !RecordServerConnection().empty(); }

std::unique_ptr<File> OpenStoreFile(const std::string& path, bool create, Sharing sharing,
                                    OpenResult* result) {
  if (LocksOnServer()) {
    std::unique_ptr<File> file = OpenServerLockFile(ServerName(path), create, sharing, result);
    if (!file) return nullptr;
    file = GetOs().AdoptFile(std::move(file));
    if (!file && result) *result = OpenResult::kFailed;
    return file;
  }
  return GetOs().OpenFile(path, create, false, sharing, result);
}

bool StoreFileExists(const std::string& path) {
  if (LocksOnServer()) return ServerLockFileExists(ServerName(path));
  return GetOs().FileExists(path);
}

std::vector<std::string> StoreFileNames(const std::string& dir) {
  if (!LocksOnServer()) return GetOs().ListFiles(dir);
  std::vector<std::string> names;
  for (const std::string& name : ServerLockFileNames())
    names.push_back(name.substr(name.find_last_of('/') + 1));
  return names;
}

std::string LockFilePath(const std::string& baseName) {
  Os& os = GetOs();
  const std::string dir = CurrentSession().RootDir + "LOCKS\\";
  if (LocksOnServer()) return os.MapPath(dir + UpperAscii(baseName) + ".lck");
  // One path for every spelling of the name: the entries this process holds are known by it.
  std::string& known = Locks().paths[UpperAscii(dir + baseName)];
  if (!known.empty() && os.FileExists(known)) return known;
  std::string path = os.MapPath(dir + baseName + ".lck");
  if (!os.FileExists(path)) {
    path = os.MapPath(dir + UpperAscii(baseName) + ".lck");
    // Not made yet: remembered all the same, because where names are not case-sensitive any
    // spelling finds the file once it is made.
    if (!os.FileExists(path)) {
      known = path;
      return path;
    }
  }
  known = path;
  return path;
}

int OpenRetryMs() { return static_cast<int>(GetOs().Random() * 3000) + 1; }

std::unique_ptr<File> OpenLockFile(const std::string& baseName, LockWait* wait,
                                   std::string* pathOut) {
  Os& os = GetOs();
  bool madeDir = false;
  for (;;) {
    const std::string path = LockFilePath(baseName);
    if (pathOut) *pathOut = path;
    if (!wait && !StoreFileExists(path)) return nullptr;
    OpenResult result = OpenResult::kFailed;
    std::unique_ptr<File> file = OpenStoreFile(path, wait != nullptr, Sharing::kExclusive, &result);
    if (file) return file;
    if (!wait) {
      if (result != OpenResult::kBusy) return nullptr;
      os.SleepMs(OpenRetryMs());
      continue;
    }
    if (result == OpenResult::kPathMissing) {
      // Straight back to the open when the directory could be made; otherwise it is retried
      // after the wait like any other failure.
      const std::string dir = CurrentSession().RootDir + "LOCKS";
      if (!madeDir && os.MakeDir(dir)) {
        madeDir = true;
        continue;
      }
      wait->ShowFailure(os.MapPath(dir), os.LastError());
    } else if (result != OpenResult::kBusy) {
      wait->ShowFailure(path, os.LastError());
    }
    if (!wait->Pause(OpenRetryMs())) return nullptr;
  }
}

}  // namespace locking

std::string& LockWaitMode() { return locking::Locks().waitMode; }

namespace {

// The liveness of forgotten identities: tests act as several terminals from one process.
std::vector<std::unique_ptr<locking::HolderLiveness>>& KeptLiveness() {
  static std::vector<std::unique_ptr<locking::HolderLiveness>> kept;
  return kept;
}

}  // namespace

void ResetLockState() {
  locking::LockState& state = locking::Locks();
  // What the forgotten identity holds stays alive with the process, as it would in the
  // program that wrote it.
  if (state.liveness && state.markHeld) KeptLiveness().push_back(std::move(state.liveness));
  state = locking::LockState();
}

void ResetLockStateAndMarks() {
  ResetLockState();
  KeptLiveness().clear();
}

void SetLockMessageSink(LockMessageSink sink) {
  locking::LockState& state = locking::Locks();
  state.customSink = static_cast<bool>(sink.show);
  state.sink = std::move(sink);
}

}  // namespace kap
