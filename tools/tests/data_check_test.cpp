// kaptool data check on a demo installation: each damage done behind the engine's back (straight
// in the SQLite file, or in the server's table) is reported on its own line with status 1, a
// sound installation gives 0, and the check never changes a byte of a file. Runs on the server
// engine too (KAPSERVIDOR set). POSIX only: it runs kaptool and a writer as child processes.
#ifndef _WIN32
#include <libpq-fe.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap {
namespace {

bool OnServer() {
  const char* server = std::getenv("KAPSERVIDOR");
  return server != nullptr && *server != '\0' && std::string(server) != "-";
}

// Writes straight into a data file's store, bypassing the record manager.
class Store {
 public:
  explicit Store(std::string root) : root_(std::move(root)) {}

  // Runs `sql` on `file` ("DADES/FinquesV"), whose records table is written {}.
  void Run(const std::string& file, std::string sql) {
    if (OnServer()) {
      PGconn* conn = PQconnectdb(std::getenv("KAPSERVIDOR"));
      ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
      std::string table = Table(conn, file);
      ReplaceTable(&sql, "\"" + table + "\"");
      PGresult* r = PQexec(conn, sql.c_str());
      EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << sql << ": " << PQresultErrorMessage(r);
      PQclear(r);
      PQfinish(conn);
      return;
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((root_ + "/" + file + ".dat").c_str(), &db), SQLITE_OK);
    ReplaceTable(&sql, "records");
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
    sqlite3_close(db);
  }

  // A bytes literal of the store's SQL, from hex digits.
  static std::string Bytes(const std::string& hex) {
    return OnServer() ? "'\\x" + hex + "'::bytea" : "X'" + hex + "'";
  }

  // `bytes` (an expression) as a record's bytes: SQLite's || makes text of them.
  static std::string Blob(const std::string& bytes) {
    return OnServer() ? bytes : "CAST(" + bytes + " AS BLOB)";
  }

  // The server's table of `file`.
  static std::string Table(PGconn* conn, const std::string& file) {
    std::string name = file + ".DAT";
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const char* values[] = {name.c_str()};
    PGresult* r = PQexecParams(conn, "SELECT tab FROM kap_files WHERE name=$1", 1, nullptr, values,
                               nullptr, nullptr, 0);
    std::string table = PQntuples(r) == 1 ? PQgetvalue(r, 0, 0) : "";
    PQclear(r);
    EXPECT_FALSE(table.empty()) << "no table for " << name;
    return table;
  }

