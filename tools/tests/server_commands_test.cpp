// The engine choice and the moves between engines, through the real kaptool: an unreachable
// server is named on stderr without its password; an installation moved to the server and back
// saves byte for byte as before. The moves run in the server pass (KAPSERVIDOR set).
#include <gtest/gtest.h>

#include <cstdlib>

#include "testsupport/test_support.h"

namespace kap {
namespace {

const char* const kDataFiles[] = {"DADES/PropietV", "DADES/FinquesV", "TAULES/UPaisos"};

class ServerCommandsTest : public ::testing::Test {
 protected:
  test::ProcessResult Kaptool(const std::string& root, const std::string& server,
                              std::vector<std::string> args) {
    test::ProcessOptions options;
    options.env = {{"KAPROOT", root + "/"}, {"KAPSERVIDOR", server}};
    options.workingDir = dir_.path();
    options.timeout = std::chrono::milliseconds(300000);
    args.insert(args.begin(), test::BuildPath("tools/kaptool"));
    return test::RunProcess(args, options);
  }
  // Builds the demo installation at `root` on the local files.
  void Demo(const std::string& root) {
    auto r = Kaptool(root, "-", {"demo", "build", test::SourcePath("demo"), root});
    ASSERT_EQ(r.exitCode, 0) << r.errors;
  }
  std::string Save(const std::string& root, const std::string& server, const std::string& file) {
    std::string out = dir_.file("save" + std::to_string(++saves_) + ".txt");
    auto r = Kaptool(root, server, {"data", "save", root + "/" + file, out});
    EXPECT_EQ(r.exitCode, 0) << file << ": " << r.errors;
    return test::ReadFile(out);
  }
  test::TempDir dir_;
  int saves_ = 0;
};

TEST_F(ServerCommandsTest, UnreachableServerIsNamedWithoutItsPassword) {
  std::string root = dir_.file("kap");
  test::MakeDirs(root + "/DADES");
  std::string closed = "host=127.0.0.1 port=1 dbname=kap user=clerk password=s3cret";
  struct Case {
    const char* what;
    std::string env;   // KAPSERVIDOR
    std::string vora;  // Vora.ini
    bool named;
  };
  std::vector<Case> cases = {
      {"environment", closed, "", true},
      {"Vora.ini", "", "[Dades]\r\nServidor=" + closed + "\r\n", true},
      {"environment overriding Vora.ini with -", "-", "[Dades]\r\nServidor=" + closed + "\r\n",
       false},
  };
  for (const Case& c : cases) {
    test::WriteFile(root + "/Vora.ini", c.vora);
    auto r = Kaptool(root, c.env, {"data", "stat", root + "/DADES/PropietV"});
    EXPECT_EQ(r.exitCode, 1) << c.what;
    bool named = r.errors.find(
                     "cannot reach the data server host=127.0.0.1 port=1 dbname=kap "
                     "user=clerk") != std::string::npos;
    EXPECT_EQ(named, c.named) << c.what << ": " << r.errors;
    EXPECT_EQ(r.errors.find("s3cret"), std::string::npos) << c.what;
    EXPECT_NE(r.errors.find(c.named ? "(status 20)" : "(status 12)"), std::string::npos)
        << c.what << ": " << r.errors;
  }
}

TEST_F(ServerCommandsTest, InstallationMovedToTheServerAndBackSavesByteForByte) {
  const char* server = std::getenv("KAPSERVIDOR");
  if (server == nullptr) GTEST_SKIP() << "runs in the server pass";
  std::string a = dir_.file("a"), b = dir_.file("b");
  Demo(a);
  Demo(b);
  for (const char* f : kDataFiles) ASSERT_EQ(std::remove((b + "/" + f + ".dat").c_str()), 0) << f;
  std::vector<std::string> before;
  for (const char* f : kDataFiles) before.push_back(Save(a, "-", f));

  auto moved = Kaptool(a, "-", {"move", "--to", server});
  ASSERT_EQ(moved.exitCode, 0) << moved.errors;
  EXPECT_NE(moved.errors.find("3 data files moved"), std::string::npos) << moved.errors;
  // A second move finds the files there and writes nothing.
  auto again = Kaptool(a, "-", {"move", "--to", server});
  EXPECT_EQ(again.exitCode, 1);
  EXPECT_NE(again.errors.find("already exists at the target"), std::string::npos) << again.errors;

  // Another root on the server sees the same files by their names under the root.
  auto back = Kaptool(b, server, {"move", "--to", "-"});
  ASSERT_EQ(back.exitCode, 0) << back.errors;
  for (size_t i = 0; i < std::size(kDataFiles); ++i) {
    EXPECT_EQ(Save(b, server, kDataFiles[i]), before[i]) << "on the server: " << kDataFiles[i];
    EXPECT_EQ(Save(b, "-", kDataFiles[i]), before[i]) << "moved back: " << kDataFiles[i];
  }

  // A save of one engine loads on the other, record for record.
  std::string saved = dir_.file("owners.txt");
  test::WriteFile(saved, before[0]);
  auto made = Kaptool(b, server, {"data", "create", b + "/DADES/Copia", a + "/ddf/PropietV.xdf"});
  ASSERT_EQ(made.exitCode, 0) << made.errors;
  auto loaded = Kaptool(b, server, {"data", "load", b + "/DADES/Copia", saved});
  ASSERT_EQ(loaded.exitCode, 0) << loaded.errors;
  EXPECT_EQ(Save(b, server, "DADES/Copia"), before[0]);
}

}  // namespace
}  // namespace kap
