// Lock files on disk: a terminal identity file and a lock file of fuzzed bytes, then locks
// taken, tested, listed, cleared and given back against them. A lock reported held must be
// listed as this terminal's, every listed entry is whole, and nothing is written outside the
// scratch folder.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "locking/lock_files.h"
#include "session/session.h"

namespace {

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

void Setup() {
  const std::string& root = kap::fuzz::ScratchFolder();
  mkdir((root + "LOCKS").c_str(), 0777);
  mkdir((root + "T01").c_str(), 0777);
}

bool Listed(const std::vector<kap::LockEntry>& entries, const kap::LockIdentity& id, char type,
            const std::string& key) {
  for (const kap::LockEntry& e : entries) {
    int64_t number = 0;
    if (e.type != type || !e.NumberValue(&number) || number != id.number) continue;
    if (type == 'F') return true;
    const std::string from = e.fromKey.substr(0, kap::LockEntry::LengthValue(e.fromLength));
    if (from == key.substr(0, kap::kLockKeyMax)) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool lockFolderHere = Exists("LOCKS");
  static const bool ready = (Setup(), true);
  (void)ready;
  kap::fuzz::Input input(data, size);
  const std::string& root = kap::fuzz::ScratchFolder();
  kap::ResetSession();
  kap::CurrentSession().RootDir = root;
  kap::CurrentSession().WorkDir = root + "T01/";
  kap::ResetLockState();
  kap::LockWaitMode() = "S";  // another terminal's entry fails at once instead of waiting
  kap::SetLockMessageSink({[](const std::string&) {}, [] {}});

  const uint8_t flags = input.Byte();
  const std::string identity = input.Text(40);
  if (flags & 1) {
    kap::fuzz::WriteScratchFile("T01/LOCKS.TMP", identity);
  } else {
    std::remove((root + "T01/LOCKS.TMP").c_str());
  }
  kap::LockIdentity peeked;
  if (kap::PeekLockIdentity(&peeked) &&
      (peeked.number == 0 || peeked.host.size() != static_cast<size_t>(kap::kLockHostSize)))
    __builtin_trap();

  const int operations = 1 + input.Byte() % 8;
  std::vector<std::pair<uint8_t, std::string>> steps;
  for (int i = 0; i < operations; ++i) {
    const uint8_t op = input.Byte();
    steps.emplace_back(op, input.Text(48));
  }
  kap::fuzz::WriteScratchFile("LOCKS/FUZZ.lck", input.Rest());

  const kap::LockIdentity& id = kap::CurrentLockIdentity();
  if (id.number == 0 || id.host.size() != static_cast<size_t>(kap::kLockHostSize)) __builtin_trap();
  std::vector<kap::LockEntry> entries;
  for (const auto& [op, key] : steps) {
    switch (op % 7) {
      case 0:
        if (kap::LockRecord("FUZZ", key) == 0) {
          if (!kap::ReadLockEntries("FUZZ", &entries)) __builtin_trap();
          if (!Listed(entries, id, 'K', kap::LockKeyText(key))) __builtin_trap();
        }
        break;
      case 1: {
        const char* type = (op & 0x10) ? "f" : (op & 0x20) ? "K" : "x";
        const std::string to = key.substr(key.size() / 2);
        if (kap::LockRange("fuzz", type, key.substr(0, key.size() / 2), to) == 0) {
          if (!kap::ReadLockEntries("FUZZ", &entries)) __builtin_trap();
          if (!Listed(entries, id, type[0] == 'f' ? 'F' : 'K', key.substr(0, key.size() / 2)))
            __builtin_trap();
        }
        break;
      }
      case 2:
        kap::UnlockRecord(op & 0x10 ? " fuzz " : "FUZZ");
        break;
      case 3: {
        if (!kap::ReadLockEntries("FUZZ", &entries)) break;
        const size_t whole =
            kap::fuzz::ReadScratchFile(root + "LOCKS/FUZZ.lck").size() / kap::kLockEntrySize;
        if (entries.size() != whole) __builtin_trap();
        const int64_t now = static_cast<int64_t>(key.size()) << (op % 24);
        for (const kap::LockEntry& e : entries) {
          if (e.Bytes().size() != static_cast<size_t>(kap::kLockEntrySize)) __builtin_trap();
          kap::JudgeLockHolder(e, now);
        }
        break;
      }
      case 4:
        kap::ClearAbandonedLockEntries("FUZZ");
        break;
      case 5: {
        // A live entry of this process is cleared only by giving it back: clearing it by hand
        // would leave the process holding an entry it can no longer find.
        if (!kap::ReadLockEntries("FUZZ", &entries) || entries.empty()) break;
        const size_t index = static_cast<size_t>(op) % entries.size();
        int64_t number = 0;
        const bool mine = entries[index].NumberValue(&number) && number == id.number;
        kap::LockEntry was;
        const int result =
            kap::ClearLockEntry("FUZZ", static_cast<int64_t>(index), (op & 0x80) && !mine, &was);
        if (result < -1 || result > 2) __builtin_trap();
        break;
      }
      case 6:
        kap::ClearLockEntry("FUZZ", -1 - static_cast<int64_t>(op), true, nullptr);
        break;
    }
  }
  for (int i = 0; i < 32 && kap::UnlockRecord("FUZZ") == 0; ++i) {
  }
  if (!lockFolderHere && Exists("LOCKS")) __builtin_trap();  // written outside the scratch
  kap::ResetLockState();
  return 0;
}