 private:
  static void ReplaceTable(std::string* sql, const std::string& table) {
    for (size_t at; (at = sql->find("{}")) != std::string::npos;) sql->replace(at, 2, table);
  }
  std::string root_;
};

// A record's data with the two bytes at offset `at` replaced by `hex`.
std::string WithBytes(size_t at, const std::string& hex) {
  return Store::Blob("substr(data,1," + std::to_string(at) + ")||" + Store::Bytes(hex) +
                     "||substr(data," + std::to_string(at + 3) + ")");
}

// The estate at `position` names the owner of packed code `hex`, its key image kept in step, as
// the engine would write it.
void GiveEstate(Store& s, int position, const std::string& hex) {
  s.Run("DADES/FinquesV", "UPDATE {} SET data=" + WithBytes(6, hex) + ", k1=" + Store::Bytes(hex) +
                              " WHERE pos=" + std::to_string(position));
}

struct Damage {
  const char* name;
  // Damages the installation at the root.
  std::function<void(const std::string& root, Store& store)> damage;
  std::string expected;  // a line of the report, after the root; a trailing * matches any rest
};

// Names the case in the test's name and messages.
void PrintTo(const Damage& d, std::ostream* out) { *out << d.name; }

const Damage kDamages[] = {
    {"KeyImageChanged",
     [](const std::string&, Store& s) {
       s.Run("DADES/FinquesV", "UPDATE {} SET k1=" + Store::Bytes("8199") + " WHERE pos=3");
     },
     "/DADES/FinquesV.dat: record at position 3: the stored image of key 1 does not match the "
     "record"},
    // The owner at position 2 takes the code of the first one while its stored image keeps its
    // own, so the unique index cannot see the repeat.
    {"UniqueKeyRepeatedUnderAStaleImage",
     [](const std::string&, Store& s) {
       s.Run("DADES/PropietV",
             "UPDATE {} SET data=" +
                 Store::Blob("(SELECT substr(data,1,2) FROM {} WHERE pos=1)||substr(data,3)") +
                 " WHERE pos=2");
     },
     "/DADES/PropietV.dat: record at position 2: key 0 repeats the value of the record at "
     "position 1, on a key without duplicates"},
    // The server offers no pages to damage: its table is gone under the catalog instead.
    {"CorruptedPage",
     [](const std::string& root, Store& s) {
       if (OnServer()) return s.Run("DADES/FinquesV", "DROP TABLE {}");
       // The header of the records table's first page (the database's fourth).
       std::string bytes = test::ReadFile(root + "/DADES/FinquesV.dat");
       ASSERT_GT(bytes.size(), 4u * 4096);
       bytes.replace(3 * 4096, 16, std::string(16, '\x07'));
       test::WriteFile(root + "/DADES/FinquesV.dat", bytes);
     },
     "/DADES/FinquesV.dat: store: *"},
    {"EstateNamesAMissingOwner", [](const std::string&, Store& s) { GiveEstate(s, 7, "80e3"); },
     "/DADES/FinquesV.dat: estate 0007 names owner 0099, which does not exist"},
    {"OwnerSlotNamesAnEstateHeldBySomeoneElse",
     [](const std::string&, Store& s) { GiveEstate(s, 5, "8099"); },
     "/DADES/PropietV.dat: owner 0003, slot 4, names estate 0005, which names owner 0025"},
};

class DataCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.file("kap");
    auto r = Kaptool({"demo", "build", test::SourcePath("demo"), root_});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
  }
  test::ProcessResult Kaptool(std::vector<std::string> args) {
    test::ProcessOptions options;
    options.env = {{"KAPROOT", root_ + "/"}};
    options.workingDir = dir_.path();
    args.insert(args.begin(), test::BuildPath("tools/kaptool"));
    return test::RunProcess(args, options);
  }
  // Every data file's bytes.
  std::string Files() {
    std::string all;
    for (const char* f : {"/DADES/PropietV.dat", "/DADES/FinquesV.dat", "/TAULES/UPaisos.dat"})
      all += test::ReadFile(root_ + f) + '\0';
    return all;
  }
  test::TempDir dir_;
  std::string root_;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class DamageTest : public DataCheckTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamageTest, IsReportedOnItsLineWithStatus1AndNothingChanges) {
  const Damage& d = GetParam();
  Store store(root_);
  d.damage(root_, store);
  if (HasFatalFailure()) return;
  const std::string before = Files();
  auto r = Kaptool({"data", "check"});
  EXPECT_EQ(r.exitCode, 1) << r.output << r.errors;
  std::string expected = root_ + d.expected;
  bool prefix = expected.back() == '*';
  if (prefix) expected.pop_back();
  std::vector<std::string> lines = Lines(r.output);
  bool found = false;
  for (const std::string& line : lines)
    found = found || (prefix ? line.rfind(expected, 0) == 0 : line == expected);
  EXPECT_TRUE(found) << "wanted: " << d.expected << "\ngot:\n" << r.output;
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), std::to_string(lines.size() - 1) +
                              (lines.size() == 2 ? " problem found" : " problems found"));
  EXPECT_TRUE(Files() == before) << "the check changed a file";
}

