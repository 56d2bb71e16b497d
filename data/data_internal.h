// State shared by the files of the data layer.
#pragma once

#include <cstdint>
#include <string>

#include "data/data_files.h"

namespace kap::data {

// Working areas of one call. Records longer than the data area use a larger one.
constexpr size_t kDataArea = 1536;
constexpr size_t kKeyArea = 256;

struct DataState {
  FileEntry entries[kFileTableSize + 1];
  // Stat answer per entry, read once at open: a file's keys cannot change while it is open.
  std::string statistics[kFileTableSize + 1];
  std::string lockModeStack;
  std::string saveStack;
  FatalHandler fatal;
  std::string accessLogProblem;  // "" while db.log takes every line
  bool inTransaction = false;    // between a Begin and its End or Abort
};

DataState& State();

// Entry of an open file number, 0 when it is not open (*freeEntry: highest free, or 0).
int FindSlot(int16_t fileNumber, int* freeEntry = nullptr);
// The file's statistics, "" when they cannot be read.
const std::string& Statistics(int entry);
// The message shown while a locked record or file is waited for, and the pause between tries.
std::string LockText();
void PauseForLock();
// Sum of the segment lengths of key `keyNumber`, 0 when there is no such key.
int KeyLength(const std::string& statistics, int keyNumber);

}  // namespace kap::data
