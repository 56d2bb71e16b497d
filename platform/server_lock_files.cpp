// Lock files kept on the data server: one row per file holding its bytes, so the entries keep
// their 121-byte layout. The exclusive open is a session advisory lock held while the File
// lives, and process marks are shared advisory locks: the server drops both when the
// connection ends, however the process ends. The store has a connection of its own, so that a
// record-manager transaction never takes lock entries with it when it is aborted.
#include <libpq-fe.h>
#include <unistd.h>

#include <map>
#include <utility>
#include <vector>

#include "platform/record_manager.h"
#include "platform/rm_internal.h"

namespace kap {
namespace {

// Advisory lock classes of the store, apart from the record engine's keys (which use the
// one-number form of the advisory locks).
constexpr int32_t kOpenClass = 7022;

struct StoreConnection {
  std::string connection;
  PGconn* conn = nullptr;
  pid_t pid = 0;
  uint32_t schemaHash = 0;
  // Marks held by opens of this process: (file key, offset) -> how many opens hold it.
  std::map<std::pair<uint32_t, int64_t>, int> marks;
};

// Never destroyed: lock files kept by other statics may still let go of their marks at exit.
StoreConnection& Store() {
  static StoreConnection* store = new StoreConnection;
  return *store;
}

uint32_t Fnv(const std::string& text, uint32_t hash = 2166136261u) {
  for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
  return hash;
}

struct Result {
  PGresult* r;
  explicit Result(PGresult* result) : r(result) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    const ExecStatusType s = PQresultStatus(r);
    return s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK;
  }
  // Results come back in binary: a boolean is one byte.
  bool True() const {
    return Ok() && PQntuples(r) == 1 && PQgetlength(r, 0, 0) == 1 && PQgetvalue(r, 0, 0)[0] != 0;
  }
};

// Text parameters only: names and numbers are sent apart from the statement, never in it.
PGresult* Exec(PGconn* conn, const char* sql, std::vector<std::string> text,
               const std::string* bytes = nullptr) {
  std::vector<const char*> values;
  std::vector<int> lengths, formats;
  for (const std::string& t : text) {
    values.push_back(t.c_str());
    lengths.push_back(static_cast<int>(t.size()));
    formats.push_back(0);
  }
  if (bytes) {
    values.push_back(bytes->data());
    lengths.push_back(static_cast<int>(bytes->size()));
    formats.push_back(1);
  }
  return PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                      lengths.data(), formats.data(), 1);
}

PGconn* Connected() {
  StoreConnection& s = Store();
  const std::string& wanted = RecordServerConnection();
  if (s.conn && (s.pid != getpid() || s.connection != wanted)) {
    // A child inherits no connection of its own; a new choice of server starts afresh.
    if (s.pid == getpid()) PQfinish(s.conn);
    s.conn = nullptr;
    s.marks.clear();
  }
  if (s.conn && PQstatus(s.conn) == CONNECTION_OK) return s.conn;
  if (s.conn) {
    PQfinish(s.conn);  // its locks and marks went with it
    s.conn = nullptr;
    s.marks.clear();
  }
  if (wanted.empty()) return nullptr;
  PGconn* conn = rm::ConnectDataServer(wanted);
  if (PQstatus(conn) != CONNECTION_OK) {
    PQfinish(conn);
    return nullptr;
  }
  Result quiet(PQexec(conn, "SET client_min_messages = warning"));
  Result made(PQexec(conn,
                     "BEGIN; SELECT pg_advisory_xact_lock(7021, 1); "
                     "CREATE TABLE IF NOT EXISTS kap_lock_files(name text PRIMARY KEY, "
                     "bytes bytea NOT NULL); COMMIT"));
  Result schema(PQexec(conn, "SELECT current_schema()"));
  if (!made.Ok() || !schema.Ok() || PQntuples(schema.r) != 1) {
    PQfinish(conn);
    return nullptr;
  }
  s.conn = conn;
  s.pid = getpid();
  s.connection = wanted;
  // Installations in different schemas of one database never share a lock.
  s.schemaHash = Fnv(PQgetvalue(schema.r, 0, 0));
  return conn;
}

std::string Int(int64_t v) { return std::to_string(v); }
// Keys of the two-number advisory locks are signed 32-bit numbers.
std::string Key(uint32_t v) { return std::to_string(static_cast<int32_t>(v)); }

class ServerLockFile : public File {
 public:
  ServerLockFile(std::string name, uint32_t key, bool exclusive, std::string bytes)
      : name_(std::move(name)), key_(key), exclusive_(exclusive), bytes_(std::move(bytes)) {}
  ~ServerLockFile() override {
    PGconn* conn = Live();
    for (const auto& [offset, held] : held_) {
      (void)held;
      LetGoMark(conn, offset);
    }
    if (exclusive_ && conn) {
      Result r(Exec(conn, "SELECT pg_advisory_unlock($1::int4, $2::int4)",
                    {Int(kOpenClass), Key(key_)}));
    }
  }

  bool ReadAt(int64_t offset, size_t size, std::string* out) override {
    out->clear();
    if (offset < 0) return false;
    if (offset < static_cast<int64_t>(bytes_.size()))
      *out = bytes_.substr(static_cast<size_t>(offset), size);
    return true;
  }
  bool WriteAt(int64_t offset, const std::string& bytes) override {
    if (offset < 0) return false;
    std::string next = bytes_;
    if (next.size() < offset + bytes.size()) next.resize(offset + bytes.size(), '\0');
    next.replace(static_cast<size_t>(offset), bytes.size(), bytes);
    return Save(next);
  }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  bool Truncate(int64_t size) override {
    if (size < 0) return false;
    std::string next = bytes_;
    next.resize(static_cast<size_t>(size), '\0');
    return Save(next);
  }