INSTANTIATE_TEST_SUITE_P(DataCheck, DamageTest, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DataCheckTest, SoundFilesGive0AndFilesThatCannotBeOpenedGive2) {
  const std::string before = Files();
  auto r = Kaptool({"data", "check"});
  EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
  EXPECT_EQ(r.output, "no problems found in 3 files\n");
  EXPECT_NE(r.errors.find("FinquesV.dat: 33 records checked"), std::string::npos) << r.errors;
  // Named files, with or without .dat and in any case.
  r = Kaptool({"data", "check", root_ + "/dades/propietv", root_ + "/DADES/FinquesV.dat"});
  EXPECT_EQ(r.exitCode, 0) << r.output << r.errors;
  EXPECT_EQ(r.output, "no problems found in 2 files\n");
  EXPECT_TRUE(Files() == before) << "the check changed a file";

  test::WriteFile(root_ + "/DADES/Text.dat", "not a data file at all\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error, total;
  } cases[] = {
      {{"--quick"}, 2, "unknown option --quick", ""},
      {{root_ + "/DADES/Nothing"},
       2,
       "cannot open " + root_ + "/DADES/Nothing.dat",
       "1 file could not be opened\n"},
      {{root_ + "/DADES/PropietV", root_ + "/DADES/Text"},
       2,
       "cannot open " + root_ + "/DADES/Text.dat",
       "no problems found in 1 file; 1 file could not be opened\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"data", "check"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    r = Kaptool(args);
    EXPECT_EQ(r.exitCode, c.status) << c.args.back() << ": " << r.errors;
    EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
    EXPECT_EQ(r.output, c.total) << c.args.back();
  }
}

// Hands estate 0001 between owners 0001 and 0002 in one transaction over both files, again and
// again, until killed: every committed state is sound, every state in between is not.
[[noreturn]] void HandEstateBackAndForth(const std::string& root) {
  const char* const kMoves[2][3] = {{"8082", "8080", "8081"}, {"8081", "8081", "8080"}};
  auto sql = [](const std::string& estates, const std::string& owners, const char* const* move) {
    return "UPDATE " + estates + " SET data=" + WithBytes(6, move[0]) +
           ", k1=" + Store::Bytes(move[0]) + " WHERE pos=1; UPDATE " + owners +
           " SET data=" + WithBytes(184, move[1]) + " WHERE pos=1; UPDATE " + owners +
           " SET data=" + WithBytes(188, move[2]) + " WHERE pos=2;";
  };
  if (OnServer()) {
    PGconn* conn = PQconnectdb(std::getenv("KAPSERVIDOR"));
    const std::string estates = Store::Table(conn, "DADES/FinquesV");
    const std::string owners = Store::Table(conn, "DADES/PropietV");
    for (int i = 0;; i ^= 1) {
      PQclear(PQexec(conn, ("BEGIN; " + sql(estates, owners, kMoves[i]) + " COMMIT").c_str()));
      usleep(1000);
    }
  }
  sqlite3* db = nullptr;
  sqlite3_open((root + "/DADES/FinquesV.dat").c_str(), &db);
  sqlite3_busy_timeout(db, 60000);
  sqlite3_exec(db, ("ATTACH '" + root + "/DADES/PropietV.dat' AS o").c_str(), nullptr, nullptr,
               nullptr);
  for (int i = 0;; i ^= 1) {
    const std::string move =
        "BEGIN IMMEDIATE; " + sql("main.records", "o.records", kMoves[i]) + " COMMIT";
    sqlite3_exec(db, move.c_str(), nullptr, nullptr, nullptr);
    usleep(1000);
  }
}

// Terminals keep writing while the check reads: a transaction over both files is never seen in
// part, so a sound installation stays sound in every report.
TEST_F(DataCheckTest, WritesOverSeveralFilesAreSeenWholeWhileTheCheckReads) {
  int writer = test::ForkChild([&]() -> int { HandEstateBackAndForth(root_); });
  for (int run = 0; run < 4; ++run) {
    auto r = Kaptool({"data", "check", root_ + "/DADES/PropietV", root_ + "/DADES/FinquesV"});
    EXPECT_EQ(r.exitCode, 0) << "run " << run << ":\n" << r.output << r.errors;
    EXPECT_EQ(r.output, "no problems found in 2 files\n") << "run " << run;
  }
  kill(writer, SIGKILL);
  test::WaitChildAndItsSessions(writer);
}

// A writer killed inside a transaction leaves its journal for the next writer to undo: the
// check, which never writes, says so and leaves both files as they are.
TEST_F(DataCheckTest, AnInterruptedWriteIsLeftForAWriterToUndo) {
  if (OnServer()) GTEST_SKIP() << "the server undoes its own transactions";
  const std::string file = root_ + "/DADES/FinquesV.dat";
  int child = test::ForkChild([&]() -> int {
    sqlite3* db = nullptr;
    sqlite3_open(file.c_str(), &db);
    // A one-page cache spills the change into the file before the commit.
    sqlite3_exec(db, "PRAGMA cache_size=1; BEGIN; UPDATE records SET k1=k1||X'00'", nullptr,
                 nullptr, nullptr);
    _exit(0);
  });
  ASSERT_EQ(test::WaitChild(child), 0);
  ASSERT_TRUE(test::FileExists(file + "-journal"));
  const std::string before = Files() + test::ReadFile(file + "-journal");
  auto r = Kaptool({"data", "check"});
  EXPECT_EQ(r.exitCode, 2) << r.output << r.errors;
  EXPECT_NE(r.errors.find("cannot open " + file + ": an interrupted write is pending"),
            std::string::npos)
      << r.errors;
  EXPECT_EQ(r.output, "no problems found in 2 files; 1 file could not be opened\n");
  EXPECT_TRUE(Files() + test::ReadFile(file + "-journal") == before) << "the check changed a file";
}

}  // namespace
}  // namespace kap
#endif  // _WIN32
