// Record manager speed: Get Equal, Get Next, Insert and Update through the data layer
// (FindRecord, SkipRecords, InsertRecord, UpdateRecord) on a file of 1,000,000 owner-sized
// records, side by side with the same work done directly on SQLite with prepared statements
// on a table of the same shape. The ratios (layer / direct) are printed at the end.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>

#include "bench/bench_support.h"
#include "bench/owner_file.h"
#include "data/data_files.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace {

using kap::bench::Dictionary;
using kap::bench::Image;
using kap::bench::Key;
using kap::bench::kRecordLength;
using kap::bench::Record;

constexpr int kRecords = 1000000;
constexpr int16_t kFile = 505;

std::string Dir() {
  const char* env = std::getenv("KAP_BENCH_DIR");
  return env != nullptr ? env : "/tmp/kap-bench-rm";
}

char gRecord[kRecordLength];
sqlite3* gDirect = nullptr;
sqlite3_stmt* gEqual = nullptr;
sqlite3_stmt* gNext = nullptr;
sqlite3_stmt* gInsert = nullptr;
sqlite3_stmt* gUpdate = nullptr;
uint32_t gNextInsert = 0;

void Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
    std::exit(1);
  }
}

// Builds both stores once (reused by later runs): the engine's file through BTRCALL in one
// go, the direct table in one transaction.
void Prepare() {
  std::string dir = Dir();
  std::string cmd = "mkdir -p '" + dir + "/ddf' '" + dir + "/DADES'";
  if (std::system(cmd.c_str()) != 0) std::exit(1);
  if (chdir(dir.c_str()) != 0) std::exit(1);
  FILE* f = std::fopen("ddf/OWN.xdf", "wb");
  std::string d = Dictionary();
  std::fwrite(d.data(), 1, d.size(), f);
  std::fclose(f);
  kap::CurrentSession().RootDir = dir + "/";
  bool fresh = access("DADES/OWN.dat", F_OK) != 0;
  int16_t status = 0;
  kap::OpenDataFile(kFile, dir + "/DADES\\OWN", gRecord, status);
  if (status != 0) std::exit(1);
  if (fresh) {
    std::fprintf(stderr, "filling the layer's file with %d records...\n", kRecords);
    for (uint32_t id = 1; id <= kRecords; ++id) {
      std::memcpy(gRecord, Record(id, 0).data(), kRecordLength);
      kap::InsertRecord(kFile, status);
      if (status != 0) std::exit(1);
    }
  }
  std::remove("db.log");

  bool directFresh = access("direct.db", F_OK) != 0;
  sqlite3_open("direct.db", &gDirect);
  Exec(gDirect, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
  if (directFresh) {
    std::fprintf(stderr, "filling the direct table...\n");
    Exec(gDirect,
         "CREATE TABLE records(pos INTEGER PRIMARY KEY AUTOINCREMENT, data BLOB NOT NULL, k0 BLOB);"
         "CREATE UNIQUE INDEX records_k0 ON records(k0)");
    Exec(gDirect, "BEGIN");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(gDirect, "INSERT INTO records(data,k0) VALUES(?1,?2)", -1, &s, nullptr);
    for (uint32_t id = 1; id <= kRecords; ++id) {
      std::string r = Record(id, 0), k = Image(id);
      sqlite3_bind_blob(s, 1, r.data(), kRecordLength, SQLITE_TRANSIENT);
      sqlite3_bind_blob(s, 2, k.data(), 4, SQLITE_TRANSIENT);
      sqlite3_step(s);
      sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    Exec(gDirect, "COMMIT");
  }
  sqlite3_prepare_v3(gDirect, "SELECT pos,data FROM records WHERE k0=?1", -1,
                     SQLITE_PREPARE_PERSISTENT, &gEqual, nullptr);
  sqlite3_prepare_v3(gDirect, "SELECT pos,data,k0 FROM records WHERE k0>?1 ORDER BY k0 LIMIT 1", -1,
                     SQLITE_PREPARE_PERSISTENT, &gNext, nullptr);
  sqlite3_prepare_v3(gDirect, "INSERT INTO records(data,k0) VALUES(?1,?2)", -1,
                     SQLITE_PREPARE_PERSISTENT, &gInsert, nullptr);
  sqlite3_prepare_v3(gDirect, "UPDATE records SET data=?1, k0=?2 WHERE pos=?3", -1,
                     SQLITE_PREPARE_PERSISTENT, &gUpdate, nullptr);
  gNextInsert = kRecords + 1 + static_cast<uint32_t>(time(nullptr) % 1000) * 100000;
}

std::mt19937 gRandom(42);
uint32_t RandomId() { return 1 + gRandom() % kRecords; }

void LayerGetEqual(benchmark::State& state) {
  int16_t status = 0;
  for (auto _ : state) {
    kap::FindRecord(kFile, 0, Key(RandomId()), kap::find_mode::kEqual, status);
    if (status != 0) state.SkipWithError("find failed");
  }
}

void DirectGetEqual(benchmark::State& state) {
  for (auto _ : state) {
    std::string k = Image(RandomId());
    sqlite3_bind_blob(gEqual, 1, k.data(), 4, SQLITE_TRANSIENT);
    if (sqlite3_step(gEqual) != SQLITE_ROW) state.SkipWithError("select failed");
    std::memcpy(gRecord, sqlite3_column_blob(gEqual, 1), kRecordLength);
    sqlite3_reset(gEqual);
  }
}

void LayerGetNext(benchmark::State& state) {
  int16_t status = 0;
  kap::FindRecord(kFile, 0, Key(1), kap::find_mode::kEqual, status);
  for (auto _ : state) {
    kap::SkipRecords(kFile, 1, status);
    if (status != 0) kap::FindRecord(kFile, 0, Key(1), kap::find_mode::kEqual, status);
  }
}

void DirectGetNext(benchmark::State& state) {
  std::string k = Image(1);
  for (auto _ : state) {
    sqlite3_bind_blob(gNext, 1, k.data(), 4, SQLITE_TRANSIENT);
    if (sqlite3_step(gNext) == SQLITE_ROW) {
      std::memcpy(gRecord, sqlite3_column_blob(gNext, 1), kRecordLength);
      k.assign(static_cast<const char*>(sqlite3_column_blob(gNext, 2)), 4);
    } else {
      k = Image(1);
    }
    sqlite3_reset(gNext);
  }
}

void LayerInsert(benchmark::State& state) {
  int16_t status = 0;
  for (auto _ : state) {
    std::memcpy(gRecord, Record(gNextInsert++, 1).data(), kRecordLength);
    kap::InsertRecord(kFile, status);
    if (status != 0) state.SkipWithError("insert failed");
  }
}

void DirectInsert(benchmark::State& state) {
  for (auto _ : state) {
    std::string r = Record(gNextInsert, 1), k = Image(gNextInsert++);
    sqlite3_bind_blob(gInsert, 1, r.data(), kRecordLength, SQLITE_TRANSIENT);
    sqlite3_bind_blob(gInsert, 2, k.data(), 4, SQLITE_TRANSIENT);
    if (sqlite3_step(gInsert) != SQLITE_DONE) state.SkipWithError("insert failed");
    sqlite3_reset(gInsert);
  }
}

// Read the record, change it, write it back: the update as the programs do it.
void LayerUpdate(benchmark::State& state) {
  int16_t status = 0;
  uint32_t salt = 0;
  for (auto _ : state) {
    kap::FindRecord(kFile, 0, Key(RandomId()), kap::find_mode::kEqual, status);
    std::snprintf(gRecord + 22, 10, "%08u", ++salt);
    kap::UpdateRecord(kFile, status);
    if (status != 0) state.SkipWithError("update failed");
  }
}

void DirectUpdate(benchmark::State& state) {
  uint32_t salt = 0;
  for (auto _ : state) {
    std::string k = Image(RandomId());
    sqlite3_bind_blob(gEqual, 1, k.data(), 4, SQLITE_TRANSIENT);
    if (sqlite3_step(gEqual) != SQLITE_ROW) state.SkipWithError("select failed");
    int64_t pos = sqlite3_column_int64(gEqual, 0);
    std::memcpy(gRecord, sqlite3_column_blob(gEqual, 1), kRecordLength);
    sqlite3_reset(gEqual);
    std::snprintf(gRecord + 22, 10, "%08u", ++salt);
    sqlite3_bind_blob(gUpdate, 1, gRecord, kRecordLength, SQLITE_TRANSIENT);
    sqlite3_bind_blob(gUpdate, 2, k.data(), 4, SQLITE_TRANSIENT);
    sqlite3_bind_int64(gUpdate, 3, pos);
    if (sqlite3_step(gUpdate) != SQLITE_DONE) state.SkipWithError("update failed");
    sqlite3_reset(gUpdate);
  }
}

BENCHMARK(LayerGetEqual);
BENCHMARK(DirectGetEqual);
BENCHMARK(LayerGetNext);
BENCHMARK(DirectGetNext);
BENCHMARK(LayerInsert);
BENCHMARK(DirectInsert);
BENCHMARK(LayerUpdate);
BENCHMARK(DirectUpdate);

// Collects the time per iteration of each run to print the ratios.

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Prepare();
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nlayer / direct SQLite (targets: reads 2.0, writes 1.5)\n");
  for (const char* op : {"GetEqual", "GetNext", "Insert", "Update"}) {
    reporter.PrintRatio(std::string("Layer") + op, std::string("Direct") + op);
  }
  int16_t status = 0;
  kap::ResetDataFiles(status);
  std::remove("db.log");
  return 0;
}
