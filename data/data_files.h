// Data file layer: the FileTable of open data files, the calls into the record manager with
// lock modes and lock waits, the record operations, the save stack and the access log "db.log".
// Statuses are 16-bit: 0 success, the layer's own below, and the record manager's codes
// (rm:: in platform/record_manager.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kap {

constexpr int kFileTableSize = 40;

// The layer's statuses.
namespace data_status {
constexpr int16_t kOk = 0;
constexpr int16_t kNotOpen = 3;         // the file number has no open entry
constexpr int16_t kAlreadyOpen = 1002;  // OpenDataFile on a number that is open
constexpr int16_t kTableFull = 1003;    // all kFileTableSize entries are taken
constexpr int16_t kNoSuchKey = 1004;    // FindRecord on a key number the file lacks
}  // namespace data_status

// FindRecord's modes: the record whose key equals the value, or the first at or after it, or
// the last at or before it (any positive or negative mode reads as these two).
namespace find_mode {
constexpr int16_t kEqual = 0;
constexpr int16_t kGreaterOrEqual = 1;
constexpr int16_t kLessOrEqual = -1;
}  // namespace find_mode

// A file's lock mode (FileEntry::LockMode), set by SetLockMode's letters "d", "a" and "b".
namespace lock_mode {
constexpr int16_t kNone = 0;    // reads take no lock
constexpr int16_t kWait = 1;    // reads lock the record, waiting (with a message) while locked
constexpr int16_t kNoWait = 2;  // reads lock the record, answering at once when locked
}  // namespace lock_mode

struct FileEntry {
  int16_t FileNumber = 0;      // 0 = free
  std::string PositionBlock;   // 128 bytes
  char* RecordArea = nullptr;  // the caller's record variable
  size_t RecordCapacity = 0;   // bytes the caller's record variable holds
  int32_t RecordLength = 0;
  int16_t KeyNumber = 0;
  std::string KeyValue;
  int16_t LockMode = lock_mode::kNone;
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

// Closes every file and frees every entry (the record manager's reset); the entries stay as
// they were when that fails (`status`).
void ResetDataFiles(int16_t& status);
// Opens (creating it from RootDir + "ddf\<base>.xdf" when missing) the data file `name` for
// `fileNumber`, reading into and writing from `record` (at least the record length long). The
// caller keeps `record` alive and in place until the file is reset: every later call on the
// file number reads from or writes into it.
// A fatal open error shows its message and ends the program through the fatal handler; when
// an installed handler returns, the entry is left free and `status` holds the error. A file
// whose record length exceeds `capacity` is such an error (22): records are never copied
// past the caller's variable. File number 0 (the mark of a free entry) answers kNotOpen; a
// number already open kAlreadyOpen; a full table kTableFull. A file locked by another
// program is waited for.
void OpenDataFile(int16_t fileNumber, const std::string& name, void* record, size_t capacity,
                  int16_t& status);
template <size_t N>
void OpenDataFile(int16_t fileNumber, const std::string& name, char (&record)[N], int16_t& status) {
  OpenDataFile(fileNumber, name, record, N, status);
}
// The length of key `keyNumber` (0 when the file has no such key) and of the file's records;
// both 0 when the file is not open.
void GetFileInfo(int16_t fileNumber, int16_t keyNumber, int16_t& keyLength, int16_t& recordLength);
// One record manager `operation` (rm::k...) on table entry `entry` (1 .. kFileTableSize) with
// its record buffer, key value and key number. Under a lock mode the reads lock the record; in
// lock_mode::kWait a locked record or file is retried after a random pause of up to ten
// seconds, with a message on row 24 from the second try, until it is free.
void CallRecordManager(int entry, int16_t operation, int16_t& status);
// Applies `modes` letter by letter to the file's lock mode: "d" none, "a" lock and wait, "b"
// lock without waiting, "+" saves the current mode, "-" restores the file's last saved mode.
// E.g. "+a" ... "-" locks for a while and puts back what was there. kNotOpen when not open.
void SetLockMode(int16_t fileNumber, const std::string& modes, int16_t& status);

// Reads into the record buffer the record of key `keyNumber` picked by `mode` (find_mode) for
// `value` (cut or padded with zero bytes to the key length); it becomes the current record of
// that key. kNoSuchKey when the file lacks the key, rm::kKeyNotFound or rm::kEndOfFile when no
// record matches.
void FindRecord(int16_t fileNumber, int16_t keyNumber, const std::string& value, int16_t mode,
                int16_t& status);
// Moves `count` records forward (backward when negative) along the current key and reads the
// one reached; rm::kEndOfFile past either end. 0 moves nowhere.
void SkipRecords(int16_t fileNumber, int16_t count, int16_t& status);
// -1 when moving `count` records along the current key (backward when negative) reaches a
// record whose key image is still within `bound` (at most it forward, at least it backward),
// else 0. The current record stays current (it is read into the buffer again).
int16_t RecordsAhead(int16_t fileNumber, int16_t count, const std::string& bound);
// With position 0: the physical position of the current record (0 when there is none or the
// file is not open). Otherwise reads the record at that physical position (making it current)
// and returns the status.
int32_t RecordPosition(int16_t fileNumber, int32_t position);
// Insert the record buffer as a new record; update or delete the current record. Inserts and
// updates write a line to the access log. After a refused update the buffer holds the
// stored record again.
void InsertRecord(int16_t fileNumber, int16_t& status);
void UpdateRecord(int16_t fileNumber, int16_t& status);
void DeleteRecord(int16_t fileNumber, int16_t& status);
// The bytes `value` sorts by under the file's current key (binary segments reversed, the
// alternate collating sequence applied): key images compare as plain strings. `value`
// unchanged when the file is not open.
std::string KeyImage(const std::string& value, int16_t fileNumber);
// KeyImage of the current record's key; "" when not open.
std::string CurrentKeyImage(int16_t fileNumber);

// Transactions over the open files: what their writes change between BeginTransaction and
// EndTransaction is kept whole, or not at all after AbortTransaction, a commit that fails or a
// crash. Begin answers rm::kTransactionActive while one is open; End and Abort
// rm::kNoTransaction when none is. Inside a transaction a call in lock_mode::kWait does not
// wait: it answers rm::kRecordLocked or rm::kFileLocked at once, since waiting would hold the
// transaction's files against a holder that may itself be waiting for them.
void BeginTransaction(int16_t& status);
void EndTransaction(int16_t& status);
void AbortTransaction(int16_t& status);
// Runs `work` as one transaction, ended when it answers 0 and aborted otherwise. When `work`
// answers rm::kRecordLocked or rm::kFileLocked (another program holds what it must write), the
// transaction is undone and `work` runs again from its start after a random pause of up to ten
// seconds, with the waiting message on row 24 from the second try, until it gets through.
// Returns the status of `work`, or else of the Begin or the commit that failed.
int16_t RunTransaction(const std::function<int16_t()>& work);

// A last-in first-out stack of values, shared by the whole program (up to 32767 bytes a
// value). PopSaved gives "" when the stack is empty.
void PushSaved(const std::string& value);
std::string PopSaved();
// A copy of `length` bytes at `address` ("" for null), and the way back: `address` must hold
// bytes.size() bytes.
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
