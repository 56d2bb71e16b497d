// Speed of the browse list over data files of 1,000 and 1,000,000 records, side by side with
// a direct SQLite read of the same rows: opening the list and showing its first page, and
// paging down to the 50th page and back up. The list reads only what it shows, so opening
// must not grow with the size of the file.
//
// The data files are built once (through the data layer) under $TMPDIR/kap_bench_browse and
// reused by later runs.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "data/data_files.h"
#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "platform/console.h"
#include "platform/os.h"
#include "session/session.h"

namespace {

constexpr int kRecordLength = 64;
constexpr int kRows = 17;  // visible rows of the list window
constexpr int kPages = 50;

std::string Code(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08d", n);
  return buffer;
}

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

std::string BenchDir() {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/kap_bench_browse/";
}

// One record buffer per data file; the files stay open for the whole run.
struct DataFile {
  int16_t number;
  int records;
  char record[kRecordLength];
};

DataFile gFiles[2] = {{701, 1000, {}}, {702, 1000000, {}}};

DataFile& FileFor(int records) { return records == 1000 ? gFiles[0] : gFiles[1]; }

class BenchHooks : public kap::NoFormHooks {
 public:
  char* record = nullptr;
  std::string ListRowText(int16_t) override {
    return std::string(record, 8) + "  " + std::string(record + 8, kRecordLength - 8);
  }
};

BenchHooks gHooks;
kap::MemoryConsole gConsole(25, 80);

// Keys handed to the list one at a time while it waits, as an operator would press them.
std::vector<int16_t> gKeys;
size_t gNextKey = 0;

void OpenOrBuild(DataFile& f) {
  const std::string name =
      kap::CurrentSession().RootDir + "DADES\\Browse" + std::to_string(f.records);
  const std::string done = BenchDir() + "DADES/Browse" + std::to_string(f.records) + ".ok";
  bool built = kap::GetOs().FileExists(done);
  if (!built)
    std::remove((BenchDir() + "DADES/Browse" + std::to_string(f.records) + ".dat").c_str());
  int16_t status = 0;
  kap::OpenDataFile(f.number, name, f.record, sizeof f.record, status);
  if (status != 0) {
    std::fprintf(stderr, "cannot open %s: %d\n", name.c_str(), status);
    std::exit(1);
  }
  if (built) return;
  std::fprintf(stderr, "building %d records (once)...\n", f.records);
  for (int i = 1; i <= f.records; ++i) {
    std::string r = Code(i) + " Owner number " + std::to_string(i);
    r.resize(kRecordLength, ' ');
    std::memcpy(f.record, r.data(), kRecordLength);
    kap::InsertRecord(f.number, status);
    if (status != 0) {
      std::fprintf(stderr, "insert %d: status %d\n", i, status);
      std::exit(1);
    }
  }
  FILE* ok = std::fopen(done.c_str(), "w");
  if (ok) std::fclose(ok);
}

void SetUpInstallation() {
  const std::string dir = BenchDir();
  kap::GetOs().MakeDir(dir);
  kap::GetOs().MakeDir(dir + "ddf");
  kap::GetOs().MakeDir(dir + "DADES");
  kap::GetOs().MakeDir(dir + "work");
  kap::GetOs().ChangeDir(dir);  // db.log of the build goes here
  kap::CurrentSession().RootDir = dir;
  kap::CurrentSession().WorkDir = dir + "work/";
  // 64-byte records, key 0 = the 8-character code at position 1.
  std::string block = Le(kRecordLength, 2) + Le(4096, 2) + Le(1, 2) + std::string(10, '\0') +
                      Le(1, 2) + Le(8, 2) + Le(0, 2) + std::string(10, '\0');
  for (int records : {1000, 1000000}) {
    FILE* out = std::fopen((dir + "ddf/Browse" + std::to_string(records) + ".xdf").c_str(), "wb");
    std::string dictionary = Le(static_cast<uint32_t>(block.size()), 2) + block;
    std::fwrite(dictionary.data(), 1, dictionary.size(), out);
    std::fclose(out);
  }
  for (DataFile& f : gFiles) OpenOrBuild(f);

  kap::SetConsole(&gConsole);
  kap::SetFormHooks(&gHooks);
  gConsole.SetIdleHandler([](kap::MemoryConsole& c) {
    c.PushKey(gNextKey < gKeys.size() ? gKeys[gNextKey++] : kap::key::kEsc);
  });
  kap::CreateLists(1);
  const int16_t attrs[kap::list_attr::kCount] = {0, 0, 2, 5, 2 + kRows + 1, 75, 0, 0};
  for (int16_t k = 0; k < kap::list_attr::kCount; ++k) kap::ListAttr(1, k) = attrs[k];
  kap::ListTitle(1) = "Code______Name";
}

void RunList(DataFile& f, const std::vector<int16_t>& keys) {
  gHooks.record = f.record;
  kap::ListAttr(1, kap::list_attr::kFile) = f.number;
  gKeys = keys;
  gNextKey = 0;
  int16_t result = 0;
  kap::BrowseList(1, result);
}

std::vector<int16_t> PagingKeys() {
  std::vector<int16_t> keys(kPages - 1, kap::key::kPgDn);
  keys.insert(keys.end(), kPages - 1, kap::key::kPgUp);
  keys.push_back(kap::key::kEsc);
  return keys;
}

// --- direct SQLite: the same rows in the same key order, keyset paging ---

struct Direct {
  sqlite3* db = nullptr;
  sqlite3_stmt* first = nullptr;
  sqlite3_stmt* after = nullptr;
  sqlite3_stmt* before = nullptr;
};
std::map<int, Direct> gDirect;

Direct& DirectFor(int records) {
  Direct& d = gDirect[records];
  if (d.db) return d;
  std::string path = BenchDir() + "DADES/Browse" + std::to_string(records) + ".dat";
  if (sqlite3_open_v2(path.c_str(), &d.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "sqlite open %s failed\n", path.c_str());
    std::exit(1);
  }
  sqlite3_prepare_v2(d.db, "SELECT pos,data,k0 FROM records ORDER BY k0,pos LIMIT ?1", -1, &d.first,
                     nullptr);
  sqlite3_prepare_v2(d.db,
                     "SELECT pos,data,k0 FROM records WHERE (k0,pos)>(?1,?2) "
                     "ORDER BY k0,pos LIMIT ?3",
                     -1, &d.after, nullptr);
  sqlite3_prepare_v2(d.db,
                     "SELECT pos,data,k0 FROM records WHERE (k0,pos)<(?1,?2) "
                     "ORDER BY k0 DESC,pos DESC LIMIT ?3",
                     -1, &d.before, nullptr);
  if (!d.first || !d.after || !d.before) {
    std::fprintf(stderr, "sqlite prepare failed: %s\n", sqlite3_errmsg(d.db));
    std::exit(1);
  }
  return d;
}

struct Cursor {
  std::string key;
  int64_t pos = 0;
};

// Reads one page through `s`, building each row's text as the list would; the first and
// last rows' keys come back for the next page.
int ReadPage(sqlite3_stmt* s, Cursor* firstRow, Cursor* lastRow, std::string* screen) {
  int n = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    const char* data = static_cast<const char*>(sqlite3_column_blob(s, 1));
    int size = sqlite3_column_bytes(s, 1);
    std::string text = std::string(data, size >= 8 ? 8 : size) + "  " +
                       (size > 8 ? std::string(data + 8, size - 8) : std::string());
    screen->append(text.substr(0, 69));
    Cursor c{std::string(static_cast<const char*>(sqlite3_column_blob(s, 2)),
                         static_cast<size_t>(sqlite3_column_bytes(s, 2))),
             sqlite3_column_int64(s, 0)};
    if (n == 0) *firstRow = c;
    *lastRow = c;
    ++n;
  }
  sqlite3_reset(s);
  return n;
}

