// The removal of an owner with 20 estates, timed end to end through the program's cycle (key
// form, owner form, confirmation, release, delete, on the in-memory console), against the same
// record and lock operations done directly without any screen, in one transaction as the cycle
// does them and each in a commit of its own. Prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/owner_program.h"
#include "bench/bench_support.h"
#include "bench/owner_file.h"
#include "data/data_files.h"
#include "format/format.h"
#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "locking/lock_files.h"
#include "platform/console.h"
#include "session/session.h"

namespace kap {
namespace {

constexpr int kEstates = 20;
constexpr int kEstateLength = 120;

// Dictionary with one key of one segment at position 1, length 2.
std::string Dictionary(int recordLength) {
  rm::FileLayout layout;
  layout.recordLength = static_cast<uint16_t>(recordLength);
  layout.pageSize = 1024;
  layout.keys = {{{1, 2}}};
  return bench::DictionaryFile(layout);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string Code(int n) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04d", n);
  return PackDigits(digits);
}

// A fresh installation in a temporary folder, with the three files open.
class Installation {
 public:
  Installation() {
    char pattern[] = "/tmp/kap-bench-XXXXXX";
    root_ = mkdtemp(pattern);
    for (const char* d : {"/ddf", "/DADES", "/TAULES", "/T1", "/FORMS"})
      std::system(("mkdir -p " + root_ + d).c_str());
    WriteFile(root_ + "/ddf/PropietV.xdf", Dictionary(321));
    WriteFile(root_ + "/ddf/FinquesV.xdf", Dictionary(kEstateLength));
    WriteFile(root_ + "/ddf/UPaisos.xdf", Dictionary(64));
    WriteFile(root_ + "/FORMS/VOWNMAIN.JPN",
              "3,15\r\n"
              "\"d,1b\",1,0,0,0,0,0\r\n"
              "5,20,\"CODI DEL PROPIETARI: \",4,0,0,0,83,0,\"\"\r\n"
              "\"d,1b\",7,0,3,1,15,80\r\n"
              "1,2,\"NOM: \",30,0,0,0,0,0,\"\"\r\n"
              "2,2,\"TEL: \",20,0,0,0,0,0,\"\"\r\n"
              "3,2,\"ADRE\x80"
              "A: \",30,0,0,0,0,0,\"\"\r\n"
              "4,2,\"POBLACI\xE0: \",30,0,0,0,0,0,\"\"\r\n"
              "5,2,\"CONTACTE: \",30,0,0,0,0,0,\"\"\r\n"
              "6,2,\"PA\xD6S: \",2,0,0,0,14,0,\"\"\r\n"
              "6,40,\"NIF: \",15,0,0,0,7,0,\"\"\r\n"
              "\"d,1b\",1,0,21,20,23,61\r\n"
              "1,3,\"CONFIRMEU LA BAIXA: \",1,0,1,0,0,0,\"|N,NO|S,SI\"\r\n"
              "0\r\n");
    if (chdir(root_.c_str()) != 0) std::abort();
    ResetSession();
    Session& s = CurrentSession();
    s.RootDir = root_ + "/";
    s.WorkDir = root_ + "/T1/";
    s.Language = "CAT";
    s.ProgramName = "VOWNMAIN";
    FormFileError error;
    if (LoadFormFile(error) != 0) std::abort();
    int16_t status = 0;
    OpenOwnerFiles(status);
    SetFormHooks(&OwnerProgram().Hooks);
    char* e = OwnerProgram().EstateRecord;
    for (int i = 1; i <= kEstates; ++i) {
      std::memset(e, ' ', kEstateLength);
      std::memcpy(e, Code(100 + i).data(), 2);
      std::memcpy(e + estate::kOwner, Code(7).data(), 2);
      InsertRecord(kEstatesFile, status);
    }
  }
  ~Installation() {
    int16_t status = 0;
    ResetDataFiles(status);
    SetFormHooks(nullptr);
    if (chdir("/tmp") != 0) return;
    std::system(("rm -rf " + root_).c_str());
  }

