// The record manager: one entry point, BTRCALL, with the published operation codes, position
// blocks and statuses, over a storage engine kept behind RecordEngine so that another backend
// can be added without touching its callers. Each data file is one SQLite database, or one
// table on a PostgreSQL server when the installation names one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"

namespace kap {

namespace rm {
// Operation codes. A lock bias (100 to 400) may be added to the reading operations.
constexpr int kOpen = 0;
constexpr int kClose = 1;
constexpr int kInsert = 2;
constexpr int kUpdate = 3;
constexpr int kDelete = 4;
constexpr int kGetEqual = 5;
constexpr int kGetNext = 6;
constexpr int kGetPrevious = 7;
constexpr int kGetGreater = 8;
constexpr int kGetGreaterOrEqual = 9;
constexpr int kGetLess = 10;
constexpr int kGetLessOrEqual = 11;
constexpr int kGetFirst = 12;
constexpr int kGetLast = 13;
constexpr int kCreate = 14;
constexpr int kStat = 15;
constexpr int kBeginTransaction = 19;  // 1019: concurrent form, treated alike
constexpr int kEndTransaction = 20;
constexpr int kAbortTransaction = 21;
constexpr int kGetPosition = 22;
constexpr int kGetDirect = 23;
constexpr int kStepNext = 24;
constexpr int kStop = 25;
constexpr int kUnlock = 27;
constexpr int kReset = 28;
constexpr int kStepFirst = 33;
constexpr int kStepLast = 34;
constexpr int kStepPrevious = 35;

constexpr int kBiasSingleWait = 100;
constexpr int kBiasSingleNoWait = 200;
constexpr int kBiasMultipleWait = 300;
constexpr int kBiasMultipleNoWait = 400;

// Open modes (key number of Open).
constexpr int kModeNormal = 0;
constexpr int kModeAccelerated = -1;
constexpr int kModeReadOnly = -2;
constexpr int kModeVerify = -3;  // write-verify; the same as normal here
constexpr int kModeExclusive = -4;

// Key flags of a creation block's and the statistics' key specifications.
constexpr uint16_t kKeyDuplicates = 0x0001;
constexpr uint16_t kKeyModifiable = 0x0002;
constexpr uint16_t kKeyBinary = 0x0004;
constexpr uint16_t kKeySegmented = 0x0010;  // another segment of the same key follows
constexpr uint16_t kKeyAcs = 0x0020;        // alternate collating sequence
constexpr uint16_t kKeyDescending = 0x0040;
constexpr uint16_t kKeyRepeatingDuplicates = 0x0080;
constexpr uint16_t kKeyExtendedType = 0x0100;
constexpr uint16_t kKeyNoCase = 0x0400;

// Statuses.
constexpr int16_t kOk = 0;
constexpr int16_t kInvalidOperation = 1;
constexpr int16_t kIoError = 2;
constexpr int16_t kNotOpen = 3;
constexpr int16_t kKeyNotFound = 4;
constexpr int16_t kDuplicateKey = 5;
constexpr int16_t kInvalidKeyNumber = 6;
constexpr int16_t kDifferentKeyNumber = 7;
constexpr int16_t kNoCurrency = 8;
constexpr int16_t kEndOfFile = 9;
constexpr int16_t kModifiableKeyChanged = 10;
constexpr int16_t kInvalidFileName = 11;
constexpr int16_t kFileNotFound = 12;
constexpr int16_t kDiskFull = 18;
constexpr int16_t kRecordManagerInactive = 20;
constexpr int16_t kKeyBufferTooShort = 21;
constexpr int16_t kDataBufferTooShort = 22;
constexpr int16_t kBadPositionBlock = 23;
constexpr int16_t kBadPageSize = 24;
constexpr int16_t kCannotCreate = 25;
constexpr int16_t kBadKeyCount = 26;
constexpr int16_t kBadKeyPosition = 27;
constexpr int16_t kBadRecordLength = 28;
constexpr int16_t kBadKeyLength = 29;
constexpr int16_t kNotRecordFile = 30;
constexpr int16_t kTransactionActive = 37;
constexpr int16_t kNoTransaction = 39;
// A write inside a transaction to a file that cannot join it: opened after the transaction's
// first write, or beyond the files one transaction can hold (eleven).
constexpr int16_t kTransactionTooManyFiles = 40;
constexpr int16_t kInvalidRecordAddress = 43;
constexpr int16_t kInconsistentKeyFlags = 45;
constexpr int16_t kAccessDenied = 46;
constexpr int16_t kBadCollatingSequence = 48;
constexpr int16_t kFileExists = 59;
constexpr int16_t kRecordChanged = 80;
constexpr int16_t kLockError = 81;
constexpr int16_t kRecordLocked = 84;
constexpr int16_t kFileLocked = 85;
constexpr int16_t kIncompatibleLocks = 93;

constexpr int kPositionBlockSize = 128;
constexpr int kMaxKeyLength = 255;
constexpr int kMaxRecordLength = 4088;

// --- Creation blocks: the Create data buffer (the layout Stat answers with) ---

struct KeySegment {
  uint16_t position = 1;  // 1-based
  uint16_t length = 0;
  uint16_t flags = 0;        // kKey* flags; kKeySegmented is the builder's to set
  uint8_t extendedType = 0;  // with kKeyExtendedType
  bool operator==(const KeySegment&) const = default;
};

struct FileLayout {
  uint16_t recordLength = 0;
  uint16_t pageSize = 4096;
  uint16_t fileFlags = 0;
  std::vector<std::vector<KeySegment>> keys;  // each key's segments, in key-number order
  std::string acs;  // 265 bytes (0xAC, an 8-byte name, a 256-byte table) when a key uses it
};

// The Create data buffer: the 16-byte file specification, 16 bytes per segment (the segmented
// flag on every segment but a key's last), then the collating sequence when there is one.
std::string BuildCreationBlock(const FileLayout& layout);
// The layout a creation block or a Stat answer describes; false when `block` is shorter than
// the segments it announces (a collating sequence is read when a segment uses one).
bool ReadCreationBlock(const std::string& block, FileLayout* layout);

// The key images the engines store beside each record (sortable bytes per key), for tools that
// check a data file's store from outside the record manager.
struct FileDef;
class KeyImages {
 public:
  // kOk, or the status Create answers for such a block.
  int16_t Read(const std::string& creationBlock);
  uint16_t RecordLength() const;
  int KeyCount() const;
  bool Duplicates(int key) const;
  // The image of key `key` (0 .. KeyCount()-1) of `record` (RecordLength() bytes).
  std::string ImageOf(int key, const std::string& record) const;

