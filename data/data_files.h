// Data file layer: the FileTable of open data files, the calls into the record manager with
// lock modes and lock waits, the record operations, the save stack and the access log "db.log".
// Statuses are 16-bit: 0 success, 3 not open, 1002 already open, 1003 table full, 1004 no such
// key, and the record manager's own codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kap {

constexpr int kFileTableSize = 40;

struct FileEntry {
  int16_t FileNumber = 0;            // 0 = free
  std::string PositionBlock;         // 128 bytes
  char* RecordArea = nullptr;        // the caller's record variable
  size_t RecordCapacity = 0;         // bytes the caller's record variable holds
  int32_t RecordLength = 0;
  int16_t KeyNumber = 0;
  std::string KeyValue;
  int16_t LockMode = 0;              // 0 no lock, 1 lock and wait, 2 lock without waiting
};

// Entries 1 to 40; entry 0 is the scratch position block of the reset.
FileEntry& FileTable(int entry);
// Clears the table, the lock-mode stack and the save stack (tests).
void ResetDataState();

// The libpq connection string of the installation's data server: KAPSERVIDOR, else Vora.ini
// [Dades] Servidor; "" (or "-" in KAPSERVIDOR) for the local SQLite files.
std::string ChosenRecordServer();
// Makes the record manager use that choice; programs call it once the session is known.
void ChooseRecordEngine();

void ResetDataFiles(int16_t& status);
// Opens (creating it from RootDir + "ddf\<base>.xdf" when missing) the data file `name` for
// `fileNumber`, reading into and writing from `record` (at least the record length long).
// A fatal open error shows its message and ends the program through the fatal handler; when
// an installed handler returns, the entry is left free and `status` holds the error. A file
// whose record length exceeds `capacity` is such an error (22): records are never copied
// past the caller's variable. File number 0 (the mark of a free entry) answers 3.
void OpenDataFile(int16_t fileNumber, const std::string& name, void* record, size_t capacity,
                  int16_t& status);
template <size_t N>
void OpenDataFile(int16_t fileNumber, const std::string& name, char (&record)[N],
                  int16_t& status) {
  OpenDataFile(fileNumber, name, record, N, status);
}
void GetFileInfo(int16_t fileNumber, int16_t keyNumber, int16_t& keyLength,
                 int16_t& recordLength);
void CallRecordManager(int entry, int16_t operation, int16_t& status);
void SetLockMode(int16_t fileNumber, const std::string& modes, int16_t& status);

void FindRecord(int16_t fileNumber, int16_t keyNumber, const std::string& value, int16_t mode,
                int16_t& status);
void SkipRecords(int16_t fileNumber, int16_t count, int16_t& status);
int16_t RecordsAhead(int16_t fileNumber, int16_t count, const std::string& bound);
int32_t RecordPosition(int16_t fileNumber, int32_t position);
void InsertRecord(int16_t fileNumber, int16_t& status);
void UpdateRecord(int16_t fileNumber, int16_t& status);
void DeleteRecord(int16_t fileNumber, int16_t& status);
std::string KeyImage(const std::string& value, int16_t fileNumber);
std::string CurrentKeyImage(int16_t fileNumber);

void PushSaved(const std::string& value);
std::string PopSaved();
std::string RecordBytes(const void* address, size_t length);
void PutRecordBytes(const std::string& bytes, void* address);

// The access log "db.log" in the current folder. CheckAccessLog tells the operator, once per
// run, when an existing log cannot be written; an append that fails later does the same. After
// that AccessLogProblem names the file and the cause (for the program's closing words on
// stderr); "" while every line was written.
void CheckAccessLog();
const std::string& AccessLogProblem();

// What ends the program after the fatal open message (default: close everything, exit 0).
// Tests and tools install their own.
using FatalHandler = std::function<void(const std::string& message, int16_t status)>;
void SetFatalHandler(FatalHandler handler);

}  // namespace kap
