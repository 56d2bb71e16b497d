// The SQLite record engine: one database per data file, one table of records whose integer
// primary key is the record's physical position, one indexed column per key holding the key
// image. Currency (logical and physical) is kept per open handle; the position block carries
// the handle's number.
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/record_manager.h"
#include "platform/rm_internal.h"
#include "platform/text.h"

namespace kap {
namespace rm {
namespace {

constexpr char kSignature[4] = {'K', 'R', 'M', '1'};
constexpr int64_t kFileOpenLockByte = 0;
// Held by a process whose transaction has written to the file; record bytes stay below it.
constexpr int64_t kTransactionLockByte = int64_t{1} << 40;

// SQLite codes become statuses here and nowhere else.
int16_t FromSqlite(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return kOk;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return kFileLocked;
    case SQLITE_FULL:
      return kDiskFull;
    case SQLITE_CONSTRAINT:
      return kDuplicateKey;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_CANTOPEN:  // also a journal that cannot be made, or is a link
      return kAccessDenied;
    case SQLITE_NOTADB:
      return kNotRecordFile;
    default:
      return kIoError;
  }
}

// Contention between processes is short (one statement each): wait it out. Only a writer
// stuck for minutes (a stopped process) makes the call fail, as a locked file.
int BusyWait(void*, int count) {
  if (count > 120000) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(count < 20 ? 1 : 5));
  return 1;
}

// An acknowledged commit survives a power cut: the journal is synced before the file is
// written, and the journal's deletion (the commit itself) is synced into the folder too. The
// faster choice leaves out only that last sync: a power cut may then bring the journal back and
// undo the commit, but never damages the file (as a lesser setting could).
void SetDurability(sqlite3* db, const char* schema = "main") {
  const std::string sql =
      std::string("PRAGMA ") + schema + ".synchronous=" + (DurableCommits() ? "EXTRA" : "FULL");
  sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string LockPath(const std::string& path) { return path + "-lock"; }

// The file itself, however its path is spelt: two handles of one file join a transaction once.
std::string FileIdentity(const std::string& path, const struct stat& st) {
#ifdef _WIN32
  // No inode numbers here: the full path, in one case, names the file.
  char full[4096];
  if (_fullpath(full, path.c_str(), sizeof full) == nullptr) return path;
  return UpperAscii(full);
#else
  (void)path;
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
#endif
}

enum KeyedQuery {
  kqEqual,
  kqGreater,
  kqGreaterOrEqual,
  kqLess,
  kqLessOrEqual,
  kqFirst,
  kqLast,
  kqNext,
  kqPrevious,
  kKeyedQueryCount
};

enum FixedQuery {
  fqStepFirst,
  fqStepLast,
  fqStepNext,
  fqStepPrevious,
  fqDirect,
  fqInsert,
  fqUpdate,
  fqDelete,
  fqCount,
  kFixedQueryCount
};

// `table` is the records table as the connection names it: "main.records", or an attached
// file's "f1.records" inside a transaction over several files.
std::string KeyedSql(KeyedQuery q, int key, bool unique, const std::string& table) {
  std::string k = "k";
  k += std::to_string(key);
  std::string asc = " ORDER BY " + k + ",pos LIMIT 1";
  std::string desc = " ORDER BY " + k + " DESC,pos DESC LIMIT 1";
  std::string head = "SELECT pos,data FROM " + table;
  switch (q) {
    case kqEqual:
      return head + " WHERE " + k + "=?1" + asc;
    case kqGreater:
      return head + " WHERE " + k + ">?1" + asc;
    case kqGreaterOrEqual:
      return head + " WHERE " + k + ">=?1" + asc;
    case kqLess:
      return head + " WHERE " + k + "<?1" + desc;
    case kqLessOrEqual:
      return head + " WHERE " + k + "<=?1" + desc;
    case kqFirst:
      return head + asc;
    case kqLast:
      return head + desc;
    case kqNext:
      return unique ? head + " WHERE " + k + ">?1" + asc
                    : head + " WHERE (" + k + ",pos)>(?1,?2)" + asc;
    case kqPrevious:
      return unique ? head + " WHERE " + k + "<?1" + desc
                    : head + " WHERE (" + k + ",pos)<(?1,?2)" + desc;
    default:
      return "";
  }
}

std::string FixedSql(FixedQuery q, size_t keys, const std::string& table) {
  std::string cols, marks, sets;
  for (size_t i = 0; i < keys; ++i) {
    std::string k = "k";
    k += std::to_string(i);
    std::string n = std::to_string(i + 2);
    cols += ",";
    cols += k;
    marks += ",?";
    marks += n;
    sets += "," + k + "=?" + n;
  }
  std::string last = std::to_string(keys + 2);
  std::string after = std::to_string(keys + 3);
  switch (q) {
    case fqStepFirst:
      return "SELECT pos,data FROM " + table + " ORDER BY pos LIMIT 1";
    case fqStepLast:
      return "SELECT pos,data FROM " + table + " ORDER BY pos DESC LIMIT 1";
    case fqStepNext:
      return "SELECT pos,data FROM " + table + " WHERE pos>?1 ORDER BY pos LIMIT 1";
    case fqStepPrevious:
      return "SELECT pos,data FROM " + table + " WHERE pos<?1 ORDER BY pos DESC LIMIT 1";
    case fqDirect:
      return "SELECT pos,data FROM " + table + " WHERE pos=?1";
    case fqInsert:
      return "INSERT INTO " + table + "(data" + cols + ") VALUES(?1" + marks + ")";
    case fqUpdate:
      return "UPDATE " + table + " SET data=?1" + sets + " WHERE pos=?" + last + " AND data=?" +
             after;
    case fqDelete:
      return "DELETE FROM " + table + " WHERE pos=?1 AND data=?2";
    case fqCount:
      return "SELECT count(*) FROM " + table;
    default:
      return "";
  }
}

struct Row {
  int64_t pos = 0;
  std::string data;
};

struct Handle {
  uint32_t id = 0;
  std::string path;
  FileDef def;
  std::string identity;   // the file itself, however its path is spelt
  sqlite3* db = nullptr;  // the handle's own connection
  // While the file is in a transaction over several files, its statements run on the
  // transaction's connection, where the file is `schema`.
  sqlite3* route = nullptr;
  std::string schema = "main";
  LockFile locks;
  bool readOnly = false;
  bool inTransaction = false;  // this file has been written inside the open transaction
  std::vector<sqlite3_stmt*> keyed;
  sqlite3_stmt* fixed[kFixedQueryCount] = {};

  // Logical currency: the key, and the anchor (image, position) that Get Next and Previous
  // move from. The anchor outlives a Delete, so the scan goes on after the deleted record.
  int logicalKey = -1;
  bool logicalBroken = false;
  std::string anchorImage;
  int64_t anchorPos = 0;
  // Physical currency, also kept across a Delete.
  bool hasPhysical = false;
  int64_t physicalPos = 0;
  // The record that Update and Delete act on, as it was read (a changed row gives 80).
  bool hasCurrent = false;
  int64_t currentPos = 0;
  std::string currentData;

  int64_t singleLock = -1;
  std::set<int64_t> multipleLocks;

  ~Handle() {
    ForgetStatements();
    if (db != nullptr) sqlite3_close_v2(db);
  }

  sqlite3* Conn() const { return route != nullptr ? route : db; }

  // Statements are prepared again on the connection the file is now reached through.
  void Reroute(sqlite3* connection, const std::string& name) {
    ForgetStatements();
    route = connection;
    schema = name;
  }

  void ForgetStatements() {
    for (sqlite3_stmt* s : keyed) sqlite3_finalize(s);
    keyed.clear();
    for (sqlite3_stmt*& s : fixed) {
      sqlite3_finalize(s);
      s = nullptr;
    }
  }

  sqlite3_stmt* Keyed(KeyedQuery q, int key) {
    size_t index = static_cast<size_t>(key) * kKeyedQueryCount + q;
    if (keyed.size() <= index) keyed.resize(def.keys.size() * kKeyedQueryCount, nullptr);
    if (keyed[index] == nullptr) {
      std::string sql =
          KeyedSql(q, key, !def.keys[static_cast<size_t>(key)].duplicates, schema + ".records");
      if (sqlite3_prepare_v3(Conn(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &keyed[index],
                             nullptr) != SQLITE_OK)
        keyed[index] = nullptr;
    }
    sqlite3_reset(keyed[index]);
    return keyed[index];
  }

  sqlite3_stmt* Fixed(FixedQuery q) {
    if (fixed[q] == nullptr) {
      std::string sql = FixedSql(q, def.keys.size(), schema + ".records");
      if (sqlite3_prepare_v3(Conn(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &fixed[q],
                             nullptr) != SQLITE_OK)
        fixed[q] = nullptr;
    }
    sqlite3_reset(fixed[q]);
    return fixed[q];
  }
};

void BindBlob(sqlite3_stmt* s, int index, const std::string& bytes) {
  sqlite3_bind_blob(s, index, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

// Runs a SELECT pos,data; *found false when no row. Returns a status.
int16_t FetchRow(sqlite3_stmt* s, Row* row, bool* found) {
  *found = false;
  if (s == nullptr) return kIoError;
  int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    row->pos = sqlite3_column_int64(s, 0);
    // Positions travel as 4 bytes and are locked at pos + 1: anything else is a damaged file.
    if (row->pos < 1 || row->pos > int64_t{UINT32_MAX}) {
      sqlite3_reset(s);
      return kIoError;
    }
    const void* blob = sqlite3_column_blob(s, 1);
    int size = sqlite3_column_bytes(s, 1);
    row->data.assign(static_cast<const char*>(blob), blob ? static_cast<size_t>(size) : 0);
    *found = true;
    rc = SQLITE_DONE;
  }
  sqlite3_reset(s);
  return FromSqlite(rc);
}

// Runs a statement that returns nothing.
int Execute(sqlite3_stmt* s) {
  if (s == nullptr) return SQLITE_ERROR;
  int rc = sqlite3_step(s);
  sqlite3_reset(s);
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

std::string PathFromKey(const void* keyBuffer, uint8_t keyLength) {
  if (keyBuffer == nullptr) return "";
  const char* p = static_cast<const char*>(keyBuffer);
  size_t n = 0;
  while (n < keyLength && p[n] != '\0') ++n;
  std::string path(p, n);
  while (!path.empty() && path.back() == ' ') path.pop_back();
  return path;
}

class SqliteEngine : public RecordEngine {
 public:
  ~SqliteEngine() override = default;

  int16_t Call(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
               void* keyBuffer, uint8_t keyLength, int8_t keyNumber) override {
    ForgetInheritedHandles();
    if (operation >= 1000 && (operation - 1000) % 100 == kBeginTransaction) operation -= 1000;
    if (operation < 0 || operation > 499) return kInvalidOperation;
    int bias = operation >= 100 ? operation / 100 * 100 : 0;
    int op = operation % 100;
    Args a{positionBlock, static_cast<uint8_t*>(dataBuffer),
           dataLength,    static_cast<uint8_t*>(keyBuffer),
           keyLength,     keyNumber,
           bias};
    if (bias != 0 && !AcceptsBias(op)) return kInvalidOperation;
    switch (op) {
      case kReset:
      case kStop:
        if (inTransaction_) EndTransaction(false);
        handles_.clear();
        return kOk;
      case kBeginTransaction:
        if (inTransaction_) return kTransactionActive;
        inTransaction_ = true;
        return kOk;
      case kEndTransaction:
      case kAbortTransaction:
        return EndTransaction(op == kEndTransaction);
      case kCreate:
        return Create(a);
      case kOpen:
        return Open(a);
      default:
        break;
    }
    if (positionBlock == nullptr) return kBadPositionBlock;
    Handle* h = Find(positionBlock);
    if (h == nullptr) return kNotOpen;
    if (dataLength == nullptr) return kDataBufferTooShort;
    switch (op) {
      case kClose: {
        // Closing a file does not end the transaction: what it wrote stays in it, and the
        // handle (with its hold on the file) is kept until the transaction ends.
        auto it = handles_.find(h->id);
        if (h->inTransaction) {
          h->ForgetStatements();
          transaction_.closed.push_back(std::move(it->second));
        }
        handles_.erase(it);
        std::memset(positionBlock, 0, kPositionBlockSize);
        return kOk;
      }
      case kInsert:
        return Insert(*h, a);
      case kUpdate:
        return Update(*h, a);
      case kDelete:
        return Delete(*h, a);
      case kGetEqual:
        return GetKeyed(*h, a, kqEqual);
      case kGetNext:
        return GetKeyed(*h, a, kqNext);
      case kGetPrevious:
        return GetKeyed(*h, a, kqPrevious);
      case kGetGreater:
        return GetKeyed(*h, a, kqGreater);
      case kGetGreaterOrEqual:
        return GetKeyed(*h, a, kqGreaterOrEqual);
      case kGetLess:
        return GetKeyed(*h, a, kqLess);
      case kGetLessOrEqual:
        return GetKeyed(*h, a, kqLessOrEqual);
      case kGetFirst:
        return GetKeyed(*h, a, kqFirst);
      case kGetLast:
        return GetKeyed(*h, a, kqLast);
      case kStat:
        return Stat(*h, a);
      case kGetPosition:
        return GetPosition(*h, a);
      case kGetDirect:
        return GetDirect(*h, a);
      case kStepNext:
        return StepPhysical(*h, a, fqStepNext);
      case kStepFirst:
        return StepPhysical(*h, a, fqStepFirst);
      case kStepLast:
        return StepPhysical(*h, a, fqStepLast);
      case kStepPrevious:
        return StepPhysical(*h, a, fqStepPrevious);
      case kUnlock:
        return Unlock(*h, a);
      default:
        return kInvalidOperation;
    }
  }

 private:
  struct Args {
    void* positionBlock;
    uint8_t* data;
    uint32_t* dataLength;
    uint8_t* key;
    uint8_t keyLength;
    int8_t keyNumber;
    int bias;
  };

  static bool AcceptsBias(int op) {
    return op == kBeginTransaction || (op >= kGetEqual && op <= kGetLast) || op == kGetPosition ||
           op == kGetDirect || op == kStepNext || (op >= kStepFirst && op <= kStepPrevious);
  }

  // Connections and lock descriptors copied into a forked child belong to the parent: the
  // child must neither use nor close them.
  void ForgetInheritedHandles() {
    pid_t pid = getpid();
    if (pid == pid_) return;
    for (auto& [id, handle] : handles_) {
      handle->locks.Abandon();
      handle->db = nullptr;
      handle->keyed.clear();
      for (auto& s : handle->fixed) s = nullptr;
      handle.release();  // deliberately leaked: its resources are the parent's
    }
    handles_.clear();
    for (auto& handle : transaction_.closed) {
      handle->locks.Abandon();
      handle->db = nullptr;
      handle.release();
    }
    transaction_ = {};  // its connection is the parent's too
    inTransaction_ = false;
    pid_ = pid;
  }

  Handle* Find(void* positionBlock) {
    const uint8_t* pb = static_cast<const uint8_t*>(positionBlock);
    if (std::memcmp(pb, kSignature, 4) != 0) return nullptr;
    auto it = handles_.find(LittleEndian32(pb + 4));
    return it == handles_.end() ? nullptr : it->second.get();
  }

  static std::string JournalMode(sqlite3* db, const char* sql) {
    sqlite3_stmt* s = nullptr;
    std::string mode;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      if (text != nullptr) mode = reinterpret_cast<const char*>(text);
    }
    sqlite3_finalize(s);
    return mode;
  }

  // The rollback journal: only with it does SQLite commit a transaction over several
  // databases all or none (its super-journal), which a transaction over several files needs.
  static bool UseJournalMode(sqlite3* db) {
    if (JournalMode(db, "PRAGMA journal_mode") == "delete") return true;
    return JournalMode(db, "PRAGMA journal_mode=DELETE") == "delete";
  }

  static bool ReadMeta(sqlite3* db, FileDef* def) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name='creation'", -1, &s, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(s);
      return false;
    }
    bool ok = false;
    if (sqlite3_step(s) == SQLITE_ROW) {
      const uint8_t* blob = static_cast<const uint8_t*>(sqlite3_column_blob(s, 0));
      int size = sqlite3_column_bytes(s, 0);
      ok = blob != nullptr && ParseCreationBlock(blob, static_cast<size_t>(size), def) == kOk;
    }
    sqlite3_finalize(s);
    return ok;
  }

  // Ends the transaction over every file it wrote, all or none: one connection holds them all
  // (the first file written as its main database, the others attached), so one COMMIT or
  // ROLLBACK covers them.
  int16_t EndTransaction(bool commit) {
    if (!inTransaction_) return kNoTransaction;
    inTransaction_ = false;
    int16_t status = kOk;
    if (transaction_.db != nullptr) {
      int rc =
          sqlite3_exec(transaction_.db, commit ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK && commit) {
        // Nothing of a commit that failed stays: the transaction is undone as a whole.
        sqlite3_exec(transaction_.db, "ROLLBACK", nullptr, nullptr, nullptr);
        status = FromSqlite(rc);
      }
    }
    for (auto& [id, h] : handles_) {
      if (!h->inTransaction) continue;
      h->inTransaction = false;
      h->locks.Unlock(kTransactionLockByte);
      h->Reroute(nullptr, "main");
    }
    transaction_.closed.clear();
    if (transaction_.db != nullptr) sqlite3_close_v2(transaction_.db);
    transaction_ = {};
    return status;
  }

  // The transaction's connection, made at its first write: the file written first is its main
  // database and every other file open for writing is attached, since SQLite attaches nothing
  // once a transaction has begun.
  int16_t StartTransactionConnection(const Handle& first) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(first.path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_close_v2(db);
      return rc == SQLITE_CANTOPEN ? kAccessDenied : FromSqlite(rc);
    }
    sqlite3_busy_handler(db, BusyWait, nullptr);
    transaction_.db = db;
    transaction_.schemas[first.identity] = "main";
    const int room = sqlite3_limit(db, SQLITE_LIMIT_ATTACHED, -1);
    int attached = 0;
    for (auto& [id, h] : handles_) {
      if (h->readOnly || attached >= room) continue;
      const std::string identity = h->identity;
      if (transaction_.schemas.count(identity) > 0) continue;
      const std::string name = "f" + std::to_string(attached + 1);
      sqlite3_stmt* attach = nullptr;
      if (sqlite3_prepare_v2(db, ("ATTACH ?1 AS " + name).c_str(), -1, &attach, nullptr) !=
          SQLITE_OK) {
        sqlite3_finalize(attach);
        continue;
      }
      sqlite3_bind_text(attach, 1, h->path.c_str(), -1, SQLITE_TRANSIENT);
      const bool ok = sqlite3_step(attach) == SQLITE_DONE;
      sqlite3_finalize(attach);
      if (!ok) continue;  // that file then cannot join: its writes answer 40
      transaction_.schemas[identity] = name;
      ++attached;
    }
    for (const auto& [identity, schema] : transaction_.schemas) SetDurability(db, schema.c_str());
    rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    return FromSqlite(rc);
  }

  // Before a write: another process's transaction holding the file gives 85; inside our own
  // transaction the file joins it (its writes stay invisible to others until the end).
  // Another handle of this process on the same file may already have it in the transaction.
  int16_t EnterWrite(Handle& h) {
    if (h.inTransaction) return kOk;
    const bool joined = inTransaction_ && transaction_.joined.count(h.identity) > 0;
    if (!joined && h.locks.HeldByOther(kTransactionLockByte)) return kFileLocked;
    if (!inTransaction_) return kOk;
    if (!joined && !h.locks.TryLock(kTransactionLockByte, true)) return kFileLocked;
    int16_t status = kOk;
    if (transaction_.db == nullptr) status = StartTransactionConnection(h);
    auto schema = transaction_.schemas.find(h.identity);
    if (status == kOk && schema == transaction_.schemas.end()) status = kTransactionTooManyFiles;
    if (status != kOk) {
      if (!joined) h.locks.Unlock(kTransactionLockByte);
      return status;
    }
    h.Reroute(transaction_.db, schema->second);
    h.inTransaction = true;
    transaction_.joined.insert(h.identity);
    return kOk;
  }

  int16_t Open(const Args& a) {
    if (a.positionBlock == nullptr) return kBadPositionBlock;
    std::string path = PathFromKey(a.key, a.keyLength);
    if (path.empty()) return kInvalidFileName;
    int mode = a.keyNumber;
    if (mode != kModeNormal && mode != kModeAccelerated && mode != kModeReadOnly &&
        mode != kModeVerify && mode != kModeExclusive)
      return kInvalidOperation;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return kFileNotFound;
    if (!S_ISREG(st.st_mode)) return kInvalidFileName;

    auto h = std::make_unique<Handle>();
    h->path = path;
    h->identity = FileIdentity(path, st);
    h->readOnly = mode == kModeReadOnly;
    if (!h->locks.Open(LockPath(path))) return kAccessDenied;
    if (!h->locks.TryLock(kFileOpenLockByte, mode == kModeExclusive)) return kFileLocked;

    // A data file that is a symbolic link is refused: shared folders must not redirect writes.
    int rc = sqlite3_open_v2(path.c_str(), &h->db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW,
                             nullptr);
    if (rc != SQLITE_OK) return rc == SQLITE_CANTOPEN ? kAccessDenied : FromSqlite(rc);
    sqlite3_busy_handler(h->db, BusyWait, nullptr);
    // An acknowledged commit must survive a power cut: WAL with synchronous=FULL syncs the log
    // at every commit. The mode is read back, not trusted: a file switched to another journal
    // mode by some outside tool is put back, and one that cannot be is refused.
    // Checked only once the file is known to be ours, so nothing else is ever written to.
    SetDurability(h->db);
    if (!ReadMeta(h->db, &h->def)) return kNotRecordFile;
    if (!UseJournalMode(h->db)) return kIoError;
    if (h->Fixed(fqDirect) == nullptr) return kNotRecordFile;

    h->id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    uint8_t* pb = static_cast<uint8_t*>(a.positionBlock);
    // Reopening through a block already in use closes what it held.
    if (Handle* old = Find(pb)) handles_.erase(old->id);
    std::memset(pb, 0, kPositionBlockSize);
    std::memcpy(pb, kSignature, 4);
    PutLittleEndian32(reinterpret_cast<char*>(pb + 4), h->id);
    handles_[h->id] = std::move(h);
    return kOk;
  }

  int16_t Create(const Args& a) {
    std::string path = PathFromKey(a.key, a.keyLength);
    if (path.empty()) return kInvalidFileName;
    if (a.dataLength == nullptr) return kDataBufferTooShort;
    FileDef def;
    int16_t status = ParseCreationBlock(a.data, *a.dataLength, &def);
    if (status != kOk) return status;
    bool replace = a.keyNumber != -1;
    if (!replace && PathExists(path)) return kFileExists;

    // Built under a temporary name and moved into place whole, so no half-made file is seen.
    std::string temp = path + ".new" + std::to_string(getpid());
    unlink(temp.c_str());
    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(temp.c_str(), &db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    std::string schema =
        "BEGIN; "
        "CREATE TABLE meta(name TEXT PRIMARY KEY, value BLOB); "
        "CREATE TABLE records(pos INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL";
    for (size_t k = 0; k < def.keys.size(); ++k) schema += ", k" + std::to_string(k) + " BLOB";
    schema += "); ";
    for (size_t k = 0; k < def.keys.size(); ++k) {
      std::string n = std::to_string(k);
      schema += def.keys[k].duplicates
                    ? "CREATE INDEX records_k" + n + " ON records(k" + n + ",pos); "
                    : "CREATE UNIQUE INDEX records_k" + n + " ON records(k" + n + "); ";
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
      sqlite3_stmt* s = nullptr;
      rc = sqlite3_prepare_v2(db, "INSERT INTO meta VALUES('creation', ?1)", -1, &s, nullptr);
      if (rc == SQLITE_OK) {
        BindBlob(s, 1, def.block);
        rc = sqlite3_step(s) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
      }
      sqlite3_finalize(s);
    }
    if (rc == SQLITE_OK) rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
    if (rc != SQLITE_OK) {
      unlink(temp.c_str());
      return rc == SQLITE_FULL ? kDiskFull : kCannotCreate;
    }
#ifndef _WIN32
    // SQLite makes its files 0644 whatever the umask. The creator's umask decides instead, as
    // for every other file, so that an operators' group can write the data files; SQLite gives
    // the journal and shared-memory files the data file's mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temp.c_str(), 0666 & ~mask);
#endif
    if (!replace) {
      // Two creators racing get one file and one 59.
      bool existed = false;
      bool placed = PlaceFile(temp, path, false, &existed);
      unlink(temp.c_str());
      if (!placed) return existed ? kFileExists : kCannotCreate;
      return kOk;
    }
    LockFile guard;
    if (PathExists(path) && guard.Open(LockPath(path)) && !guard.TryLock(kFileOpenLockByte, true)) {
      unlink(temp.c_str());
      return kFileLocked;  // someone has the old file open
    }
    // The old file's journals must not be applied to the new one.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) unlink((path + suffix).c_str());
    if (!PlaceFile(temp, path, true, nullptr)) {
      unlink(temp.c_str());
      return kCannotCreate;
    }
    return kOk;
  }

  int16_t Stat(Handle& h, const Args& a) {
    Row unused;
    sqlite3_stmt* count = h.Fixed(fqCount);
    if (count == nullptr) return kIoError;
    int rc = sqlite3_step(count);
    uint32_t records = rc == SQLITE_ROW ? static_cast<uint32_t>(sqlite3_column_int64(count, 0)) : 0;
    sqlite3_reset(count);
    if (rc != SQLITE_ROW) return FromSqlite(rc);
    std::vector<uint32_t> unique;
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      if (!h.def.keys[k].duplicates) {
        unique.push_back(records);
        continue;
      }
      std::string sql =
          "SELECT count(DISTINCT k" + std::to_string(k) + ") FROM " + h.schema + ".records";
      sqlite3_stmt* s = nullptr;
      uint32_t n = 0;
      if (sqlite3_prepare_v2(h.Conn(), sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
          sqlite3_step(s) == SQLITE_ROW)
        n = static_cast<uint32_t>(sqlite3_column_int64(s, 0));
      sqlite3_finalize(s);
      unique.push_back(n);
    }
    std::string stat = BuildStat(h.def, records, unique, a.keyNumber == -1);
    if (a.data == nullptr || *a.dataLength < stat.size()) return kDataBufferTooShort;
    std::memcpy(a.data, stat.data(), stat.size());
    *a.dataLength = static_cast<uint32_t>(stat.size());
    return kOk;
  }

  // Checks the key number and that the key buffer can hold the key. -1 passes when allowed.
  static int16_t CheckKey(const Handle& h, const Args& a, bool allowNone) {
    if (a.keyNumber == -1 && allowNone) return kOk;
    if (a.keyNumber < 0 || static_cast<size_t>(a.keyNumber) >= h.def.keys.size())
      return kInvalidKeyNumber;
    if (a.key == nullptr || a.keyLength < h.def.keys[static_cast<size_t>(a.keyNumber)].length)
      return kKeyBufferTooShort;
    return kOk;
  }

  // Copies the record out (partially, with 22, when the buffer is short).
  static int16_t CopyOut(const Args& a, const std::string& data) {
    size_t capacity = a.data == nullptr ? 0 : *a.dataLength;
    size_t n = std::min(capacity, data.size());
    if (n > 0) std::memcpy(a.data, data.data(), n);
    *a.dataLength = static_cast<uint32_t>(n);
    return n < data.size() ? kDataBufferTooShort : kOk;
  }

  static void WriteKey(const Handle& h, const Args& a, int key, const std::string& record) {
    std::string value = KeyValueOf(h.def, key, record);
    std::memcpy(a.key, value.data(), value.size());
  }

  // Takes the lock that the bias asks for on `pos`. Wait biases poll until it is free.
  int16_t Lock(Handle& h, int64_t pos, int bias) {
    bool multiple = bias >= kBiasMultipleWait;
    bool wait = bias == kBiasSingleWait || bias == kBiasMultipleWait;
    if (multiple ? h.singleLock >= 0 : !h.multipleLocks.empty()) return kIncompatibleLocks;
    if (multiple ? h.multipleLocks.count(pos) > 0 : h.singleLock == pos) return kOk;
    while (!h.locks.TryLock(pos + 1, true)) {
      if (!wait) return kRecordLocked;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (multiple) {
      h.multipleLocks.insert(pos);
    } else {
      if (h.singleLock >= 0) h.locks.Unlock(h.singleLock + 1);
      h.singleLock = pos;
    }
    return kOk;
  }

  void ReleaseSingle(Handle& h) {
    if (h.singleLock >= 0) h.locks.Unlock(h.singleLock + 1);
    h.singleLock = -1;
  }

  // Locks the row found when a bias asks for it, then reads it again under the lock: another
  // process may have changed or deleted it meanwhile. *gone: deleted, search again.
  int16_t LockFound(Handle& h, int bias, Row* row, bool* gone) {
    *gone = false;
    if (bias == 0) return kOk;
    int16_t status = Lock(h, row->pos, bias);
    if (status != kOk) return status;
    sqlite3_stmt* s = h.Fixed(fqDirect);
    if (s == nullptr) return kIoError;
    sqlite3_bind_int64(s, 1, row->pos);
    bool found = false;
    int64_t pos = row->pos;
    status = FetchRow(s, row, &found);
    if (status == kOk && !found) {
      *gone = true;
      if (bias >= kBiasMultipleWait) {
        h.multipleLocks.erase(pos);
        h.locks.Unlock(pos + 1);
      } else {
        ReleaseSingle(h);
      }
    }
    return status;
  }

  void SetCurrent(Handle& h, const Row& row, int key) {
    h.hasPhysical = true;
    h.physicalPos = row.pos;
    h.hasCurrent = true;
    h.currentPos = row.pos;
    h.currentData = row.data;
    h.logicalKey = key;
    h.logicalBroken = false;
    if (key >= 0) {
      h.anchorImage = KeyImageOf(h.def, key, KeyValueOf(h.def, key, row.data));
      h.anchorPos = row.pos;
    }
  }

  int16_t GetKeyed(Handle& h, const Args& a, KeyedQuery q) {
    int16_t status = CheckKey(h, a, false);
    if (status != kOk) return status;
    int key = a.keyNumber;
    std::string image;
    if (q == kqNext || q == kqPrevious) {
      if (h.logicalKey < 0) return kNoCurrency;
      if (h.logicalKey != key || h.logicalBroken) return kDifferentKeyNumber;
    } else if (q != kqFirst && q != kqLast) {
      image =
          KeyImageOf(h.def, key,
                     std::string(reinterpret_cast<const char*>(a.key),
                                 static_cast<size_t>(h.def.keys[static_cast<size_t>(key)].length)));
    }
    for (;;) {
      sqlite3_stmt* s = h.Keyed(q, key);
      if (s == nullptr) return kIoError;
      if (q == kqNext || q == kqPrevious) {
        BindBlob(s, 1, h.anchorImage);
        sqlite3_bind_int64(s, 2, h.anchorPos);
      } else if (!image.empty()) {
        BindBlob(s, 1, image);
      }
      Row row;
      bool found = false;
      status = FetchRow(s, &row, &found);
      if (status != kOk) return status;
      if (!found) return q == kqEqual ? kKeyNotFound : kEndOfFile;
      bool gone = false;
      status = LockFound(h, a.bias, &row, &gone);
      if (status != kOk) return status;
      if (gone) continue;
      SetCurrent(h, row, key);
      WriteKey(h, a, key, row.data);
      return CopyOut(a, row.data);
    }
  }

  int16_t StepPhysical(Handle& h, const Args& a, FixedQuery q) {
    // Without physical currency (just opened) a step starts from the end it moves away from.
    if (!h.hasPhysical && q == fqStepNext) q = fqStepFirst;
    if (!h.hasPhysical && q == fqStepPrevious) q = fqStepLast;
    for (;;) {
      sqlite3_stmt* s = h.Fixed(q);
      if (s == nullptr) return kIoError;
      if (q == fqStepNext || q == fqStepPrevious) sqlite3_bind_int64(s, 1, h.physicalPos);
      Row row;
      bool found = false;
      int16_t status = FetchRow(s, &row, &found);
      if (status != kOk) return status;
      if (!found) return kEndOfFile;
      bool gone = false;
      status = LockFound(h, a.bias, &row, &gone);
      if (status != kOk) return status;
      if (gone) continue;
      SetCurrent(h, row, -1);
      return CopyOut(a, row.data);
    }
  }

  int16_t GetPosition(Handle& h, const Args& a) {
    if (!h.hasCurrent) return kNoCurrency;
    if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
    PutLittleEndian32(reinterpret_cast<char*>(a.data), static_cast<uint32_t>(h.currentPos));
    *a.dataLength = 4;
    return kOk;
  }

  int16_t GetDirect(Handle& h, const Args& a) {
    if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    int64_t pos = LittleEndian32(a.data);
    if (pos == 0) return kInvalidRecordAddress;
    sqlite3_stmt* s = h.Fixed(fqDirect);
    if (s == nullptr) return kIoError;
    sqlite3_bind_int64(s, 1, pos);
    Row row;
    bool found = false;
    status = FetchRow(s, &row, &found);
    if (status != kOk) return status;
    if (!found) return kInvalidRecordAddress;
    bool gone = false;
    status = LockFound(h, a.bias, &row, &gone);
    if (status != kOk) return status;
    if (gone) return kInvalidRecordAddress;
    SetCurrent(h, row, a.keyNumber);
    if (a.keyNumber >= 0) WriteKey(h, a, a.keyNumber, row.data);
    return CopyOut(a, row.data);
  }

  void BindKeys(const Handle& h, sqlite3_stmt* s, const std::string& record) {
    for (size_t k = 0; k < h.def.keys.size(); ++k)
      BindBlob(
          s, static_cast<int>(k) + 2,
          KeyImageOf(h.def, static_cast<int>(k), KeyValueOf(h.def, static_cast<int>(k), record)));
  }

  int16_t Insert(Handle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (a.data == nullptr || *a.dataLength < h.def.recordLength) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    if ((status = EnterWrite(h)) != kOk) return status;
    std::string record(reinterpret_cast<const char*>(a.data), h.def.recordLength);
    sqlite3_stmt* s = h.Fixed(fqInsert);
    if (s == nullptr) return kIoError;
    BindBlob(s, 1, record);
    BindKeys(h, s, record);
    int rc = Execute(s);
    if (rc != SQLITE_OK) return FromSqlite(rc);
    ReleaseSingle(h);
    Row row{sqlite3_last_insert_rowid(h.Conn()), record};
    if (a.keyNumber >= 0) {
      SetCurrent(h, row, a.keyNumber);
      WriteKey(h, a, a.keyNumber, record);
    } else {
      // No change of logical currency: only the physical position moves.
      h.hasPhysical = true;
      h.physicalPos = row.pos;
      h.hasCurrent = true;
      h.currentPos = row.pos;
      h.currentData = record;
    }
    return kOk;
  }

  int16_t Update(Handle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (!h.hasCurrent) return kNoCurrency;
    if (a.data == nullptr || *a.dataLength < h.def.recordLength) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    if (h.locks.HeldByOther(h.currentPos + 1)) return kRecordLocked;
    if ((status = EnterWrite(h)) != kOk) return status;
    std::string record(reinterpret_cast<const char*>(a.data), h.def.recordLength);
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      if (!h.def.keys[k].modifiable && KeyValueOf(h.def, static_cast<int>(k), record) !=
                                           KeyValueOf(h.def, static_cast<int>(k), h.currentData))
        return kModifiableKeyChanged;
    }
    sqlite3_stmt* s = h.Fixed(fqUpdate);
    if (s == nullptr) return kIoError;
    int n = static_cast<int>(h.def.keys.size());
    BindBlob(s, 1, record);
    BindKeys(h, s, record);
    sqlite3_bind_int64(s, n + 2, h.currentPos);
    BindBlob(s, n + 3, h.currentData);
    int rc = Execute(s);
    if (rc != SQLITE_OK) return FromSqlite(rc);
    if (sqlite3_changes(h.Conn()) == 0) return kRecordChanged;
    ReleaseSingle(h);
    h.currentData = record;
    if (a.keyNumber >= 0) {
      if (a.keyNumber == h.logicalKey) {
        h.anchorImage = KeyImageOf(h.def, a.keyNumber, KeyValueOf(h.def, a.keyNumber, record));
        h.anchorPos = h.currentPos;
      } else if (h.logicalKey >= 0) {
        h.logicalBroken = true;
      }
      WriteKey(h, a, a.keyNumber, record);
    }
    return kOk;
  }

  int16_t Delete(Handle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (!h.hasCurrent) return kNoCurrency;
    if (a.keyNumber >= 0 && !h.def.keys.empty() &&
        static_cast<size_t>(a.keyNumber) >= h.def.keys.size())
      return kInvalidKeyNumber;
    if (h.locks.HeldByOther(h.currentPos + 1)) return kRecordLocked;
    if (int16_t status = EnterWrite(h); status != kOk) return status;
    sqlite3_stmt* s = h.Fixed(fqDelete);
    if (s == nullptr) return kIoError;
    sqlite3_bind_int64(s, 1, h.currentPos);
    BindBlob(s, 2, h.currentData);
    int rc = Execute(s);
    if (rc != SQLITE_OK) return FromSqlite(rc);
    if (sqlite3_changes(h.Conn()) == 0) return kRecordChanged;
    if (h.singleLock == h.currentPos) ReleaseSingle(h);
    if (h.multipleLocks.erase(h.currentPos) > 0) h.locks.Unlock(h.currentPos + 1);
    if (a.keyNumber != h.logicalKey && h.logicalKey >= 0) h.logicalBroken = true;
    // The anchors stay: Get Next and Step Next go on from where the record was.
    h.hasCurrent = false;
    return kOk;
  }

  int16_t Unlock(Handle& h, const Args& a) {
    if (a.keyNumber >= 0) {
      if (h.singleLock < 0) return kLockError;
      ReleaseSingle(h);
      return kOk;
    }
    if (a.keyNumber == -1) {
      if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
      int64_t pos = LittleEndian32(a.data);
      if (h.multipleLocks.erase(pos) == 0) return kLockError;
      h.locks.Unlock(pos + 1);
      return kOk;
    }
    if (a.keyNumber == -2) {
      for (int64_t pos : h.multipleLocks) h.locks.Unlock(pos + 1);
      h.multipleLocks.clear();
      return kOk;
    }
    return kLockError;
  }

  struct TransactionConnection {
    sqlite3* db = nullptr;
    std::map<std::string, std::string> schemas;   // file identity -> schema name
    std::set<std::string> joined;                 // files written in the transaction
    std::vector<std::unique_ptr<Handle>> closed;  // closed inside the transaction
  };

  pid_t pid_ = getpid();
  bool inTransaction_ = false;  // Begin Transaction seen, End or Abort not yet
  TransactionConnection transaction_;
  uint32_t nextId_ = 1;
  std::map<uint32_t, std::unique_ptr<Handle>> handles_;
};

}  // namespace
}  // namespace rm

std::unique_ptr<RecordEngine> MakeSqliteEngine() { return std::make_unique<rm::SqliteEngine>(); }

}  // namespace kap
