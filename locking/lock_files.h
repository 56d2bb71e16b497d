// Record locking by lock files shared by all terminals: RootDir + "LOCKS\<name>.lck", entries
// of 121 bytes, one terminal identity per working directory kept in WorkDir + "LOCKS.TMP".
#pragma once

#include <cstdint>
#include <string>

namespace kap {

// Locks one record by its key bytes (packed digits become two decimal digits).
// 0 when held; -1 when given up with Esc (mode "P") or taken by another terminal (mode "S").
int16_t LockRecord(const std::string& fileName, const std::string& key);
int16_t LockRange(const std::string& fileName, const std::string& lockType,
                  const std::string& fromKey, const std::string& toKey);
// Releases this terminal's newest entry in the file: 0, or -1 when it holds none.
int16_t UnlockRecord(const std::string& fileName);
// "P": Esc ends the wait; "S": fail at once; anything else: wait until free.
std::string& LockWaitMode();
// The printable lock key text of a record key.
std::string LockKeyText(const std::string& key);

// Forgets the terminal identity and the wait mode (tests).
void ResetLockState();

}  // namespace kap
