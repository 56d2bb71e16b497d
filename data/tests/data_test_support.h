// Fixture of the data layer tests: a temporary installation (RootDir, ddf, DADES) as the
// current directory, an Os whose sleeps are recorded instead of slept, the memory console
// answering every wait for a key, and a fatal handler that records instead of exiting.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "formengine/screen.h"
#include "platform/console.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::test {

class SleeplessOs : public OsWrapper {
 public:
  SleeplessOs() : OsWrapper(&PosixOs()) {}
  void SleepMs(int ms) override {
    sleeps.push_back(ms);
    if (onSleep) onSleep(ms);
  }
  double Random() override { return random; }
  std::vector<int> sleeps;
  std::function<void(int)> onSleep;
  double random = 0.5;
};

// 24-byte records: key 0 a unique 2-byte binary number at 1; key 1 three segments of 2, 4
// and 10 bytes at 3 (duplicates, modifiable); key 2 a 4-byte text at 19 through an upper-casing
// collating sequence (duplicates, modifiable).
inline std::string OwnBlock() {
  return CreationBlock(
      24, {{{1, 2, 0x0004}}, {{3, 2, 0x0003}, {5, 4, 0x0003}, {9, 10, 0x0003}}, {{19, 4, 0x0023}}},
      1024, UpperAcs());
}

inline std::string Dictionary(const std::string& block) {
  std::string d(2, '\0');
  d[0] = static_cast<char>(block.size() & 0xFF);
  d[1] = static_cast<char>((block.size() >> 8) & 0xFF);
  return d + block;
}

inline std::string OwnRecord(uint16_t number, const std::string& text,
                             const std::string& name = "name") {
  std::string r(24, ' ');
  r[0] = static_cast<char>(number & 0xFF);
  r[1] = static_cast<char>(number >> 8);
  r.replace(2, std::min<size_t>(text.size(), 16), text.substr(0, 16));
  r.replace(18, std::min<size_t>(name.size(), 4), name.substr(0, 4));
  return r;
}

class DataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    oldCwd = getcwd(cwd, sizeof cwd) ? cwd : "/";
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    MakeDirs(dir.file("ddf"));
    MakeDirs(dir.file("DADES"));
    ResetDataState();
    ResetSession();
    ResetScreenState();
    CurrentSession().RootDir = dir.path() + "/";
    SetOs(&os);
    DefaultMemoryConsole().SetIdleHandler([](MemoryConsole& c) { c.PushKey(key::kEnter); });
    SetFatalHandler([this](const std::string& message, int16_t status) {
      fatalMessages.push_back(message);
      fatalStatus = status;
    });
    WriteFile(dir.file("ddf/OWN.xdf"), Dictionary(OwnBlock()));
    root = CurrentSession().RootDir;
  }
  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    ResetDataState();
    SetFatalHandler(nullptr);
    SetRecordEngine(nullptr);
    SetOs(nullptr);
    DefaultMemoryConsole().SetIdleHandler(nullptr);
    ASSERT_EQ(chdir(oldCwd.c_str()), 0);
  }
  // Opens file `number` on RootDir + "DADES\OWN" (created from its dictionary).
  int16_t OpenOwn(int16_t number, char* record, size_t capacity = 24,
                  const std::string& name = "DADES\\OWN") {
    int16_t status = -1;
    OpenDataFile(number, root + name, record, capacity, status);
    return status;
  }
  void InsertAll(int16_t number, char* record, const std::vector<std::string>& records) {
    for (const std::string& r : records) {
      std::memcpy(record, r.data(), r.size());
      int16_t status = -1;
      InsertRecord(number, status);
      ASSERT_EQ(status, 0);
    }
  }

  TempDir dir;
  std::string oldCwd;
  std::string root;
  SleeplessOs os;
  std::vector<std::string> fatalMessages;
  int16_t fatalStatus = 0;
};

}  // namespace kap::test
