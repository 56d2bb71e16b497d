// Lock-file entries: every 121-byte piece of a lock file as another program reads and judges
// it; an entry written back must be 121 bytes and read back the same.
#include <string>

#include "fuzz/fuzz_support.h"
#include "locking/lock_files.h"
#include "session/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Judging a holder marks this process alive in the working folder's LOCKS: keep it ours.
  kap::CurrentSession().WorkDir = kap::fuzz::ScratchFolder();
  kap::fuzz::Input input(data, size);
  int64_t now = 0;
  for (int i = 0; i < 5; ++i) now = (now << 8) | input.Byte();
  const std::string file = input.Rest();
  for (size_t at = 0; at + 121 <= file.size(); at += 121) {
    const kap::LockEntry entry = kap::LockEntry::Parse(file.substr(at, 121));
    const std::string bytes = entry.Bytes();
    if (bytes.size() != 121) __builtin_trap();
    if (kap::LockEntry::Parse(bytes).Bytes() != bytes) __builtin_trap();
    int64_t number = 0;
    entry.NumberValue(&number);
    entry.TimeValue();
    entry.NumberBlank();
    kap::JudgeLockHolder(entry, now);
  }
  return 0;
}