  bool MarksSupported() override { return true; }
  bool HoldMark(int64_t offset) override {
    if (held_.count(offset)) return true;
    PGconn* conn = Live();
    if (!conn) return false;
    Result r(Exec(conn, "SELECT pg_advisory_lock_shared($1::int4, $2::int4)",
                  {Key(MarkClass()), Key(static_cast<uint32_t>(offset))}));
    if (!r.Ok()) return false;
    held_[offset] = true;
    ++Store().marks[{key_, offset}];
    return true;
  }
  void ReleaseMark(int64_t offset) override {
    if (held_.erase(offset)) LetGoMark(Live(), offset);
  }
  bool MarkHeldElsewhere(int64_t offset) override {
    auto mine = Store().marks.find({key_, offset});
    const int here = mine == Store().marks.end() ? 0 : mine->second;
    if (here > (held_.count(offset) ? 1 : 0)) return true;
    PGconn* conn = Live();
    if (!conn) return true;  // uncertain: alive
    Result r(Exec(conn,
                  "SELECT EXISTS(SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND "
                  "objsubid = 2 AND classid::int8 = $1 AND objid::int8 = $2 AND "
                  "pid <> pg_backend_pid())",
                  {Int(MarkClass()), Int(static_cast<uint32_t>(offset))}));
    return !r.Ok() || r.True();
  }

 private:
  uint32_t MarkClass() const { return key_ ^ 0x5A5A5A5Au; }
  // The connection this open was made on; null once it is lost (its locks went with it).
  PGconn* Live() const {
    StoreConnection& s = Store();
    return s.conn && s.pid == getpid() && PQstatus(s.conn) == CONNECTION_OK ? s.conn : nullptr;
  }
  void LetGoMark(PGconn* conn, int64_t offset) {
    auto mine = Store().marks.find({key_, offset});
    if (mine != Store().marks.end() && --mine->second == 0) Store().marks.erase(mine);
    if (!conn) return;
    Result r(Exec(conn, "SELECT pg_advisory_unlock_shared($1::int4, $2::int4)",
                  {Key(MarkClass()), Key(static_cast<uint32_t>(offset))}));
  }
  bool Save(const std::string& next) {
    PGconn* conn = Live();
    if (!conn) return false;
    Result r(Exec(conn, "UPDATE kap_lock_files SET bytes = $2 WHERE name = $1", {name_}, &next));
    if (!r.Ok()) return false;
    bytes_ = next;
    return true;
  }

  std::string name_;
  uint32_t key_;
  bool exclusive_;
  std::string bytes_;
  std::map<int64_t, bool> held_;
};

}  // namespace

std::unique_ptr<File> OpenServerLockFile(const std::string& name, bool create, Sharing sharing,
                                         OpenResult* result) {
  *result = OpenResult::kFailed;
  PGconn* conn = Connected();
  if (!conn) return nullptr;
  const uint32_t key = Fnv(name, Store().schemaHash);
  const bool exclusive = sharing == Sharing::kExclusive;
  if (exclusive) {
    Result got(
        Exec(conn, "SELECT pg_try_advisory_lock($1::int4, $2::int4)", {Int(kOpenClass), Key(key)}));
    if (!got.Ok()) return nullptr;
    if (!got.True()) {
      *result = OpenResult::kBusy;
      return nullptr;
    }
  }
  auto unlock = [&] {
    if (exclusive) {
      Result r(
          Exec(conn, "SELECT pg_advisory_unlock($1::int4, $2::int4)", {Int(kOpenClass), Key(key)}));
    }
  };
  if (create) {
    Result made(Exec(conn,
                     "INSERT INTO kap_lock_files VALUES ($1, ''::bytea) "
                     "ON CONFLICT DO NOTHING",
                     {name}));
    if (!made.Ok()) {
      unlock();
      return nullptr;
    }
  }
  Result read(Exec(conn, "SELECT bytes FROM kap_lock_files WHERE name = $1", {name}));
  if (!read.Ok() || PQntuples(read.r) != 1) {
    if (read.Ok()) *result = OpenResult::kPathMissing;
    unlock();
    return nullptr;
  }
  std::string bytes(PQgetvalue(read.r, 0, 0), static_cast<size_t>(PQgetlength(read.r, 0, 0)));
  *result = OpenResult::kOk;
  return std::make_unique<ServerLockFile>(name, key, exclusive, std::move(bytes));
}

bool ServerLockFileExists(const std::string& name) {
  PGconn* conn = Connected();
  if (!conn) return false;
  Result r(Exec(conn, "SELECT EXISTS(SELECT 1 FROM kap_lock_files WHERE name = $1)", {name}));
  return r.True();
}

std::vector<std::string> ServerLockFileNames() {
  std::vector<std::string> names;
  PGconn* conn = Connected();
  if (!conn) return names;
  Result r(PQexec(conn, "SELECT name FROM kap_lock_files ORDER BY name"));
  if (!r.Ok()) return names;
  for (int i = 0; i < PQntuples(r.r); ++i) names.push_back(PQgetvalue(r.r, i, 0));
  return names;
}

}  // namespace kap