  // Owner 0007 holding the 20 estates again.
  void Restore() {
    int16_t status = 0;
    char* e = OwnerProgram().EstateRecord;
    for (int i = 1; i <= kEstates; ++i) {
      FindRecord(kEstatesFile, 0, Code(100 + i), find_mode::kEqual, status);
      std::memcpy(e + estate::kOwner, Code(7).data(), 2);
      UpdateRecord(kEstatesFile, status);
    }
    char* r = OwnerProgram().OwnerRecord;
    std::memset(r, ' ', kOwnerRecordLength);
    std::memcpy(r, Code(7).data(), 2);
    std::memcpy(r + owner::kText1, "PERE PUIG I FERRER", 18);
    std::memcpy(r + owner::kCountry, "ES", 2);
    for (int i = 0; i < kEstates; ++i) {
      std::memcpy(r + owner::kEstates + i * owner::kSlotSize, Code(101 + i).data(), 2);
      r[owner::kEstates + i * owner::kSlotSize + 2] = 0;
      r[owner::kEstates + i * owner::kSlotSize + 3] = 0;
    }
    InsertRecord(kOwnersFile, status);
  }

 private:
  std::string root_;
};

void BM_RemovalThroughTheCycle(benchmark::State& state) {
  Installation installation;
  MemoryConsole console;
  SetConsole(&console);
  std::deque<int16_t> keys;
  console.SetIdleHandler([&](MemoryConsole& c) {
    if (keys.empty()) std::abort();
    c.PushKey(keys.front());
    keys.pop_front();
  });
  for (auto _ : state) {
    state.PauseTiming();
    installation.Restore();
    keys = {'0', '0', '0', '7', key::kEnter, 'S', key::kEnter, key::kEsc};
    state.ResumeTiming();
    RunOwnerCycle();
  }
  console.SetIdleHandler(nullptr);
  SetConsole(nullptr);
}

// What the cycle does to the files, without forms, screen or keys: the estates released and
// the owner deleted each in a commit of its own, or all in one transaction as the cycle does.
int16_t ReleaseAndDelete() {
  OwnerProgramState& p = OwnerProgram();
  int16_t status = 0;
  for (int i = 0; i < kEstates; ++i) {
    std::string code(p.OwnerRecord + owner::kEstates + i * owner::kSlotSize, 2);
    LockRecord("FinquesV", code);
    FindRecord(kEstatesFile, 0, code, find_mode::kEqual, status);
    if (status == 0) {
      std::memcpy(p.EstateRecord + estate::kOwner, kNoOwner.data(), 2);
      UpdateRecord(kEstatesFile, status);
    }
    UnlockRecord("FinquesV");
  }
  DeleteRecord(kOwnersFile, status);
  return status;
}

void RecordAndLockOperations(benchmark::State& state, bool oneTransaction) {
  Installation installation;
  for (auto _ : state) {
    state.PauseTiming();
    installation.Restore();
    state.ResumeTiming();
    int16_t status = 0;
    const std::string owner = Code(7);
    FindRecord(kOwnersFile, 0, owner, find_mode::kEqual, status);
    LockRecord("PropietV", owner);
    FindRecord(kOwnersFile, 0, owner, find_mode::kEqual, status);
    status = oneTransaction ? RunTransaction(ReleaseAndDelete) : ReleaseAndDelete();
    UnlockRecord("PropietV");
    if (status != 0) state.SkipWithError("delete failed");
  }
}

void BM_RecordAndLockOperationsOnly(benchmark::State& state) {
  RecordAndLockOperations(state, false);
}
void BM_RecordAndLockOperationsInOneTransaction(benchmark::State& state) {
  RecordAndLockOperations(state, true);
}

BENCHMARK(BM_RemovalThroughTheCycle)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordAndLockOperationsOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RecordAndLockOperationsInOneTransaction)->Unit(benchmark::kMillisecond);

// Keeps the time per iteration of each run so the ratio can be printed at the end.

}  // namespace
}  // namespace kap

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nowner removal through the cycle / its record and lock operations alone\n");
  reporter.PrintRatio("BM_RemovalThroughTheCycle", "BM_RecordAndLockOperationsInOneTransaction");
  std::printf("\nthe removal's operations in one transaction / each in a commit of its own\n");
  reporter.PrintRatio("BM_RecordAndLockOperationsInOneTransaction",
                      "BM_RecordAndLockOperationsOnly");
  benchmark::Shutdown();
  return 0;
}
