// Writes that must survive a crash and a power cut, with the durable default:
// - loading 100,000 owner-sized records with `kaptool data load` (one transaction), against the
//   same rows inserted straight into SQLite in one transaction with the same table, index,
//   journal and sync setting;
// - the record operations of one owner removal with 20 estates (20 estate updates and the
//   owner's deletion), as one transaction over both files against one commit per record.
// Prints the ratios at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/bench_support.h"
#include "bench/owner_file.h"
#include "platform/record_manager.h"

namespace kap {
namespace {

using bench::Dictionary;
using bench::Image;
using bench::Key;
using bench::Record;

constexpr int kRecords = 100000;
constexpr int kOwnerLength = bench::kRecordLength;
constexpr int kEstateLength = 120;
constexpr int kEstates = 20;

std::string TempDir() {
  char pattern[] = "/tmp/kap-bench-tx-XXXXXX";
  return mkdtemp(pattern);
}

int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

const std::string kTool = std::string(KAP_BINARY_DIR) + "/tools/kaptool";

// The load file `kaptool data save` writes: length, comma, bytes, CR LF; Ctrl+Z at the end.
std::string MakeLoadInput(const std::string& dir) {
  const std::string path = dir + "/owners.txt";
  std::ofstream out(path, std::ios::binary);
  for (uint32_t n = 1; n <= kRecords; ++n) out << kOwnerLength << ',' << Record(n, 7) << "\r\n";
  out << '\x1a';
  return path;
}

void BM_LoadWithKaptool(benchmark::State& state) {
  const std::string dir = TempDir();
  const std::string input = MakeLoadInput(dir);
  std::ofstream(dir + "/owners.xdf", std::ios::binary) << Dictionary();
  for (auto _ : state) {
    Run(kTool + " data create --replace " + dir + "/owners " + dir + "/owners.xdf");
    const auto start = std::chrono::steady_clock::now();
    if (Run(kTool + " data load " + dir + "/owners " + input) != 0) {
      state.SkipWithError("kaptool data load failed");
      return;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  Run("rm -rf " + dir);
}
BENCHMARK(BM_LoadWithKaptool)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadStraightIntoSqlite(benchmark::State& state) {
  const std::string dir = TempDir();
  for (auto _ : state) {
    const std::string path = dir + "/direct.db";
    std::remove(path.c_str());
    const auto start = std::chrono::steady_clock::now();
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA; "
                 "CREATE TABLE records(pos INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL, "
                 "k0 BLOB); CREATE UNIQUE INDEX records_k0 ON records(k0); BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO records(data,k0) VALUES(?1,?2)", -1, &insert, nullptr);
    for (uint32_t n = 1; n <= kRecords; ++n) {
      const std::string row = Record(n, 7);
      sqlite3_bind_blob(insert, 1, row.data(), kOwnerLength, SQLITE_TRANSIENT);
      const std::string image = Image(n);
      sqlite3_bind_blob(insert, 2, image.data(), 4, SQLITE_TRANSIENT);
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  Run("rm -rf " + dir);
}
BENCHMARK(BM_LoadStraightIntoSqlite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A position block with its calls.
struct File {
  char block[128] = {};
  int16_t Call(int op, std::string* data, std::string key, int keyNumber) {
    uint32_t length = static_cast<uint32_t>(data->size());
    key.resize(255, '\0');
    return BTRCALL(op, block, data->data(), &length, key.data(), 255,
                   static_cast<int8_t>(keyNumber));
  }
  int16_t Create(const std::string& path, int recordLength) {
    rm::FileLayout layout;
    layout.recordLength = static_cast<uint16_t>(recordLength);
    layout.pageSize = 1024;
    layout.keys = {{{1, 4, rm::kKeyBinary}}};
    std::string spec = rm::BuildCreationBlock(layout);
    uint32_t length = static_cast<uint32_t>(spec.size());
    std::string key = path;
    return BTRCALL(rm::kCreate, block, spec.data(), &length, key.data(),
                   static_cast<uint8_t>(key.size()), -1);
  }
  int16_t Open(const std::string& path) {
    std::string owner(5, '\0');
    return Call(rm::kOpen, &owner, path, 0);
  }
};

int16_t Transaction(int op) {
  char none[4] = {};
  uint32_t length = 0;
  return BTRCALL(op, nullptr, none, &length, none, 0, 0);
}

// Owner n holds estates n*100+1 .. n*100+20; each removal releases them and deletes the owner.
void Removal(benchmark::State& state, bool oneTransaction) {
  const std::string dir = TempDir();
  File owners, estates;
  owners.Create(dir + "/owners.dat", kOwnerLength);
  estates.Create(dir + "/estates.dat", kEstateLength);
  owners.Open(dir + "/owners.dat");
  estates.Open(dir + "/estates.dat");
  uint32_t owner = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ++owner;
    std::string row = Record(owner, 7);
    owners.Call(rm::kInsert, &row, "", 0);
    for (uint32_t e = 1; e <= kEstates; ++e) {
      std::string estate = Key(owner * 100 + e) + Key(owner) + std::string(kEstateLength - 8, 'e');
      estates.Call(rm::kInsert, &estate, "", 0);
    }
    state.ResumeTiming();
    if (oneTransaction) Transaction(rm::kBeginTransaction);
    for (uint32_t e = 1; e <= kEstates; ++e) {
      std::string estate(kEstateLength, '\0');
      estates.Call(rm::kGetEqual, &estate, Key(owner * 100 + e), 0);
      estate.replace(4, 4, std::string(4, '\0'));
      estates.Call(rm::kUpdate, &estate, "", 0);
    }
    std::string found(kOwnerLength, '\0');
    owners.Call(rm::kGetEqual, &found, Key(owner), 0);
    owners.Call(rm::kDelete, &found, "", 0);
    if (oneTransaction && Transaction(rm::kEndTransaction) != 0)
      state.SkipWithError("commit failed");
  }
  Transaction(rm::kReset);
  Run("rm -rf " + dir);
}

void BM_RemovalOneTransaction(benchmark::State& state) { Removal(state, true); }
void BM_RemovalCommitPerRecord(benchmark::State& state) { Removal(state, false); }
BENCHMARK(BM_RemovalOneTransaction)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RemovalCommitPerRecord)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace
}  // namespace kap

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratios (project / baseline):\n");
  reporter.PrintRatio("BM_LoadWithKaptool/iterations:3/manual_time",
                      "BM_LoadStraightIntoSqlite/iterations:3/manual_time");
  reporter.PrintRatio("BM_RemovalOneTransaction/min_time:2.000",
                      "BM_RemovalCommitPerRecord/min_time:2.000");
  benchmark::Shutdown();
  return 0;
}
