// Process-wide lock state, and finding and opening the shared lock files.
#include "formengine/screen.h"
#include "locking/lock_internal.h"
#include "session/session.h"

namespace kap {
namespace locking {

LockState& Locks() {
  static LockState state;
  return state;
}

std::string LockFilePath(const std::string& baseName) {
  Os& os = GetOs();
  const std::string dir = CurrentSession().RootDir + "LOCKS\\";
  std::string& known = Locks().paths[dir + baseName];
  if (!known.empty() && os.FileExists(known)) return known;
  std::string path = os.MapPath(dir + baseName + ".lck");
  if (!os.FileExists(path)) {
    path = os.MapPath(dir + UpperAscii(baseName) + ".lck");
    if (!os.FileExists(path)) return path;  // not made yet: nothing to remember
  }
  known = path;
  return path;
}

std::unique_ptr<File> OpenLockFile(const std::string& baseName, bool create) {
  Os& os = GetOs();
  bool madeDir = false;
  for (;;) {
    const std::string path = LockFilePath(baseName);
    if (!create && !os.FileExists(path)) return nullptr;
    OpenResult result = OpenResult::kFailed;
    std::unique_ptr<File> file = os.OpenFile(path, create, false, Sharing::kExclusive, &result);
    if (file) return file;
    if (result == OpenResult::kPathMissing) {
      if (!create) return nullptr;
      // Straight back to the open when the directory could be made; otherwise it is retried
      // after the wait like any other failure.
      if (!madeDir && os.MakeDir(CurrentSession().RootDir + "LOCKS")) {
        madeDir = true;
        continue;
      }
    }
    os.SleepMs(static_cast<int>(os.Random() * 3000) + 1);
  }
}

}  // namespace locking

std::string& LockWaitMode() { return locking::Locks().waitMode; }

void ResetLockState() { locking::Locks() = locking::LockState(); }

void SetLockMessageSink(LockMessageSink sink) {
  locking::LockState& state = locking::Locks();
  state.customSink = static_cast<bool>(sink.show);
  state.sink = std::move(sink);
}

}  // namespace kap
