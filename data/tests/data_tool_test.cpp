// kaptool data, run as a program: dictionaries from descriptions, creation, statistics, the
// unformatted save and load, and dumps.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::ProcessResult;
using test::RunProcess;

ProcessResult Tool(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv{test::BuildPath("tools/kaptool"), "data"};
  argv.insert(argv.end(), args.begin(), args.end());
  test::ProcessOptions options;
  options.workingDir = cwd;
  return RunProcess(argv, options);
}

const char kDescription[] =
    "# owners\n"
    "record 12\n"
    "page 1024\n"
    "key modifiable          # the number\n"
    "segment 1 2 binary\n"
    "key duplicates\n"
    "segment 3 4 acs\n"
    "segment 7 2 binary descending\n"
    "acs UPPER upper\n";

std::string Rec(int n, const std::string& name) {
  std::string r(12, '.');
  r[0] = static_cast<char>(n & 0xFF);
  r[1] = static_cast<char>(n >> 8);
  r.replace(2, 4, (name + "    ").substr(0, 4));
  return r;
}

std::string SaveLine(const std::string& record) {
  return std::to_string(record.size()) + "," + record + "\r\n";
}

class DataToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFile(dir.file("own.txt"), kDescription);
    ProcessResult r = Tool({"dictionary", "own.txt", "own.xdf"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    r = Tool({"create", "own", "own.xdf"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.errors;
  }
  test::TempDir dir;
};

TEST_F(DataToolTest, DictionaryHoldsThePublishedCreateLayout) {
  std::string xdf = test::ReadFile(dir.file("own.xdf"));
  ASSERT_EQ(xdf.size(), 2u + 16 + 3 * 16 + 265);
  EXPECT_EQ(static_cast<uint8_t>(xdf[0]) | (static_cast<uint8_t>(xdf[1]) << 8), 16 + 48 + 265);
  std::string b = xdf.substr(2);
  auto get16 = [&](size_t at) {
    return static_cast<uint8_t>(b[at]) | (static_cast<uint8_t>(b[at + 1]) << 8);
  };
  EXPECT_EQ(get16(0), 12);
  EXPECT_EQ(get16(2), 1024);
  EXPECT_EQ(get16(4), 2);
  EXPECT_EQ(get16(16 + 4), 0x0006);  // modifiable, binary
  EXPECT_EQ(get16(32 + 4), 0x0031);  // duplicates, segmented, acs
  EXPECT_EQ(get16(48 + 0), 7);
  EXPECT_EQ(get16(48 + 4), 0x0045);  // duplicates, binary, descending
  EXPECT_EQ(static_cast<uint8_t>(b[64]), 0xAC);
  EXPECT_EQ(b.substr(65, 8), "UPPER   ");
  EXPECT_EQ(b[73 + 'a'], 'A');
  EXPECT_EQ(b[73 + 0xE9], '\xE9');

  ProcessResult r = Tool({"stat", "own.dat"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_NE(r.output.find("record       12 bytes"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("records      0"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("acs          UPPER"), std::string::npos) << r.output;
  r = Tool({"create", "own", "own.xdf"}, dir.path());
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.errors.find("exists"), std::string::npos);
}

TEST_F(DataToolTest, DescriptionErrorsNameTheLine) {
  struct Case {
    std::string text;
    std::string error;
  };
  std::vector<Case> cases = {
      {"page 1024\nrecord 10\n", "line 1: the first directive must be record"},
      {"record 10\nkey\nkey\nsegment 1 2\n", "line 2: key without a segment"},
      {"record 10\nkey\n", "line 2: key without a segment"},
      {"record 10\nsegment 1 2\n", "line 2: segment before any key"},
      {"record 10\nkey\nsegment 9 4\n", "line 3: segment ends past the record"},
      {"record 10\nkey\nsegment 1 2 wide\n", "line 3: unknown segment flag wide"},
      {"record 10\nkey unique\n", "line 2: unknown key flag unique"},
      {"record 99999999\n", "line 1: record needs a length"},
      {"record 10\npage 1000\n", "line 2: page needs a size"},
      {"record 10\nkey\nsegment 1 2 acs\n", "a segment uses acs but no acs is given"},
      {"record 10\nacs X 00 01\n", "line 2: acs table needs 256 hex bytes"},
      {"record 10\nbogus\n", "line 2: unknown directive bogus"},
      {"", "no record directive"},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir.file("bad.txt"), c.text);
    std::remove(dir.file("bad.xdf").c_str());
    ProcessResult r = Tool({"dictionary", "bad.txt", "bad.xdf"}, dir.path());
    EXPECT_EQ(r.exitCode, 1) << c.text;
    EXPECT_NE(r.errors.find(c.error), std::string::npos) << c.text << " -> " << r.errors;
    EXPECT_FALSE(test::FileExists(dir.file("bad.xdf"))) << c.text;
  }
}

TEST_F(DataToolTest, SaveAndLoadRoundTrip) {
  // Binary bytes, CR LF and Ctrl+Z inside records must survive: the length decides.
  std::string records = SaveLine(Rec(3, "cc\r\n")) +
                        SaveLine(Rec(1, std::string("a\x1A\x00z", 4))) + SaveLine(Rec(2, "bb"));
  test::WriteFile(dir.file("in.txt"), records);  // without the final Ctrl+Z
  ProcessResult r = Tool({"load", "own", "in.txt"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  r = Tool({"save", "own.dat", "out.txt"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_EQ(test::ReadFile(dir.file("out.txt")), SaveLine(Rec(1, std::string("a\x1A\x00z", 4))) +
                                                     SaveLine(Rec(2, "bb")) +
                                                     SaveLine(Rec(3, "cc\r\n")) + "\x1A");
  r = Tool({"dump", "own"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  size_t first = r.output.find("01 00 61 1a 00 7a");
  size_t third = r.output.find("03 00 63 63 0d 0a");
  EXPECT_NE(first, std::string::npos) << r.output;
  EXPECT_NE(third, std::string::npos) << r.output;
  EXPECT_LT(first, third);
}

TEST_F(DataToolTest, MalformedLineStopsTheLoad) {
  struct Case {
    const char* what;
    std::string text;
    std::string error;
    int loaded;
  };
  // All or nothing: whatever stops the load, the file keeps the one record it had before.
  std::vector<Case> cases = {
      {"wrong length",
       SaveLine(Rec(1, "a")) + "11," + Rec(2, "b").substr(0, 11) + "\r\n" + SaveLine(Rec(3, "c")),
       "line 2: length 11 is not the record length 12", 1},
      {"no length", SaveLine(Rec(1, "a")) + ",xxx\r\n", "line 2: no record length", 1},
      {"cut short", SaveLine(Rec(1, "a")) + "12,abc", "line 2: record cut short", 1},
      {"missing CR LF", "12," + Rec(1, "a") + "XX" + SaveLine(Rec(2, "b")),
       "line 1: record not followed by CR LF", 1},
      {"duplicate number", SaveLine(Rec(1, "a")) + SaveLine(Rec(1, "b")) + SaveLine(Rec(4, "d")),
       "line 2: insert refused (status 5)", 1},
      {"clash with the record there", SaveLine(Rec(2, "a")) + SaveLine(Rec(9, "b")),
       "line 2: insert refused (status 5)", 1},
      {"huge length", "99999999999," + Rec(1, "a") + "\r\n", "line 1: no record length", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProcessResult r = Tool({"create", "--replace", "own", "own.xdf"}, dir.path());
    ASSERT_EQ(r.exitCode, 0) << r.errors;
    test::WriteFile(dir.file("one.txt"), SaveLine(Rec(9, "there")));
    ASSERT_EQ(Tool({"load", "own", "one.txt"}, dir.path()).exitCode, 0);
    test::WriteFile(dir.file("in.txt"), c.text);
    r = Tool({"load", "own", "in.txt"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("nothing loaded"), std::string::npos) << r.errors;
    r = Tool({"stat", "own"}, dir.path());
    EXPECT_NE(r.output.find("records      " + std::to_string(c.loaded) + "\n"), std::string::npos)
        << r.output;
  }
}

// Loads longer than one batch of records: every byte value survives save, load and save again,
// and a refusal deep inside names its own line and leaves the file as it was.
std::string BigLoad(int count, const std::map<int, std::string>& lines = {}) {
  std::string text;
  for (int n = 1; n <= count; ++n) {
    auto special = lines.find(n);
    if (special != lines.end()) {
      text += special->second;
      continue;
    }
    std::string name = {static_cast<char>(n * 7), static_cast<char>(n >> 3), '\r', '\n'};
    text += SaveLine(Rec(n, n % 5 == 0 ? std::string("\x1A\x00\r\n", 4) : name));
  }
  return text;
}

TEST_F(DataToolTest, ABigLoadSavesBackByteForByte) {
  std::string saved = BigLoad(23456) + "\x1A";
  test::WriteFile(dir.file("in.txt"), saved);
  ProcessResult r = Tool({"load", "own", "in.txt"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_NE(r.errors.find("loaded 23456 records\n"), std::string::npos) << r.errors;
  ASSERT_EQ(Tool({"save", "own", "out.txt"}, dir.path()).exitCode, 0);
  EXPECT_TRUE(test::ReadFile(dir.file("out.txt")) == saved);
}

TEST_F(DataToolTest, ARefusalDeepInABigLoadNamesItsLine) {
  struct Case {
    const char* what;
    std::map<int, std::string> lines;
    std::string error;
  };
  std::vector<Case> cases = {
      {"a number seen before", {{11234, SaveLine(Rec(5, "x"))}}, "line 11234: insert refused"},
      {"the stored record's number",
       {{10001, SaveLine(Rec(30000, "x"))}},
       "line 10001: insert refused"},
      {"a clash before a malformed line",
       {{10500, SaveLine(Rec(7, "x"))}, {11000, "12,short\r\n"}},
       "line 10500: insert refused (status 5)"},
      {"a malformed line after sound ones",
       {{11000, "x12,short\r\n"}},
       "line 11000: no record length"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Tool({"create", "--replace", "own", "own.xdf"}, dir.path()).exitCode, 0);
    test::WriteFile(dir.file("one.txt"), SaveLine(Rec(30000, "there")));
    ASSERT_EQ(Tool({"load", "own", "one.txt"}, dir.path()).exitCode, 0);
    test::WriteFile(dir.file("in.txt"), BigLoad(12000, c.lines));
    ProcessResult r = Tool({"load", "own", "in.txt"}, dir.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.errors.find(c.error), std::string::npos) << r.errors;
    EXPECT_NE(r.errors.find("nothing loaded"), std::string::npos) << r.errors;
    r = Tool({"stat", "own"}, dir.path());
    EXPECT_NE(r.output.find("records      1\n"), std::string::npos) << r.output;
  }
}

TEST_F(DataToolTest, ReplaceEmptiesTheFileAndSaveKeepsWhatExists) {
  test::WriteFile(dir.file("in.txt"), SaveLine(Rec(1, "a")) + SaveLine(Rec(2, "b")));
  ASSERT_EQ(Tool({"load", "own", "in.txt"}, dir.path()).exitCode, 0);
  // Loading the same records again clashes; with --replace they take the old ones' place.
  EXPECT_EQ(Tool({"load", "own", "in.txt"}, dir.path()).exitCode, 1);
  test::WriteFile(dir.file("new.txt"), SaveLine(Rec(2, "B")) + SaveLine(Rec(3, "C")));
  ProcessResult r = Tool({"load", "--replace", "own", "new.txt"}, dir.path());
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  test::WriteFile(dir.file("out.txt"), "precious");
  r = Tool({"save", "own", "out.txt"}, dir.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.errors.find("out.txt exists; give --replace"), std::string::npos) << r.errors;
  EXPECT_EQ(test::ReadFile(dir.file("out.txt")), "precious");
  ASSERT_EQ(Tool({"save", "--replace", "own", "out.txt"}, dir.path()).exitCode, 0);
  EXPECT_EQ(test::ReadFile(dir.file("out.txt")),
            SaveLine(Rec(2, "B")) + SaveLine(Rec(3, "C")) + "\x1A");
}

// Killed at random moments, a load leaves the file as it was or complete, never in between.
TEST_F(DataToolTest, AKilledLoadLeavesTheFileUnchangedOrComplete) {
  std::string text;
  for (int n = 1; n <= 20000; ++n) text += SaveLine(Rec(n, "x"));
  test::WriteFile(dir.file("big.txt"), text);
  const std::string kaptool = test::BuildPath("tools/kaptool");
  std::mt19937 random(20261210);
  for (int run = 0; run < 6; ++run) {
    ASSERT_EQ(Tool({"create", "--replace", "own", "own.xdf"}, dir.path()).exitCode, 0);
    pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir.path().c_str()) == 0)
        ::execl(kaptool.c_str(), "kaptool", "data", "load", "own", "big.txt", nullptr);
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 2500));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ProcessResult r = Tool({"stat", "own"}, dir.path());
    const bool unchanged = r.output.find("records      0\n") != std::string::npos;
    const bool complete = r.output.find("records      20000\n") != std::string::npos;
    EXPECT_TRUE(unchanged || complete) << "run " << run << ": " << r.output << r.errors;
  }
}

}  // namespace
}  // namespace kap
