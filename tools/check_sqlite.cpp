// The SQLite files read for the check: the database opened read-only (so the check can never
// change a byte of it) and held in one read transaction, so the integrity check and the scan see
// one state of the file while writers wait. Scans open at once hold every file's read lock
// together, so no transaction over several files can commit between the reads of two of them.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/data_check.h"

namespace kap::tool {
namespace {

// A writer holds a file only for one commit. A writer committing over several files may wait
// for this check's lock on one of them while holding another: the check gives way (drops every
// lock and tries again) rather than wait for it.
constexpr int kBusyWaitMs = 250;

class SqliteScan : public StoreScan {
 public:
  ~SqliteScan() override {
    sqlite3_finalize(rows_);
    if (db_ != nullptr) sqlite3_close_v2(db_);
  }

  std::string Open(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a file";
    int rc = sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) return sqlite3_errstr(rc);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyWaitMs);
    rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    if (rc == SQLITE_OK)
      rc = sqlite3_prepare_v2(db_, "SELECT value FROM meta WHERE name='creation'", -1, &s, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(s);
    if (rc == SQLITE_ROW) {
      const char* blob = static_cast<const char*>(sqlite3_column_blob(s, 0));
      creation_.assign(blob != nullptr ? blob : "",
                       static_cast<size_t>(sqlite3_column_bytes(s, 0)));
      rc = SQLITE_OK;
    }
    std::string message = sqlite3_errmsg(db_);
    sqlite3_finalize(s);
    switch (rc & 0xFF) {
      case SQLITE_OK:
      case SQLITE_DONE:
      case SQLITE_CORRUPT:  // a damaged file is what the check reports, not a refusal
        return "";
      case SQLITE_NOTADB:
        return "not a data file";
      case SQLITE_BUSY:
        busy_ = true;
        return "locked by another program";
      case SQLITE_READONLY:
        // A hot journal: a write was interrupted and must be undone by a writer first.
        return "an interrupted write is pending; open the file with a program of the suite "
               "(which undoes it), then check again";
      case SQLITE_ERROR:
        return "not a data file (" + message + ")";
      default:
        return message;
    }
  }

  bool Busy() const override { return busy_; }
  std::string Creation() override { return creation_; }

  std::vector<std::string> IntegrityProblems() override {
    std::vector<std::string> problems;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &s, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      // One answer may hold several lines, under a heading naming the database.
      std::istringstream lines(text != nullptr ? reinterpret_cast<const char*>(text) : "");
      for (std::string line; std::getline(lines, line);)
        if (line != "ok" && line.rfind("*** ", 0) != 0) problems.push_back("store: " + line);
      rc = SQLITE_OK;
    }
    if (rc != SQLITE_DONE) problems.push_back(std::string("store: ") + sqlite3_errmsg(db_));
    sqlite3_finalize(s);
    return problems;
  }

  int64_t RecordCount() override {
    sqlite3_stmt* s = nullptr;
    int64_t count = -1;
    if (sqlite3_prepare_v2(db_, "SELECT count(*) FROM records", -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW)
      count = sqlite3_column_int64(s, 0);
    sqlite3_finalize(s);
    return count;
  }

  bool Start(int keys, std::string* problem) override {
    keys_ = keys;
    std::string sql = "SELECT pos,data";
    for (int k = 0; k < keys; ++k) sql += ",k" + std::to_string(k);
    sql += " FROM records ORDER BY pos";
    sqlite3_finalize(rows_);
    rows_ = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &rows_, nullptr) == SQLITE_OK) return true;
    *problem = sqlite3_errmsg(db_);
    return false;
  }

  bool Next(StoredRecord* record, std::string* problem) override {
    int rc = sqlite3_step(rows_);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) {
      *problem = sqlite3_errmsg(db_);
      return false;
    }
    record->position = sqlite3_column_int64(rows_, 0);
    record->data = Column(1);
    record->images.clear();
    for (int k = 0; k < keys_; ++k) record->images.push_back(Column(k + 2));
    return true;
  }

 private:
  std::string Column(int column) {
    const char* blob = static_cast<const char*>(sqlite3_column_blob(rows_, column));
    return std::string(blob != nullptr ? blob : "",
                       static_cast<size_t>(sqlite3_column_bytes(rows_, column)));
  }

  sqlite3* db_ = nullptr;
  sqlite3_stmt* rows_ = nullptr;
  std::string creation_;
  int keys_ = 0;
  bool busy_ = false;
};

}  // namespace

std::unique_ptr<StoreScan> MakeSqliteScan() { return std::make_unique<SqliteScan>(); }

}  // namespace kap::tool
