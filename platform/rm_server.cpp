// The server record engine: every data file is one table on a PostgreSQL server reached
// through libpq, so terminals on several computers share one installation. The table holds the
// record's position (never reused), its bytes and one key-image column per key (bytea compares
// byte by byte, as the images need). A catalog table maps the file's name under the
// installation root to its table and creation block. Record locks and file opens are advisory
// locks of the one connection per process, so they vanish with the process or its connection;
// other handles of the same process are told apart here, since the server lets a session share
// its own locks.
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os.h"
#include "platform/record_manager.h"
#include "platform/rm_internal.h"
#include "platform/text.h"

namespace kap {
namespace rm {
namespace {

constexpr char kSignature[4] = {'K', 'R', 'M', 'S'};
constexpr Oid kInt8 = 20;
constexpr Oid kBytea = 17;
constexpr Oid kText = 25;
// Advisory lock keys are database-wide, so a file's keys come from its table's OID (unique in
// the database, whatever schema holds the installation): OID << 32 is the open lock, plus a
// position (from 1) a record lock, plus 0xFFFFFFFF (never a position) the lock of a transaction
// that wrote to the file.
int64_t LockBase(uint32_t oid) { return static_cast<int64_t>(static_cast<uint64_t>(oid) << 32); }
int64_t TransactionKey(int64_t base) {
  return static_cast<int64_t>(static_cast<uint64_t>(base) + 0xFFFFFFFFu);
}

std::string& ProblemText() {
  static std::string text;
  return text;
}

uint64_t roundTrips = 0;  // answers received from the server

// The server's address for messages: host, port, database and user, never the password.
std::string DescribeServer(const std::string& connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  if (options == nullptr) {
    PQfreemem(error);
    return "(unreadable connection string)";
  }
  std::map<std::string, std::string> given;
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o)
    if (o->val != nullptr && *o->val != '\0') given[o->keyword] = o->val;
  std::string text;
  for (const char* key : {"host", "hostaddr", "port", "dbname", "user"})
    if (given.count(key) > 0)
      text += (text.empty() ? "" : " ") + std::string(key) + "=" + given[key];
  PQconninfoFree(options);
  return text.empty() ? "(the default server)" : text;
}

std::string FirstLine(const char* text) {
  std::string s = text == nullptr ? "" : text;
  size_t end = s.find('\n');
  return end == std::string::npos ? s : s.substr(0, end);
}

// The server's binary forms are in network order: the `width` low bytes of `v`, highest first.
std::string NetworkBytes(uint64_t v, int width) {
  std::string s(static_cast<size_t>(width), '\0');
  for (int i = 0; i < width; ++i)
    s[static_cast<size_t>(width - 1 - i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}

std::string Int8(int64_t v) { return NetworkBytes(static_cast<uint64_t>(v), 8); }

int64_t IntField(const PGresult* r, int row, int column) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(PQgetvalue(r, row, column));
  int n = PQgetlength(r, row, column);
  int64_t v = (n > 0 && (p[0] & 0x80)) ? -1 : 0;
  for (int i = 0; i < n; ++i) v = static_cast<int64_t>((static_cast<uint64_t>(v) << 8) | p[i]);
  return v;
}

bool BoolField(const PGresult* r, int row, int column) {
  return PQgetlength(r, row, column) == 1 && PQgetvalue(r, row, column)[0] != 0;
}

std::string BytesField(const PGresult* r, int row, int column) {
  return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
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

// The file's name on the server: its path under the installation root (the nearest folder
// above it holding Vora.ini), upper-cased with / separators, so every computer finds the same
// table wherever it keeps the root. A path outside any installation keeps its absolute form.
std::string ServerFileName(const std::string& given) {
  std::string path = given;
  std::replace(path.begin(), path.end(), '\\', '/');
  if (path.empty() || path[0] != '/') {
    char cwd[4096];
    path = std::string(getcwd(cwd, sizeof cwd) ? cwd : "") + "/" + path;
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  size_t first = 0;  // parts before it make the root
  for (size_t depth = parts.empty() ? 0 : parts.size() - 1; depth > 0; --depth) {
    std::string dir;
    for (size_t i = 0; i < depth; ++i) dir += "/" + parts[i];
    if (PosixOs().FileExists(dir + "/Vora.ini")) {
      first = depth;
      break;
    }
  }
  std::string name;
  for (size_t i = first; i < parts.size(); ++i)
    name += (i > first || first == 0 ? "/" : "") + parts[i];
  return UpperAscii(name);
}

// A table name made only of lower-case letters, digits and '_', so no byte of a path ever
// reaches SQL text.
std::string TableNameFor(const std::string& name) {
  std::string t;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!ok && (t.empty() || t.back() == '_')) continue;
    t += ok ? c : '_';
  }
  while (!t.empty() && t.back() == '_') t.pop_back();
  if (t.size() > 48) t = t.substr(t.size() - 48);
  return "f_" + t;
}

// Parameters of one statement, all sent in binary.
struct Params {
  std::vector<std::string> values;
  void Bytes(const std::string& v) { values.push_back(v); }
  void Int(int64_t v) { values.push_back(Int8(v)); }
};

enum Query {
  qEqual,
  qGreater,
  qGreaterOrEqual,
  qLess,
  qLessOrEqual,
  qFirst,
  qLast,
  qNext,
  qPrevious,
  kKeyedCount,
  qStepFirst = kKeyedCount,
  qStepLast,
  qStepNext,
  qStepPrevious,
  qDirect,
  qInsert,
  qUpdate,
  qDelete,
  qCount,
  qLock,
  qUnlock,
  qProbe,
  qExists,
  qJoin,
  kQueryCount
};

struct ServerHandle {
  uint32_t id = 0;
  int fileId = 0;
  int64_t lockBase = 0;
  std::string table;
  FileDef def;
  bool readOnly = false;
  bool exclusive = false;

  int logicalKey = -1;
  bool logicalBroken = false;
  std::string anchorImage;
  int64_t anchorPos = 0;
  bool hasPhysical = false;
  int64_t physicalPos = 0;
  bool hasCurrent = false;
  int64_t currentPos = 0;
  std::string currentData;

  int64_t singleLock = -1;
  std::set<int64_t> multipleLocks;
};

class ServerEngine : public RecordEngine {
 public:
  explicit ServerEngine(std::string connection) : connection_(std::move(connection)) {}
  ~ServerEngine() override {
    if (conn_ != nullptr && pid_ == getpid()) PQfinish(conn_);
  }

  int16_t Call(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
               void* keyBuffer, uint8_t keyLength, int8_t keyNumber) override {
    ForgetInheritedConnection();
    // Only the call right after a successful Update may take its record as read.
    const uint32_t justUpdated = std::exchange(justUpdated_, 0);
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
        return Reset();
      case kBeginTransaction:
        return BeginTransaction();
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
    ServerHandle* h = Find(positionBlock);
    if (h == nullptr) return kNotOpen;
    if (dataLength == nullptr) return kDataBufferTooShort;
    switch (op) {
      case kClose:
        Close(*h);
        std::memset(positionBlock, 0, kPositionBlockSize);
        return kOk;
      case kInsert:
        return Insert(*h, a);
      case kUpdate:
        return Update(*h, a);
      case kDelete:
        return Delete(*h, a);
      case kGetEqual:
        return GetKeyed(*h, a, qEqual);
      case kGetNext:
        return GetKeyed(*h, a, qNext);
      case kGetPrevious:
        return GetKeyed(*h, a, qPrevious);
      case kGetGreater:
        return GetKeyed(*h, a, qGreater);
      case kGetGreaterOrEqual:
        return GetKeyed(*h, a, qGreaterOrEqual);
      case kGetLess:
        return GetKeyed(*h, a, qLess);
      case kGetLessOrEqual:
        return GetKeyed(*h, a, qLessOrEqual);
      case kGetFirst:
        return GetKeyed(*h, a, qFirst);
      case kGetLast:
        return GetKeyed(*h, a, qLast);
      case kStat:
        return Stat(*h, a);
      case kGetPosition:
        return GetPosition(*h, a);
      case kGetDirect:
        return GetDirect(*h, a, justUpdated == h->id);
      case kStepNext:
        return Step(*h, a, qStepNext);
      case kStepFirst:
        return Step(*h, a, qStepFirst);
      case kStepLast:
        return Step(*h, a, qStepLast);
      case kStepPrevious:
        return Step(*h, a, qStepPrevious);
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

  // A query result, cleared on scope exit.
  struct Result {
    PGresult* r = nullptr;
    explicit Result(PGresult* result) : r(result) { ++roundTrips; }
    ~Result() { PQclear(r); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    bool Ok() const {
      ExecStatusType s = PQresultStatus(r);
      return s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK;
    }
    int Rows() const { return Ok() ? PQntuples(r) : 0; }
    std::string State() const {
      const char* s = PQresultErrorField(r, PG_DIAG_SQLSTATE);
      return s == nullptr ? "" : s;
    }
  };

  static bool AcceptsBias(int op) {
    return op == kBeginTransaction || (op >= kGetEqual && op <= kGetLast) || op == kGetPosition ||
           op == kGetDirect || op == kStepNext || (op >= kStepFirst && op <= kStepPrevious);
  }

  // Server errors become statuses here and nowhere else.
  static int16_t FromServer(const Result& result) {
    if (result.Ok()) return kOk;
    std::string state = result.State();
    if (state == "23505") return kDuplicateKey;
    if (state == "53100") return kDiskFull;
    if (state.rfind("42501", 0) == 0) return kAccessDenied;
    if (state == "55P03" || state == "40P01") return kFileLocked;
    return kIoError;
  }

  // The parent's connection in a forked child: never used, never closed (closing would end
  // the parent's session on the server).
  void ForgetInheritedConnection() {
    if (pid_ == getpid()) return;
    conn_ = nullptr;
    for (auto& [id, handle] : handles_) handle.release();
    ForgetSession();
    pid_ = getpid();
  }

  // What lived in the connection's session: handles, locks, statements, the transaction.
  void ForgetSession() {
    handles_.clear();
    recordLocks_.clear();
    opens_.clear();
    prepared_.clear();
    joined_.clear();
    inTransaction_ = false;
  }

  bool Connected() {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return true;
    if (conn_ != nullptr) {
      // A lost connection took its locks and transaction with it: so do its handles.
      PQfinish(conn_);
      conn_ = nullptr;
      ForgetSession();
    }
    PGconn* conn = ConnectDataServer(connection_);
    if (PQstatus(conn) != CONNECTION_OK) {
      ProblemText() = "cannot reach the data server " + DescribeServer(connection_) + ": " +
                      FirstLine(PQerrorMessage(conn));
      PQfinish(conn);
      return false;
    }
    conn_ = conn;
    pid_ = getpid();
    Result quiet(PQexec(conn_, DurableCommits() ? "SET client_min_messages = warning"
                                                : "SET client_min_messages = warning; "
                                                  "SET synchronous_commit = off"));
    Result exists(PQexec(conn_, "SELECT to_regclass('kap_files') IS NOT NULL"));
    if (exists.Rows() == 1 && std::string(PQgetvalue(exists.r, 0, 0)) == "t") return true;
    // Two processes starting on an empty database: one makes the catalog.
    Result made(PQexec(conn_,
                       "BEGIN; SELECT pg_advisory_xact_lock(7021, 0); "
                       "CREATE TABLE IF NOT EXISTS kap_files(id serial PRIMARY KEY, "
                       "name text UNIQUE NOT NULL, tab text UNIQUE NOT NULL, "
                       "creation bytea NOT NULL); COMMIT"));
    if (!made.Ok()) {
      ProblemText() = "the data server " + DescribeServer(connection_) +
                      " refuses the file catalog: " + FirstLine(PQerrorMessage(conn_));
      Result end(PQexec(conn_, "ROLLBACK"));
      PQfinish(conn_);
      conn_ = nullptr;
      return false;
    }
    return true;
  }

  // Runs a statement prepared once per connection under `name`.
  PGresult* Run(const std::string& name, const std::string& sql, const std::vector<Oid>& types,
                const Params& params) {
    if (prepared_.insert(name).second) {
      Result p(PQprepare(conn_, name.c_str(), sql.c_str(), static_cast<int>(types.size()),
                         types.data()));
      if (!p.Ok()) prepared_.erase(name);
    }
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const std::string& v : params.values) {
      values.push_back(v.data());
      lengths.push_back(static_cast<int>(v.size()));
      formats.push_back(1);
    }
    return PQexecPrepared(conn_, name.c_str(), static_cast<int>(values.size()), values.data(),
                          lengths.data(), formats.data(), 1);
  }

  static std::string KeyColumn(int key) { return "k" + std::to_string(key); }

  std::string Sql(const ServerHandle& h, Query q, int key) const {
    std::string t = "\"" + h.table + "\"";
    std::string base = std::to_string(h.lockBase);
    std::string head = "SELECT pos,data FROM " + t;
    std::string k = KeyColumn(key);
    bool unique = key >= 0 && !h.def.keys[static_cast<size_t>(key)].duplicates;
    std::string asc = " ORDER BY " + k + (unique ? "" : ",pos") + " LIMIT 1";
    std::string desc = " ORDER BY " + k + " DESC" + (unique ? "" : ",pos DESC") + " LIMIT 1";
    std::string fileFree =
        "pg_try_advisory_xact_lock_shared(" + std::to_string(TransactionKey(h.lockBase)) + ")";
    size_t keys = h.def.keys.size();
    switch (q) {
      case qEqual:
        return head + " WHERE " + k + "=$1" + asc;
      case qGreater:
        return head + " WHERE " + k + ">$1" + asc;
      case qGreaterOrEqual:
        return head + " WHERE " + k + ">=$1" + asc;
      case qLess:
        return head + " WHERE " + k + "<$1" + desc;
      case qLessOrEqual:
        return head + " WHERE " + k + "<=$1" + desc;
      case qFirst:
        return head + asc;
      case qLast:
        return head + desc;
      case qNext:
        return unique ? head + " WHERE " + k + ">$1" + asc
                      : head + " WHERE (" + k + ",pos)>($1,$2)" + asc;
      case qPrevious:
        return unique ? head + " WHERE " + k + "<$1" + desc
                      : head + " WHERE (" + k + ",pos)<($1,$2)" + desc;
      case qStepFirst:
        return head + " ORDER BY pos LIMIT 1";
      case qStepLast:
        return head + " ORDER BY pos DESC LIMIT 1";
      case qStepNext:
        return head + " WHERE pos>$1 ORDER BY pos LIMIT 1";
      case qStepPrevious:
        return head + " WHERE pos<$1 ORDER BY pos DESC LIMIT 1";
      case qDirect:
        return head + " WHERE pos=$1";
      case qInsert: {
        std::string cols = "data", values = "$1";
        for (size_t i = 0; i < keys; ++i) {
          cols += "," + KeyColumn(static_cast<int>(i));
          values += ",$" + std::to_string(i + 2);
        }
        // The write waits for nobody: another process's transaction on the file gives no row.
        return "INSERT INTO " + t + "(" + cols + ") SELECT " + values + " WHERE " + fileFree +
               " ON CONFLICT DO NOTHING RETURNING pos";
      }
      case qUpdate: {
        std::string sets = "data=$1";
        for (size_t i = 0; i < keys; ++i)
          sets += "," + KeyColumn(static_cast<int>(i)) + "=$" + std::to_string(i + 2);
        std::string pos = "$" + std::to_string(keys + 2);
        std::string old = "$" + std::to_string(keys + 3);
        return "UPDATE " + t + " SET " + sets + " WHERE pos=" + pos + " AND data=" + old + " AND " +
               fileFree + " AND pg_try_advisory_xact_lock_shared(" + base + "+" + pos +
               ") RETURNING pos";
      }
      case qDelete:
        return "DELETE FROM " + t + " WHERE pos=$1 AND data=$2 AND " + fileFree +
               " AND pg_try_advisory_xact_lock_shared(" + base + "+$1) RETURNING pos";
      case qCount:
        return "SELECT count(*) FROM " + t;
      case qLock:
        return "SELECT pg_try_advisory_lock(" + base + "+$1)";
      case qUnlock:
        return "SELECT pg_advisory_unlock(" + base + "+$1)";
      case qProbe:
        return "SELECT " + fileFree + ",pg_try_advisory_xact_lock_shared(" + base + "+$1)";
      case qExists:
        return "SELECT pos FROM " + t + " WHERE " + k + "=$1 AND pos<>$2 LIMIT 1";
      case qJoin:
        return "SELECT pg_try_advisory_xact_lock(" + std::to_string(TransactionKey(h.lockBase)) +
               ")";
      default:
        return "";
    }
  }

  static std::vector<Oid> Types(const ServerHandle& h, Query q, int key) {
    size_t keys = h.def.keys.size();
    switch (q) {
      case qNext:
      case qPrevious:
        if (!h.def.keys[static_cast<size_t>(key)].duplicates) return {kBytea};
        return {kBytea, kInt8};
      case qExists:
        return {kBytea, kInt8};
      case qEqual:
      case qGreater:
      case qGreaterOrEqual:
      case qLess:
      case qLessOrEqual:
        return {kBytea};
      case qStepNext:
      case qStepPrevious:
      case qDirect:
      case qLock:
      case qUnlock:
      case qProbe:
        return {kInt8};
      case qInsert:
        return std::vector<Oid>(keys + 1, kBytea);
      case qUpdate: {
        std::vector<Oid> t(keys + 1, kBytea);
        t.push_back(kInt8);
        t.push_back(kBytea);
        return t;
      }
      case qDelete:
        return {kInt8, kBytea};
      default:
        return {};
    }
  }

  PGresult* Exec(const ServerHandle& h, Query q, int key, const Params& params) {
    std::string name = "f" + std::to_string(h.fileId) + "q" + std::to_string(q) +
                       (key >= 0 ? "k" + std::to_string(key) : "");
    return Run(name, Sql(h, q, key), Types(h, q, key), params);
  }

  ServerHandle* Find(void* positionBlock) {
    const uint8_t* pb = static_cast<const uint8_t*>(positionBlock);
    if (std::memcmp(pb, kSignature, 4) != 0) return nullptr;
    auto it = handles_.find(LittleEndian32(pb + 4));
    return it == handles_.end() ? nullptr : it->second.get();
  }

  bool Simple(const char* sql) {
    Result r(PQexec(conn_, sql));
    return r.Ok();
  }

  int16_t Reset() {
    if (conn_ != nullptr && pid_ == getpid()) {
      if (inTransaction_) Simple("ROLLBACK");
      Simple("SELECT pg_advisory_unlock_all()");
    }
    handles_.clear();
    recordLocks_.clear();
    opens_.clear();
    joined_.clear();
    inTransaction_ = false;
    return kOk;
  }

  int16_t BeginTransaction() {
    if (inTransaction_) return kTransactionActive;
    if (!Connected()) return kRecordManagerInactive;
    if (!Simple("BEGIN")) return kIoError;
    inTransaction_ = true;
    return kOk;
  }

  int16_t EndTransaction(bool commit) {
    if (!inTransaction_) return kNoTransaction;
    inTransaction_ = false;
    joined_.clear();
    Result r(PQexec(conn_, commit ? "COMMIT" : "ROLLBACK"));
    if (!r.Ok()) return FromServer(r);
    // A commit of a transaction the server had already failed answers ROLLBACK.
    if (commit && std::string(PQcmdStatus(r.r)) != "COMMIT") return kIoError;
    return kOk;
  }

  // Before a write inside our transaction: the file joins it, unless another process's
  // transaction holds it (85). Outside one, the write statement itself checks.
  int16_t EnterWrite(ServerHandle& h) {
    if (!inTransaction_ || joined_.count(h.fileId) > 0) return kOk;
    Result r(Exec(h, qJoin, -1, {}));
    if (!r.Ok()) return FromServer(r);
    if (r.Rows() != 1 || !BoolField(r.r, 0, 0)) return kFileLocked;
    joined_.insert(h.fileId);
    return kOk;
  }

  struct OpenCount {
    int shared = 0;
    bool exclusive = false;
  };

  bool ServerLock(const char* function, int64_t key) {
    std::string sql = std::string("SELECT ") + function + "(" + std::to_string(key) + ")";
    Result r(PQexec(conn_, sql.c_str()));
    return r.Rows() == 1 && std::string(PQgetvalue(r.r, 0, 0)) == "t";
  }

  // id, table and creation block of the file `name`; false when there is none.
  bool Lookup(const std::string& name, int* id, std::string* table, std::string* creation,
              int64_t* lockBase) {
    Params p;
    p.Bytes(name);
    Result r(
        Run("catalog_find",
            "SELECT id::int8,tab,creation,coalesce(to_regclass(quote_ident(tab))::oid,0)::int8 "
            "FROM kap_files WHERE name=$1",
            {kText}, p));
    if (r.Rows() != 1) return false;
    *id = static_cast<int>(IntField(r.r, 0, 0));
    *table = BytesField(r.r, 0, 1);
    *creation = BytesField(r.r, 0, 2);
    *lockBase = LockBase(static_cast<uint32_t>(IntField(r.r, 0, 3)));
    return true;
  }

  int16_t Open(const Args& a) {
    if (a.positionBlock == nullptr) return kBadPositionBlock;
    std::string path = PathFromKey(a.key, a.keyLength);
    if (path.empty()) return kInvalidFileName;
    int mode = a.keyNumber;
    if (mode != kModeNormal && mode != kModeAccelerated && mode != kModeReadOnly &&
        mode != kModeVerify && mode != kModeExclusive)
      return kInvalidOperation;
    if (!Connected()) return kRecordManagerInactive;
    std::string name = ServerFileName(path);
    auto h = std::make_unique<ServerHandle>();
    std::string creation;
    if (!Lookup(name, &h->fileId, &h->table, &creation, &h->lockBase)) {
      // A local file where the server has none is data that was never moved to the server:
      // refused, so that nobody creates an empty file over it unawares.
      struct stat st {};
      return ::stat(path.c_str(), &st) == 0 ? kNotRecordFile : kFileNotFound;
    }
    if (ParseCreationBlock(reinterpret_cast<const uint8_t*>(creation.data()), creation.size(),
                           &h->def) != kOk)
      return kNotRecordFile;
    h->readOnly = mode == kModeReadOnly;
    h->exclusive = mode == kModeExclusive;
    OpenCount& count = opens_[h->fileId];
    if (count.exclusive || (h->exclusive && count.shared > 0)) return kFileLocked;
    if (!ServerLock(h->exclusive ? "pg_try_advisory_lock" : "pg_try_advisory_lock_shared",
                    h->lockBase))
      return kFileLocked;
    // Replaced while we took the lock: the file we found is gone.
    int id = 0;
    std::string table, again;
    int64_t base = 0;
    if (!Lookup(name, &id, &table, &again, &base) || id != h->fileId) {
      ReleaseOpenLock(*h);
      return kFileNotFound;
    }
    if (h->exclusive)
      count.exclusive = true;
    else
      ++count.shared;

    h->id = nextId_++;
    if (nextId_ == 0) nextId_ = 1;
    uint8_t* pb = static_cast<uint8_t*>(a.positionBlock);
    if (ServerHandle* old = Find(pb)) Close(*old);
    std::memset(pb, 0, kPositionBlockSize);
    std::memcpy(pb, kSignature, 4);
    PutLittleEndian32(reinterpret_cast<char*>(pb + 4), h->id);
    handles_[h->id] = std::move(h);
    return kOk;
  }

  void ReleaseOpenLock(const ServerHandle& h) {
    ServerLock(h.exclusive ? "pg_advisory_unlock" : "pg_advisory_unlock_shared", h.lockBase);
  }

  void Close(ServerHandle& h) {
    ReleaseSingle(h);
    for (int64_t pos : h.multipleLocks) ReleaseRecord(h, pos);
    h.multipleLocks.clear();
    ReleaseOpenLock(h);
    OpenCount& count = opens_[h.fileId];
    if (h.exclusive)
      count.exclusive = false;
    else
      --count.shared;
    handles_.erase(h.id);
  }

  int16_t Create(const Args& a) {
    std::string path = PathFromKey(a.key, a.keyLength);
    if (path.empty()) return kInvalidFileName;
    if (a.dataLength == nullptr) return kDataBufferTooShort;
    FileDef def;
    int16_t status = ParseCreationBlock(a.data, *a.dataLength, &def);
    if (status != kOk) return status;
    // The file's folder must exist, as for a local file, so a mistyped path is refused.
    std::string folder = path.substr(
        0, path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\"));
    struct stat st {};
    if (!folder.empty() && (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
      return kCannotCreate;
    if (!Connected()) return kRecordManagerInactive;
    std::string name = ServerFileName(path);
    // Inside the caller's transaction a savepoint keeps a refusal from failing it.
    if (!Simple(inTransaction_ ? "SAVEPOINT kap_create" : "BEGIN")) return kIoError;
    status = CreateTable(name, def, a.keyNumber != -1);
    bool done = status == kOk;
    if (inTransaction_)
      Simple(done ? "RELEASE SAVEPOINT kap_create" : "ROLLBACK TO SAVEPOINT kap_create");
    else if (!Simple(done ? "COMMIT" : "ROLLBACK") && done)
      status = kCannotCreate;
    return status;
  }

  int16_t CreateTable(const std::string& name, const FileDef& def, bool replace) {
    int id = 0;
    int64_t base = 0;
    std::string table, creation;
    if (Lookup(name, &id, &table, &creation, &base)) {
      if (!replace) return kFileExists;
      const OpenCount& count = opens_[id];
      if (count.shared > 0 || count.exclusive) return kFileLocked;
      if (!ServerLock("pg_try_advisory_xact_lock", base)) return kFileLocked;
      Params p;
      p.Int(id);
      Result gone(Run("catalog_drop", "DELETE FROM kap_files WHERE id=$1", {kInt8}, p));
      Result drop(PQexec(conn_, ("DROP TABLE IF EXISTS \"" + table + "\"").c_str()));
      if (!gone.Ok() || !drop.Ok()) return kCannotCreate;
    }
    std::string wanted = TableNameFor(name);
    table = wanted;
    for (int n = 2;; ++n) {
      Params p;
      p.Bytes(table);
      Result taken(Run("catalog_tab", "SELECT 1 FROM kap_files WHERE tab=$1", {kText}, p));
      if (!taken.Ok()) return kCannotCreate;
      if (taken.Rows() == 0) break;
      table = wanted + "_" + std::to_string(n);
    }
    Params p;
    p.Bytes(name);
    p.Bytes(table);
    p.Bytes(def.block);
    Result added(Run("catalog_add",
                     "INSERT INTO kap_files(name,tab,creation) VALUES($1,$2,$3) RETURNING id::int8",
                     {kText, kText, kBytea}, p));
    if (!added.Ok()) return added.State() == "23505" ? kFileExists : kCannotCreate;
    std::string t = "\"" + table + "\"";
    std::string sql = "CREATE TABLE " + t +
                      "(pos integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, "
                      "data bytea NOT NULL";
    for (size_t k = 0; k < def.keys.size(); ++k)
      sql += "," + KeyColumn(static_cast<int>(k)) + " bytea NOT NULL";
    sql += ")";
    Result made(PQexec(conn_, sql.c_str()));
    if (!made.Ok()) return FromServer(made) == kDiskFull ? kDiskFull : kCannotCreate;
    for (size_t k = 0; k < def.keys.size(); ++k) {
      std::string col = KeyColumn(static_cast<int>(k));
      std::string index = def.keys[k].duplicates ? "CREATE INDEX ON " + t + "(" + col + ",pos)"
                                                 : "CREATE UNIQUE INDEX ON " + t + "(" + col + ")";
      Result r(PQexec(conn_, index.c_str()));
      if (!r.Ok()) return kCannotCreate;
    }
    return kOk;
  }

  int16_t Stat(ServerHandle& h, const Args& a) {
    Result count(Exec(h, qCount, -1, {}));
    if (count.Rows() != 1) return FromServer(count) == kOk ? kIoError : FromServer(count);
    uint32_t records = static_cast<uint32_t>(IntField(count.r, 0, 0));
    std::vector<uint32_t> unique;
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      if (!h.def.keys[k].duplicates) {
        unique.push_back(records);
        continue;
      }
      std::string sql =
          "SELECT count(DISTINCT " + KeyColumn(static_cast<int>(k)) + ") FROM \"" + h.table + "\"";
      Result r(PQexec(conn_, sql.c_str()));
      unique.push_back(r.Rows() == 1 ? static_cast<uint32_t>(std::stoul(PQgetvalue(r.r, 0, 0)))
                                     : 0);
    }
    std::string stat = BuildStat(h.def, records, unique, a.keyNumber == -1);
    if (a.data == nullptr || *a.dataLength < stat.size()) return kDataBufferTooShort;
    std::memcpy(a.data, stat.data(), stat.size());
    *a.dataLength = static_cast<uint32_t>(stat.size());
    return kOk;
  }

  static int16_t CheckKey(const ServerHandle& h, const Args& a, bool allowNone) {
    if (a.keyNumber == -1 && allowNone) return kOk;
    if (a.keyNumber < 0 || static_cast<size_t>(a.keyNumber) >= h.def.keys.size())
      return kInvalidKeyNumber;
    if (a.key == nullptr || a.keyLength < h.def.keys[static_cast<size_t>(a.keyNumber)].length)
      return kKeyBufferTooShort;
    return kOk;
  }

  static int16_t CopyOut(const Args& a, const std::string& data) {
    size_t capacity = a.data == nullptr ? 0 : *a.dataLength;
    size_t n = std::min(capacity, data.size());
    if (n > 0) std::memcpy(a.data, data.data(), n);
    *a.dataLength = static_cast<uint32_t>(n);
    return n < data.size() ? kDataBufferTooShort : kOk;
  }

  static void WriteKey(const ServerHandle& h, const Args& a, int key, const std::string& record) {
    std::string value = KeyValueOf(h.def, key, record);
    std::memcpy(a.key, value.data(), value.size());
  }

  // --- Record locks ---

  bool HeldByOtherHandle(const ServerHandle& h, int64_t pos) const {
    auto it = recordLocks_.find({h.fileId, pos});
    return it != recordLocks_.end() && it->second != h.id;
  }

  bool TryLockRecord(ServerHandle& h, int64_t pos) {
    auto it = recordLocks_.find({h.fileId, pos});
    if (it != recordLocks_.end()) return it->second == h.id;
    Params p;
    p.Int(pos);
    Result r(Exec(h, qLock, -1, p));
    if (r.Rows() != 1 || !BoolField(r.r, 0, 0)) return false;
    recordLocks_[{h.fileId, pos}] = h.id;
    return true;
  }

  void ReleaseRecord(ServerHandle& h, int64_t pos) {
    auto it = recordLocks_.find({h.fileId, pos});
    if (it == recordLocks_.end() || it->second != h.id) return;
    recordLocks_.erase(it);
    Params p;
    p.Int(pos);
    Result r(Exec(h, qUnlock, -1, p));
  }

  void ReleaseSingle(ServerHandle& h) {
    if (h.singleLock >= 0) ReleaseRecord(h, h.singleLock);
    h.singleLock = -1;
  }

  int16_t Lock(ServerHandle& h, int64_t pos, int bias) {
    bool multiple = bias >= kBiasMultipleWait;
    bool wait = bias == kBiasSingleWait || bias == kBiasMultipleWait;
    if (multiple ? h.singleLock >= 0 : !h.multipleLocks.empty()) return kIncompatibleLocks;
    if (multiple ? h.multipleLocks.count(pos) > 0 : h.singleLock == pos) return kOk;
    while (!TryLockRecord(h, pos)) {
      if (!wait) return kRecordLocked;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (multiple) {
      h.multipleLocks.insert(pos);
    } else {
      ReleaseSingle(h);
      h.singleLock = pos;
    }
    return kOk;
  }

  // Runs a query that answers pos,data; *found false when no row.
  int16_t Fetch(PGresult* raw, int64_t* pos, std::string* data, bool* found) {
    Result r(raw);
    *found = false;
    if (!r.Ok()) return FromServer(r);
    if (r.Rows() == 0) return kOk;
    *pos = IntField(r.r, 0, 0);
    *data = BytesField(r.r, 0, 1);
    *found = true;
    return kOk;
  }

  // Locks the row found when the bias asks for it and reads it again under the lock.
  int16_t LockFound(ServerHandle& h, int bias, int64_t pos, std::string* data, bool* gone) {
    *gone = false;
    if (bias == 0) return kOk;
    int16_t status = Lock(h, pos, bias);
    if (status != kOk) return status;
    Params p;
    p.Int(pos);
    int64_t same = 0;
    bool found = false;
    status = Fetch(Exec(h, qDirect, -1, p), &same, data, &found);
    if (status == kOk && !found) {
      *gone = true;
      if (bias >= kBiasMultipleWait) {
        h.multipleLocks.erase(pos);
        ReleaseRecord(h, pos);
      } else {
        ReleaseSingle(h);
      }
    }
    return status;
  }

  void SetCurrent(ServerHandle& h, int64_t pos, const std::string& data, int key) {
    h.hasPhysical = true;
    h.physicalPos = pos;
    h.hasCurrent = true;
    h.currentPos = pos;
    h.currentData = data;
    h.logicalKey = key;
    h.logicalBroken = false;
    if (key >= 0) {
      h.anchorImage = KeyImageOf(h.def, key, KeyValueOf(h.def, key, data));
      h.anchorPos = pos;
    }
  }

  int16_t GetKeyed(ServerHandle& h, const Args& a, Query q) {
    int16_t status = CheckKey(h, a, false);
    if (status != kOk) return status;
    int key = a.keyNumber;
    Params p;
    if (q == qNext || q == qPrevious) {
      if (h.logicalKey < 0) return kNoCurrency;
      if (h.logicalKey != key || h.logicalBroken) return kDifferentKeyNumber;
      p.Bytes(h.anchorImage);
      if (h.def.keys[static_cast<size_t>(key)].duplicates) p.Int(h.anchorPos);
    } else if (q != qFirst && q != qLast) {
      p.Bytes(KeyImageOf(
          h.def, key,
          std::string(reinterpret_cast<const char*>(a.key),
                      static_cast<size_t>(h.def.keys[static_cast<size_t>(key)].length))));
    }
    for (;;) {
      int64_t pos = 0;
      std::string data;
      bool found = false;
      status = Fetch(Exec(h, q, key, p), &pos, &data, &found);
      if (status != kOk) return status;
      if (!found) return q == qEqual ? kKeyNotFound : kEndOfFile;
      bool gone = false;
      status = LockFound(h, a.bias, pos, &data, &gone);
      if (status != kOk) return status;
      if (gone) continue;
      SetCurrent(h, pos, data, key);
      WriteKey(h, a, key, data);
      return CopyOut(a, data);
    }
  }

  int16_t Step(ServerHandle& h, const Args& a, Query q) {
    if (!h.hasPhysical && q == qStepNext) q = qStepFirst;
    if (!h.hasPhysical && q == qStepPrevious) q = qStepLast;
    for (;;) {
      Params p;
      if (q == qStepNext || q == qStepPrevious) p.Int(h.physicalPos);
      int64_t pos = 0;
      std::string data;
      bool found = false;
      int16_t status = Fetch(Exec(h, q, -1, p), &pos, &data, &found);
      if (status != kOk) return status;
      if (!found) return kEndOfFile;
      bool gone = false;
      status = LockFound(h, a.bias, pos, &data, &gone);
      if (status != kOk) return status;
      if (gone) continue;
      SetCurrent(h, pos, data, -1);
      return CopyOut(a, data);
    }
  }

  int16_t GetPosition(ServerHandle& h, const Args& a) {
    if (!h.hasCurrent) return kNoCurrency;
    if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
    PutLittleEndian32(reinterpret_cast<char*>(a.data), static_cast<uint32_t>(h.currentPos));
    *a.dataLength = 4;
    return kOk;
  }

  // `justUpdated`: this handle's Update succeeded in the call before, so its current record is
  // what the server now holds (a program reading back what it wrote needs no round trip).
  int16_t GetDirect(ServerHandle& h, const Args& a, bool justUpdated) {
    if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    int64_t pos = LittleEndian32(a.data);
    if (pos == 0 || pos > 0x7FFFFFFF) return kInvalidRecordAddress;
    if (justUpdated && a.bias == 0 && h.hasCurrent && pos == h.currentPos) {
      std::string data = h.currentData;
      SetCurrent(h, pos, data, a.keyNumber);
      if (a.keyNumber >= 0) WriteKey(h, a, a.keyNumber, data);
      return CopyOut(a, data);
    }
    Params p;
    p.Int(pos);
    std::string data;
    bool found = false;
    status = Fetch(Exec(h, qDirect, -1, p), &pos, &data, &found);
    if (status != kOk) return status;
    if (!found) return kInvalidRecordAddress;
    bool gone = false;
    status = LockFound(h, a.bias, pos, &data, &gone);
    if (status != kOk) return status;
    if (gone) return kInvalidRecordAddress;
    SetCurrent(h, pos, data, a.keyNumber);
    if (a.keyNumber >= 0) WriteKey(h, a, a.keyNumber, data);
    return CopyOut(a, data);
  }

  void AddKeys(const ServerHandle& h, const std::string& record, Params* p) {
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      int key = static_cast<int>(k);
      p->Bytes(KeyImageOf(h.def, key, KeyValueOf(h.def, key, record)));
    }
  }

  // Why a guarded write touched no row: a record lock (84) or a transaction (85) of another
  // process, else the record changed or went (80).
  int16_t WhyNoRow(ServerHandle& h, int64_t pos) {
    Params p;
    p.Int(pos);
    Result r(Exec(h, qProbe, -1, p));
    if (r.Rows() != 1) return FromServer(r) == kOk ? kIoError : FromServer(r);
    if (!BoolField(r.r, 0, 0)) return kFileLocked;
    if (!BoolField(r.r, 0, 1)) return kRecordLocked;
    return kRecordChanged;
  }

  int16_t Insert(ServerHandle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (a.data == nullptr || *a.dataLength < h.def.recordLength) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    if ((status = EnterWrite(h)) != kOk) return status;
    std::string record(reinterpret_cast<const char*>(a.data), h.def.recordLength);
    Params p;
    p.Bytes(record);
    AddKeys(h, record, &p);
    Result r(Exec(h, qInsert, -1, p));
    if (!r.Ok()) return FromServer(r);
    if (r.Rows() == 0) {
      int16_t why = WhyNoRow(h, 0);
      return why == kFileLocked ? kFileLocked : kDuplicateKey;
    }
    int64_t pos = IntField(r.r, 0, 0);
    ReleaseSingle(h);
    if (a.keyNumber >= 0) {
      SetCurrent(h, pos, record, a.keyNumber);
      WriteKey(h, a, a.keyNumber, record);
    } else {
      h.hasPhysical = true;
      h.physicalPos = pos;
      h.hasCurrent = true;
      h.currentPos = pos;
      h.currentData = record;
    }
    return kOk;
  }

  // Loads inside a transaction go to the server a batch at a time through COPY. A batch the
  // server refuses is undone to its savepoint and inserted one by one, which finds the record
  // and the status that Insert gives. Outside a transaction every insert stands on its own, as
  // Insert's do, so they go one by one.
  int16_t InsertMany(void* positionBlock, const std::vector<std::string>& records,
                     size_t* inserted) override {
    ForgetInheritedConnection();
    justUpdated_ = 0;
    ServerHandle* h = positionBlock == nullptr ? nullptr : Find(positionBlock);
    if (h == nullptr || h->readOnly || !inTransaction_)
      return RecordEngine::InsertMany(positionBlock, records, inserted);
    *inserted = 0;
    while (*inserted < records.size()) {
      size_t first = *inserted, end = first, bytes = 0;
      while (end < records.size() && end - first < kBatchRecords && bytes < kBatchBytes)
        bytes += records[end++].size();
      if (!CopyBatch(*h, records, first, end)) {
        std::vector<std::string> batch(records.begin() + static_cast<std::ptrdiff_t>(first),
                                       records.begin() + static_cast<std::ptrdiff_t>(end));
        size_t done = 0;
        int16_t status = RecordEngine::InsertMany(positionBlock, batch, &done);
        *inserted += done;
        if (status != kOk) return status;
        continue;
      }
      *inserted = end;
    }
    return kOk;
  }

  static constexpr size_t kBatchRecords = 10000;
  static constexpr size_t kBatchBytes = 2 << 20;

  // Sends records [first, end) with COPY in binary form, as Insert would store them; false,
  // with nothing of them kept, when any is short or the server refuses any.
  bool CopyBatch(ServerHandle& h, const std::vector<std::string>& records, size_t first,
                 size_t end) {
    for (size_t i = first; i < end; ++i)
      if (records[i].size() < h.def.recordLength) return false;
    if (EnterWrite(h) != kOk || !Simple("SAVEPOINT kap_load")) return false;
    std::string columns = "data";
    for (size_t k = 0; k < h.def.keys.size(); ++k) columns += "," + KeyColumn(static_cast<int>(k));
    std::string copy = "COPY \"" + h.table + "\"(" + columns + ") FROM STDIN (FORMAT binary)";
    bool sent = false;
    {
      Result start(PQexec(conn_, copy.c_str()));
      if (PQresultStatus(start.r) == PGRES_COPY_IN) {
        std::string rows = CopyRows(h, records, first, end);
        sent = PQputCopyData(conn_, rows.data(), static_cast<int>(rows.size())) == 1;
        sent = PQputCopyEnd(conn_, sent ? nullptr : "not sent") == 1 && sent;
        for (PGresult* r; (r = PQgetResult(conn_)) != nullptr;) {
          Result done(r);
          sent = sent && done.Ok() && std::string(PQcmdTuples(r)) == std::to_string(end - first);
        }
      }
    }
    // The last record's position: the rows took the table's next positions in order.
    std::string last = "SELECT currval(pg_get_serial_sequence('\"" + h.table + "\"','pos'))";
    std::optional<Result> where;
    if (sent) where.emplace(PQexec(conn_, last.c_str()));
    if (!sent || where->Rows() != 1) {
      Simple("ROLLBACK TO SAVEPOINT kap_load; RELEASE SAVEPOINT kap_load");
      return false;
    }
    // Should the release fail, the transaction has failed too: what follows reports it.
    if (!Simple("RELEASE SAVEPOINT kap_load")) return false;
    int64_t pos = std::stoll(PQgetvalue(where->r, 0, 0));
    ReleaseSingle(h);
    h.hasPhysical = true;
    h.physicalPos = pos;
    h.hasCurrent = true;
    h.currentPos = pos;
    h.currentData = records[end - 1].substr(0, h.def.recordLength);
    return true;
  }

  // COPY's binary form: a header, then per row the field count and each field's length and
  // bytes (the record, then its key images), then -1.
  std::string CopyRows(const ServerHandle& h, const std::vector<std::string>& records, size_t first,
                       size_t end) const {
    std::string out("PGCOPY\n\xff\r\n\0", 11);
    out.append(8, '\0');  // no flags, no header extension
    auto field = [&out](const std::string& bytes) { out += NetworkBytes(bytes.size(), 4) + bytes; };
    for (size_t i = first; i < end; ++i) {
      std::string record = records[i].substr(0, h.def.recordLength);
      out += NetworkBytes(1 + h.def.keys.size(), 2);
      field(record);
      for (size_t k = 0; k < h.def.keys.size(); ++k) {
        int key = static_cast<int>(k);
        field(KeyImageOf(h.def, key, KeyValueOf(h.def, key, record)));
      }
    }
    out += NetworkBytes(0xFFFF, 2);
    return out;
  }

  // A unique key that would collide: checked first, because a failed statement would end
  // the caller's whole transaction on the server.
  int16_t UniqueClash(ServerHandle& h, const std::string& record) {
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      int key = static_cast<int>(k);
      if (h.def.keys[k].duplicates) continue;
      std::string image = KeyImageOf(h.def, key, KeyValueOf(h.def, key, record));
      if (image == KeyImageOf(h.def, key, KeyValueOf(h.def, key, h.currentData))) continue;
      Params p;
      p.Bytes(image);
      p.Int(h.currentPos);
      Result r(Exec(h, qExists, key, p));
      if (!r.Ok()) return FromServer(r);
      if (r.Rows() > 0) return kDuplicateKey;
    }
    return kOk;
  }

  int16_t Update(ServerHandle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (!h.hasCurrent) return kNoCurrency;
    if (a.data == nullptr || *a.dataLength < h.def.recordLength) return kDataBufferTooShort;
    int16_t status = CheckKey(h, a, true);
    if (status != kOk) return status;
    if (HeldByOtherHandle(h, h.currentPos)) return kRecordLocked;
    if ((status = EnterWrite(h)) != kOk) return status;
    std::string record(reinterpret_cast<const char*>(a.data), h.def.recordLength);
    for (size_t k = 0; k < h.def.keys.size(); ++k) {
      if (!h.def.keys[k].modifiable && KeyValueOf(h.def, static_cast<int>(k), record) !=
                                           KeyValueOf(h.def, static_cast<int>(k), h.currentData))
        return kModifiableKeyChanged;
    }
    if ((status = UniqueClash(h, record)) != kOk) return status;
    Params p;
    p.Bytes(record);
    AddKeys(h, record, &p);
    p.Int(h.currentPos);
    p.Bytes(h.currentData);
    Result r(Exec(h, qUpdate, -1, p));
    if (!r.Ok()) return FromServer(r);
    if (r.Rows() == 0) return WhyNoRow(h, h.currentPos);
    ReleaseSingle(h);
    h.currentData = record;
    justUpdated_ = h.id;
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

  int16_t Delete(ServerHandle& h, const Args& a) {
    if (h.readOnly) return kAccessDenied;
    if (!h.hasCurrent) return kNoCurrency;
    if (a.keyNumber >= 0 && !h.def.keys.empty() &&
        static_cast<size_t>(a.keyNumber) >= h.def.keys.size())
      return kInvalidKeyNumber;
    if (HeldByOtherHandle(h, h.currentPos)) return kRecordLocked;
    if (int16_t status = EnterWrite(h); status != kOk) return status;
    Params p;
    p.Int(h.currentPos);
    p.Bytes(h.currentData);
    Result r(Exec(h, qDelete, -1, p));
    if (!r.Ok()) return FromServer(r);
    if (r.Rows() == 0) return WhyNoRow(h, h.currentPos);
    if (h.singleLock == h.currentPos) ReleaseSingle(h);
    if (h.multipleLocks.erase(h.currentPos) > 0) ReleaseRecord(h, h.currentPos);
    if (a.keyNumber != h.logicalKey && h.logicalKey >= 0) h.logicalBroken = true;
    h.hasCurrent = false;
    return kOk;
  }

  int16_t Unlock(ServerHandle& h, const Args& a) {
    if (a.keyNumber >= 0) {
      if (h.singleLock < 0) return kLockError;
      ReleaseSingle(h);
      return kOk;
    }
    if (a.keyNumber == -1) {
      if (a.data == nullptr || *a.dataLength < 4) return kDataBufferTooShort;
      int64_t pos = LittleEndian32(a.data);
      if (h.multipleLocks.erase(pos) == 0) return kLockError;
      ReleaseRecord(h, pos);
      return kOk;
    }
    if (a.keyNumber == -2) {
      for (int64_t pos : h.multipleLocks) ReleaseRecord(h, pos);
      h.multipleLocks.clear();
      return kOk;
    }
    return kLockError;
  }

  std::string connection_;
  PGconn* conn_ = nullptr;
  uint32_t justUpdated_ = 0;  // the handle whose Update succeeded in the last call
  pid_t pid_ = getpid();
  bool inTransaction_ = false;
  std::set<int> joined_;  // files our open transaction has written to
  uint32_t nextId_ = 1;
  std::map<uint32_t, std::unique_ptr<ServerHandle>> handles_;
  std::map<std::pair<int, int64_t>, uint32_t> recordLocks_;  // held by which handle
  std::map<int, OpenCount> opens_;
  std::set<std::string> prepared_;
};

}  // namespace

PGconn* ConnectDataServer(const std::string& connection) {
  const std::string name = kap::DataServerSessionName(getpid());
  // The connection string is read as a whole, the way PQconnectdb reads it; the name comes
  // after it only as a fallback.
  const char* keys[] = {"dbname", "fallback_application_name", nullptr};
  const char* values[] = {connection.c_str(), name.c_str(), nullptr};
  return PQconnectdbParams(keys, values, 1);
}

}  // namespace rm

std::unique_ptr<RecordEngine> MakeServerEngine(const std::string& connection) {
  return std::make_unique<rm::ServerEngine>(connection);
}

std::string RecordServerProblem() { return rm::ProblemText(); }

uint64_t RecordServerRoundTrips() { return rm::roundTrips; }

}  // namespace kap
