// The server engine only: two installations in two schemas of one database keep apart, though
// their catalogs number files alike and advisory locks are database-wide; sessions are named
// after their process. Runs in the server pass (KAPSERVIDOR set).
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdlib>
#include <memory>

#include "platform/record_manager.h"
#include "platform/rm_internal.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

TEST(RecordManagerServerTest, InstallationsInTwoSchemasDoNotShareLocks) {
  const char* server = std::getenv("KAPSERVIDOR");
  if (server == nullptr) GTEST_SKIP() << "runs in the server pass";
  std::string base = server;
  base = base.substr(0, base.find(" options="));
  std::string schema = "other" + std::to_string(getpid());
  PGconn* admin = PQconnectdb(base.c_str());
  PQclear(PQexec(admin, ("CREATE SCHEMA " + schema).c_str()));
  std::unique_ptr<RecordEngine> other =
      MakeServerEngine(base + " options='-csearch_path=" + schema + "'");

  test::TempDir dir;
  std::string path = dir.file("file.dat");
  std::string spec = test::CreationBlock(16, {{{1, 2, 0x0004}}});
  test::RmFile mine;
  ASSERT_EQ(mine.Create(path, spec), 0);
  ASSERT_EQ(mine.Open(path, rm::kModeExclusive), 0);
  std::string record(16, 'x'), key(255, '\0');
  ASSERT_EQ(mine.Call(rm::kInsert, &record, &key, 0), 0);
  ASSERT_EQ(mine.Get(rm::kGetFirst + 200, 0, "", &record), 0);  // record 1 locked

  // The same name in the other installation: file 1 of its catalog too.
  SetRecordEngine(other.get());
  test::RmFile theirs;
  EXPECT_EQ(theirs.Create(path, spec), 0);
  EXPECT_EQ(theirs.Open(path, rm::kModeExclusive), 0);
  EXPECT_EQ(theirs.Insert(std::string(16, 'y')), 0);
  EXPECT_EQ(theirs.Get(rm::kGetFirst + 200, 0, "", &record), 0);
  theirs.Close();
  SetRecordEngine(nullptr);
  other.reset();
  PQclear(PQexec(admin, ("DROP SCHEMA " + schema + " CASCADE").c_str()));
  PQfinish(admin);
}

// Who holds a lock is read off the server's sessions: each process's connection carries its
// pid, unless the connection string names the sessions itself.
TEST(RecordManagerServerTest, SessionsAreNamedAfterTheirProcess) {
  const char* server = std::getenv("KAPSERVIDOR");
  if (server == nullptr) GTEST_SKIP() << "runs in the server pass";
  for (const std::string given : {"", "office"}) {
    std::string connection = server;
    if (!given.empty()) connection += " application_name=" + given;
    PGconn* conn = rm::ConnectDataServer(connection);
    ASSERT_EQ(PQstatus(conn), CONNECTION_OK) << PQerrorMessage(conn);
    PGresult* r = PQexec(conn, "SELECT current_setting('application_name')");
    ASSERT_EQ(PQntuples(r), 1);
    EXPECT_EQ(PQgetvalue(r, 0, 0), given.empty() ? "kap " + std::to_string(getpid()) : given);
    PQclear(r);
    PQfinish(conn);
  }
}

}  // namespace
}  // namespace kap
