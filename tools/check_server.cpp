// The data server's files read for the check: one read-only transaction with one snapshot for
// every file (so the catalog, the counts and the scans agree while terminals write, and a
// transaction over several files is seen whole or not at all), each table read through a cursor
// so that a large file never sits in memory whole. Writers never wait for the check.
#include <libpq-fe.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/record_manager.h"
#include "tools/data_check.h"

namespace kap::tool {
namespace {

constexpr int kFetchRows = 2000;

std::string FirstLine(const char* text) {
  std::string s = text != nullptr ? text : "";
  return s.substr(0, s.find('\n'));
}

// The upper-cased absolute path with / separators: the catalog names a file by its tail.
std::string CatalogForm(const std::string& path) {
  std::filesystem::path p(path);
  if (p.is_relative()) p = std::filesystem::current_path() / p;
  std::string s = p.lexically_normal().generic_string();
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Whether the catalog's `name` (the path under the installation root that holds Vora.ini, or an
// absolute path outside any) is the tail of `full`, whole parts only.
bool NamesTail(const std::string& full, const std::string& name) {
  if (name.empty() || name.size() > full.size()) return false;
  if (full.compare(full.size() - name.size(), name.size(), name) != 0) return false;
  if (name.size() == full.size()) return true;
  return name[0] != '/' && full[full.size() - name.size() - 1] == '/';
}

class Result {
 public:
  explicit Result(PGresult* r) : r_(r) {}
  Result(Result&& other) noexcept : r_(other.r_) { other.r_ = nullptr; }
  ~Result() { PQclear(r_); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
  bool Ok() const {
    ExecStatusType s = PQresultStatus(r_);
    return s == PGRES_TUPLES_OK || s == PGRES_COMMAND_OK;
  }
  int Rows() const { return Ok() ? PQntuples(r_) : 0; }
  std::string Bytes(int row, int column) const {
    return std::string(PQgetvalue(r_, row, column),
                       static_cast<size_t>(PQgetlength(r_, row, column)));
  }
  int64_t Int8(int row, int column) const {
    int64_t v = 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(PQgetvalue(r_, row, column));
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
  }
  bool True(int row, int column) const { return Bytes(row, column) == std::string(1, '\1'); }
  std::string Error() const { return FirstLine(PQresultErrorMessage(r_)); }

 private:
  PGresult* r_;
};

// One connection in one read-only transaction whose snapshot every scan open at once reads.
class Snapshot {
 public:
  explicit Snapshot(const std::string& connection) {
    conn_ = rm::ConnectDataServer(connection);
    if (PQstatus(conn_) != CONNECTION_OK) {
      problem_ = "cannot reach the data server: " + FirstLine(PQerrorMessage(conn_));
      return;
    }
    Result quiet(Exec("SET client_min_messages = warning"));
    Result begin(Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
    if (!begin.Ok()) problem_ = begin.Error();
  }
  ~Snapshot() { PQfinish(conn_); }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;

  // Why the snapshot could not be taken; "" when it was.
  const std::string& problem() const { return problem_; }

  // Runs `sql`, results in binary, so that a failure spoils nothing else of the transaction.
  Result Run(const std::string& sql) {
    Result mark(Exec("SAVEPOINT one"));
    Result result(Exec(sql));
    Result end(Exec(result.Ok() ? "RELEASE SAVEPOINT one" : "ROLLBACK TO SAVEPOINT one"));
    return result;
  }
  std::string Identifier(const std::string& name) { return Quoted(PQescapeIdentifier, name); }
  std::string Literal(const std::string& text) { return Quoted(PQescapeLiteral, text); }
  int NextCursor() { return ++cursors_; }

 private:
  PGresult* Exec(const std::string& sql) {
    return PQexecParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1);
  }
  std::string Quoted(char* (*quote)(PGconn*, const char*, size_t), const std::string& text) {
    char* quoted = quote(conn_, text.data(), text.size());
    std::string out = quoted != nullptr ? quoted : "\"\"";
    PQfreemem(quoted);
    return out;
  }

  PGconn* conn_ = nullptr;
  std::string problem_;
  int cursors_ = 0;
};

// The snapshot of the scans open now, or a new one when none is.
std::shared_ptr<Snapshot> SharedSnapshot(const std::string& connection) {
  static std::weak_ptr<Snapshot> current;
  static std::string currentConnection;
  std::shared_ptr<Snapshot> snapshot = current.lock();
  if (snapshot == nullptr || currentConnection != connection) {
    snapshot = std::make_shared<Snapshot>(connection);
    current = snapshot;
    currentConnection = connection;
  }
  return snapshot;
}

class ServerScan : public StoreScan {
 public:
  explicit ServerScan(std::string connection) : connection_(std::move(connection)) {}

  std::string Open(const std::string& path) override {
    db_ = SharedSnapshot(connection_);
    if (!db_->problem().empty()) return db_->problem();
    Result there(db_->Run("SELECT to_regclass('kap_files') IS NOT NULL"));
    if (there.Rows() != 1 || !there.True(0, 0)) return "the data server holds no data files";
    Result catalog(
        db_->Run("SELECT name,tab,creation,to_regclass(quote_ident(tab)) IS NOT NULL "
                 "FROM kap_files"));
    if (!catalog.Ok()) return "the file catalog cannot be read: " + catalog.Error();
    const std::string full = CatalogForm(path);
    size_t best = 0;
    for (int row = 0; row < catalog.Rows(); ++row) {
      std::string name = catalog.Bytes(row, 0);
      if (!NamesTail(full, name) || name.size() <= best) continue;
      best = name.size();
      table_ = catalog.Bytes(row, 1);
      creation_ = catalog.Bytes(row, 2);
      tableThere_ = catalog.True(row, 3);
    }
    if (best == 0) return "no such file on the data server";
    quotedTable_ = db_->Identifier(table_);
    return "";
  }

  std::string Creation() override { return creation_; }

  std::vector<std::string> IntegrityProblems() override {
    if (!tableThere_)
      return {"store: the catalog names the table " + table_ + ", which is missing"};
    std::vector<std::string> problems;
    // The server's own check of its indexes, where the administrator has installed it.
    if (db_->Run("SELECT 1 FROM pg_extension WHERE extname='amcheck'").Rows() != 1) return problems;
    Result indexes(db_->Run("SELECT indexrelid::regclass::text FROM pg_index WHERE indrelid=" +
                            db_->Literal(table_) + "::regclass"));
    for (int row = 0; row < indexes.Rows(); ++row) {
      std::string index = indexes.Bytes(row, 0);
      Result checked(db_->Run("SELECT bt_index_check(" + db_->Literal(index) + "::regclass)"));
      if (!checked.Ok()) problems.push_back("store: index " + index + ": " + checked.Error());
    }
    return problems;
  }

  int64_t RecordCount() override {
    if (!tableThere_) return -1;
    Result count(db_->Run("SELECT count(*)::int8 FROM " + quotedTable_));
    return count.Rows() == 1 ? count.Int8(0, 0) : -1;
  }

  bool Start(int keys, std::string* problem) override {
    if (!tableThere_) {
      *problem = "the table " + table_ + " is missing";
      return false;
    }
    keys_ = keys;
    cursor_ = "records" + std::to_string(db_->NextCursor());
    std::string sql = "DECLARE " + cursor_ + " NO SCROLL CURSOR FOR SELECT pos::int8,data";
    for (int k = 0; k < keys; ++k) sql += ",k" + std::to_string(k);
    sql += " FROM " + quotedTable_ + " ORDER BY pos";
    Result declared(db_->Run(sql));
    if (declared.Ok()) return true;
    *problem = declared.Error();
    return false;
  }

  bool Next(StoredRecord* record, std::string* problem) override {
    if (batch_ == nullptr || next_ >= batch_->Rows()) {
      if (batch_ != nullptr && batch_->Rows() < kFetchRows) return false;
      batch_ = std::make_unique<Result>(
          db_->Run("FETCH " + std::to_string(kFetchRows) + " FROM " + cursor_));
      next_ = 0;
      if (!batch_->Ok()) {
        *problem = batch_->Error();
        return false;
      }
      if (batch_->Rows() == 0) return false;
    }
    record->position = batch_->Int8(next_, 0);
    record->data = batch_->Bytes(next_, 1);
    record->images.clear();
    for (int k = 0; k < keys_; ++k) record->images.push_back(batch_->Bytes(next_, k + 2));
    ++next_;
    return true;
  }

 private:
  std::string connection_;
  std::shared_ptr<Snapshot> db_;
  std::string table_, quotedTable_, creation_, cursor_;
  bool tableThere_ = false;
  std::unique_ptr<Result> batch_;
  int next_ = 0;
  int keys_ = 0;
};

}  // namespace

std::unique_ptr<StoreScan> MakeServerScan(const std::string& connection) {
  return std::make_unique<ServerScan>(connection);
}

}  // namespace kap::tool