void BindCursor(sqlite3_stmt* s, const Cursor& c) {
  sqlite3_bind_blob(s, 1, c.key.data(), static_cast<int>(c.key.size()), SQLITE_TRANSIENT);
  sqlite3_bind_int64(s, 2, c.pos);
  sqlite3_bind_int(s, 3, kRows);
}

void BM_BrowseOpen(benchmark::State& state) {
  DataFile& f = FileFor(static_cast<int>(state.range(0)));
  for (auto _ : state) RunList(f, {kap::key::kEsc});
}

void BM_SqliteOpen(benchmark::State& state) {
  Direct& d = DirectFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string screen;
    Cursor a, b;
    sqlite3_bind_int(d.first, 1, kRows);
    benchmark::DoNotOptimize(ReadPage(d.first, &a, &b, &screen));
  }
}

void BM_BrowsePaging(benchmark::State& state) {
  DataFile& f = FileFor(static_cast<int>(state.range(0)));
  const std::vector<int16_t> keys = PagingKeys();
  for (auto _ : state) RunList(f, keys);
}

void BM_SqlitePaging(benchmark::State& state) {
  Direct& d = DirectFor(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string screen;
    Cursor first, last;
    sqlite3_bind_int(d.first, 1, kRows);
    ReadPage(d.first, &first, &last, &screen);
    for (int p = 1; p < kPages; ++p) {
      screen.clear();
      BindCursor(d.after, last);
      ReadPage(d.after, &first, &last, &screen);
    }
    for (int p = 1; p < kPages; ++p) {
      screen.clear();
      Cursor top, bottom;
      BindCursor(d.before, first);
      ReadPage(d.before, &bottom, &top, &screen);
      first = top;
    }
    benchmark::DoNotOptimize(screen);
  }
}

BENCHMARK(BM_BrowseOpen)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqliteOpen)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BrowsePaging)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SqlitePaging)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  SetUpInstallation();
  benchmark::Initialize(&argc, argv);
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratio project / direct SQLite (us per call)\n");
  reporter.PrintRatio("BM_BrowseOpen/1000", "BM_SqliteOpen/1000");
  reporter.PrintRatio("BM_BrowseOpen/1000000", "BM_SqliteOpen/1000000");
  reporter.PrintRatio("BM_BrowsePaging/1000000", "BM_SqlitePaging/1000000");
  std::printf("\nopening over 1,000,000 records / over 1,000 records:\n");
  reporter.PrintRatio("BM_BrowseOpen/1000000", "BM_BrowseOpen/1000");
  int16_t status = 0;
  kap::ResetDataFiles(status);
  for (auto& [records, d] : gDirect) {
    sqlite3_finalize(d.first);
    sqlite3_finalize(d.after);
    sqlite3_finalize(d.before);
    sqlite3_close(d.db);
  }
  kap::SetConsole(nullptr);
  return 0;
}
