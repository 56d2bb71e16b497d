// Runs the tests of the executable it is linked into on the server record engine when
// KAP_TEST_ENGINE=server: every test gets a schema of its own on the test cluster (started by
// the kap_server ctest fixture), named in KAPSERVIDOR so that the programs the test starts
// use it too, and dropped when the test ends.
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/record_manager.h"

namespace kap::test {
namespace {

class SchemaPerTest : public ::testing::EmptyTestEventListener {
 public:
  explicit SchemaPerTest(std::string base) : base_(std::move(base)) {}

  void OnTestStart(const ::testing::TestInfo&) override {
    schema_ = "t" + std::to_string(getpid()) + "_" + std::to_string(++count_);
    problem_ = Admin("CREATE SCHEMA " + schema_);
    std::string connection = base_ + " options='-csearch_path=" + schema_ + "'";
    setenv("KAPSERVIDOR", connection.c_str(), 1);
    UseRecordServer(connection);
  }
  void OnTestPartResult(const ::testing::TestPartResult&) override {}
  void OnTestEnd(const ::testing::TestInfo&) override {
    UseRecordServer("");
    unsetenv("KAPSERVIDOR");
    Admin("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE");
  }
  const std::string& problem() const { return problem_; }

 private:
  // Runs one statement on its own connection; "" or the server's complaint.
  std::string Admin(const std::string& sql) {
    PGconn* conn = PQconnectdb(base_.c_str());
    std::string problem;
    if (PQstatus(conn) != CONNECTION_OK) {
      problem = PQerrorMessage(conn);
    } else {
      PGresult* r = PQexec(conn, ("SET client_min_messages=warning; " + sql).c_str());
      if (PQresultStatus(r) != PGRES_COMMAND_OK) problem = PQresultErrorMessage(r);
      PQclear(r);
    }
    PQfinish(conn);
    return problem;
  }

  std::string base_;
  std::string schema_;
  std::string problem_;
  int count_ = 0;
};

// Fails each test at its start when the server is missing, rather than testing SQLite twice.
class ServerCheck : public ::testing::Environment {
 public:
  explicit ServerCheck(std::string problem) : problem_(std::move(problem)) {}
  void SetUp() override { ASSERT_TRUE(problem_.empty()) << problem_; }

 private:
  std::string problem_;
};

bool Install() {
  const char* engine = std::getenv("KAP_TEST_ENGINE");
  if (engine == nullptr || std::string(engine) != "server") return false;
  std::ifstream file(std::string(KAP_BINARY_DIR) + "/test-server/conninfo");
  std::string base;
  std::getline(file, base);
  if (base.empty()) {
    ::testing::AddGlobalTestEnvironment(new ServerCheck(
        "no test server: " KAP_BINARY_DIR "/test-server/conninfo is missing (ctest starts it)"));
    return true;
  }
  ::testing::UnitTest::GetInstance()->listeners().Append(new SchemaPerTest(base));
  return true;
}

const bool installed = Install();

}  // namespace
}  // namespace kap::test