 private:
  std::shared_ptr<const FileDef> def_;
};

// Connects to the data server as the server engine does (the session named after this
// process), for tools that read its tables themselves; nullptr in a build without a server
// client. The caller finishes the connection with PQfinish.
struct pg_conn* ConnectDataServer(const std::string& connection);
}  // namespace rm

// A storage backend. Call has BTRCALL's contract; ForgetAll drops every open handle of this
// process (Reset, and tests).
class RecordEngine {
 public:
  virtual ~RecordEngine() = default;
  virtual int16_t Call(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                       void* keyBuffer, uint8_t keyLength, int8_t keyNumber) = 0;
  // InsertRecords' contract. This one inserts the records one by one through Call.
  virtual int16_t InsertMany(void* positionBlock, const std::vector<std::string>& records,
                             size_t* inserted);
};

// The SQLite backend.
std::unique_ptr<RecordEngine> MakeSqliteEngine();
// The PostgreSQL backend, for offices whose terminals run on several computers. `connection`
// is a libpq connection string; the engine connects at its first Open or Create (status 20
// when the server cannot be reached) and keeps one connection per process. A file is named on
// the server by its path under the installation root (the nearest folder above it holding
// Vora.ini), so every computer finds the same file wherever it keeps the root.
std::unique_ptr<RecordEngine> MakeServerEngine(const std::string& connection);
// Why the server engine last answered 20, naming the server but never the password.
std::string RecordServerProblem();
// The name a process's sessions carry on the server ("kap <pid>"), so that the server's list of
// sessions tells which process holds a lock; a connection string that names them wins.
std::string DataServerSessionName(int pid);

// Installs `engine` (not owned) for BTRCALL; nullptr puts the default one back.
void SetRecordEngine(RecordEngine* engine);
// Chooses the default engine: the server of the libpq `connection` string, or the SQLite files
// when it is empty. The same string again keeps the engine in use with its open files.
void UseRecordServer(const std::string& connection);

// The connection string of the server chosen by UseRecordServer; empty for the SQLite files.
const std::string& RecordServerConnection();

// Whether an acknowledged commit must survive a power cut (the default). An installation may
// trade that for speed: a power cut shortly after a commit may then undo it (never damaging a
// file). Applies to the files and server connections opened afterwards.
void SetDurableCommits(bool durable);
bool DurableCommits();

// Lock files kept on the chosen server, for installations whose terminals run on several
// computers. `name` is the file's name under the installation root. An exclusive open keeps
// every other open out (kBusy) until the File goes; marks are held by the connection, so they
// go when the process ends. A build without a server client answers kFailed and nothing.
std::unique_ptr<File> OpenServerLockFile(const std::string& name, bool create, Sharing sharing,
                                         OpenResult* result);
bool ServerLockFileExists(const std::string& name);
std::vector<std::string> ServerLockFileNames();

// Inserts `records` in order into the file open on `positionBlock`, each as an Insert with key
// number -1 would: the same positions, statuses and currency. Stops at the first refusal and
// answers its status; *inserted tells how many records went in before it (all of them on kOk).
// For loads: the server engine sends whole batches at once inside a transaction.
int16_t InsertRecords(void* positionBlock, const std::vector<std::string>& records,
                      size_t* inserted);

// The statements this process has sent to the data server so far (0 without one), so that
// tests and benchmarks can count an operation's round trips.
uint64_t RecordServerRoundTrips();

// The record manager's entry point. `dataLength` is in/out: capacity (or length sent) on
// entry, bytes returned on exit. The key buffer must hold at least `keyLength` bytes and, for
// operations that return a key, the key's full length. Never writes past either length.
int16_t BTRCALL(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber);

}  // namespace kap
