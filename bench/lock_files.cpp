// Lock-file cost. Uncontended: one LockRecord + UnlockRecord on a file of 1, 100 and 10,000
// entries, side by side with a minimal loop of the same work in plain system calls (exclusive
// open, read and scan of every entry, one 121-byte write, close; twice). Contended: 8
// processes taking and giving back one key for a fixed time, the library against the minimal
// loop under the same wait rules, first with the real waits of the lock protocol and then with
// every wait cut to a yield (which shows the cost of the cycles themselves). The library runs
// twice: as it is, and with the liveness marks switched off (the lock files as they were
// before holders were marked alive), so the cost of the marks is printed as a ratio. Every
// contended run counts overlaps: a cycle that finds another process inside the same key.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "locking/lock_files.h"
#include "platform/os.h"
#include "session/session.h"

namespace {

namespace fs = std::filesystem;

std::string root;

std::string LockFile() { return root + "LOCKS/BENCH.lck"; }

std::string Entry(const std::string& host, const std::string& number, int64_t minutes,
                  const std::string& key) {
  std::string e(121, ' ');
  auto put = [&e](size_t at, const std::string& text, size_t width) {
    e.replace(at, std::min(text.size(), width), text, 0, width);
  };
  const std::string length = std::to_string(key.size());
  put(0, host, 15);
  put(15, number, 11);
  put(26, std::to_string(minutes), 8);
  e[34] = 'K';
  put(35, length, 2);
  put(37, key, 40);
  put(77, length, 2);
  put(79, key, 40);
  e[119] = '\r';
  e[120] = '\n';
  return e;
}

int64_t NowMinutes() { return kap::MinutesSince1970(kap::PosixOs().Now()); }

// A lock file holding `others` entries of another terminal, with keys above ours.
void PrepareFile(int others) {
  fs::remove_all(root + "LOCKS");
  fs::create_directories(root + "LOCKS");
  std::string bytes;
  const int64_t now = NowMinutes();
  for (int i = 0; i < others; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%06d", 100000 + i);
    bytes += Entry("OTHERPC", "12345", now, key);
  }
  FILE* f = std::fopen(LockFile().c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void UseTerminal(const std::string& name) {
  fs::create_directories(root + name);
  kap::CurrentSession().RootDir = root;
  kap::CurrentSession().WorkDir = root + name + "/";
  kap::ResetLockState();
  kap::SetLockMessageSink({[](const std::string&) {}, nullptr});
}

// --- The minimal loop: the same protocol in plain system calls ---

struct Waits {
  bool yieldOnly = false;
  std::mt19937 random{12345};
  void Sleep(int maxMs) {
    if (yieldOnly) {
      sched_yield();
      return;
    }
    usleep(static_cast<useconds_t>(random() % maxMs + 1) * 1000);
  }
};

int OpenExclusive(const std::string& path, Waits& waits) {
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
    if (fd >= 0) close(fd);
    waits.Sleep(3000);
  }
}

std::string ReadAll(int fd) {
  struct stat st;
  fstat(fd, &st);
  std::string bytes(static_cast<size_t>(st.st_size), '\0');
  if (pread(fd, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
  return bytes;
}

// True when the key was taken; false on conflict.
bool MinimalLock(const std::string& number, const std::string& key, Waits& waits) {
  const int fd = OpenExclusive(LockFile(), waits);
  const std::string bytes = ReadAll(fd);
  const std::string mine = Entry("BENCHPC", number, NowMinutes(), key);
  size_t writeAt = bytes.size() / 121 * 121;
  bool conflict = false;
  for (size_t at = 0; at + 121 <= bytes.size(); at += 121) {
    if (bytes[at + 34] == ' ') {
      writeAt = at;
      continue;
    }
    if (bytes.compare(at + 37, key.size(), key) == 0) {
      conflict = bytes.compare(at + 15, 11, mine, 15, 11) != 0;
      writeAt = at;
      break;
    }
  }
  if (!conflict && pwrite(fd, mine.data(), mine.size(), static_cast<off_t>(writeAt)) < 0) {
    conflict = true;
  }
  close(fd);
  return !conflict;
}

void MinimalUnlock(const std::string& number, Waits& waits) {
  const int fd = OpenExclusive(LockFile(), waits);
  const std::string bytes = ReadAll(fd);
  std::string padded = number;
  padded.resize(11, ' ');
  for (size_t at = bytes.size() / 121 * 121; at >= 121; at -= 121) {
    if (bytes[at - 121 + 34] != ' ' && bytes.compare(at - 121 + 15, 11, padded) == 0) {
      if (pwrite(fd, std::string(26, ' ').data(), 26, static_cast<off_t>(at - 121)) < 0 ||
          pwrite(fd, " ", 1, static_cast<off_t>(at - 121 + 34)) < 0) {
        break;
      }
      break;
    }
  }
  close(fd);
}

// --- Uncontended ---

std::map<int64_t, double> libraryNs, minimalNs;

void BM_LockUnlock(benchmark::State& state) {
  PrepareFile(static_cast<int>(state.range(0)) - 1);
  UseTerminal("T1");
  for (auto _ : state) {
    if (kap::LockRecord("Bench", "\x81\xA2") != 0) state.SkipWithError("lock refused");
    if (kap::UnlockRecord("Bench") != 0) state.SkipWithError("unlock found nothing");
  }
  state.counters["entries"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_LockUnlock)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_MinimalLoop(benchmark::State& state) {
  PrepareFile(static_cast<int>(state.range(0)) - 1);
  Waits waits;
  for (auto _ : state) {
    if (!MinimalLock("777", "0134", waits)) state.SkipWithError("lock refused");
    MinimalUnlock("777", waits);
  }
  state.counters["entries"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_MinimalLoop)->Arg(1)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// --- Contended: 8 processes, one key ---

// An Os whose waits are only a yield, and whose files carry no liveness marks when asked.
class BenchOs : public kap::OsWrapper {
 public:
  BenchOs() : OsWrapper(&kap::PosixOs()) {}
  bool yieldOnly = false;
  bool noMarks = false;
  void SleepMs(int ms) override {
    if (yieldOnly) {
      sched_yield();
    } else {
      OsWrapper::SleepMs(ms);
    }
  }
  std::unique_ptr<kap::File> OpenFile(const std::string& p, bool c, bool r, kap::Sharing s,
                                      kap::OpenResult* res) override {
    auto file = OsWrapper::OpenFile(p, c, r, s, res);
    if (!file || !noMarks) return file;
    return std::make_unique<Unmarked>(std::move(file));
  }

 private:
  // Forwards everything but the marks, which it does not support.
  class Unmarked : public kap::File {
   public:
    explicit Unmarked(std::unique_ptr<kap::File> f) : f_(std::move(f)) {}
    bool ReadAt(int64_t o, size_t n, std::string* out) override { return f_->ReadAt(o, n, out); }
    bool WriteAt(int64_t o, const std::string& b) override { return f_->WriteAt(o, b); }
    int64_t Size() override { return f_->Size(); }
    bool Truncate(int64_t n) override { return f_->Truncate(n); }

   private:
    std::unique_ptr<kap::File> f_;
  };
};

enum class Runner { kMinimal, kLibrary, kLibraryUnmarked };
const char* RunnerName(Runner r) {
  return r == Runner::kMinimal ? "minimal" : r == Runner::kLibrary ? "library" : "unmarked";
}

struct ContendResult {
  int64_t cycles = 0;
  int64_t overlaps = 0;
};

constexpr int kProcesses = 8;

// Cycles completed by all processes in `seconds`, and the cycles that found another process
// holding the key at the same time (must be 0).
ContendResult Contend(Runner runner, bool yieldOnly, double seconds) {
  PrepareFile(0);
  const std::string inside = root + "inside";
  int pipes[2];
  if (pipe(pipes) != 0) return {};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::vector<pid_t> pids;
  for (int p = 0; p < kProcesses; ++p) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      close(pipes[0]);
      static BenchOs benchOs;
      benchOs.yieldOnly = yieldOnly;
      benchOs.noMarks = runner == Runner::kLibraryUnmarked;
      kap::SetOs(&benchOs);
      kap::PosixOs().SeedRandom(static_cast<uint32_t>(getpid()));
      std::string terminal = "C";
      terminal += std::to_string(p);
      UseTerminal(terminal);
      Waits waits;
      waits.yieldOnly = yieldOnly;
      waits.random.seed(static_cast<uint32_t>(getpid()));
      const std::string number = std::to_string(1000 + p);
      ContendResult result;
      while (std::chrono::steady_clock::now() < deadline) {
        if (runner != Runner::kMinimal) {
          if (kap::LockRecord("Bench", "\x81\xA2") != 0) _exit(2);
        } else {
          while (!MinimalLock(number, "0134", waits)) waits.Sleep(1001);
        }
        // A second holder of the key would find the marker there.
        const int marker = open(inside.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0644);
        if (marker < 0) {
          ++result.overlaps;
        } else {
          close(marker);
          unlink(inside.c_str());
        }
        if (runner != Runner::kMinimal) {
          kap::UnlockRecord("Bench");
        } else {
          MinimalUnlock(number, waits);
        }
        ++result.cycles;
      }
      if (write(pipes[1], &result, sizeof result) != sizeof result) _exit(3);
      _exit(0);
    }
    pids.push_back(pid);
  }
  close(pipes[1]);
  ContendResult total, one;
  while (read(pipes[0], &one, sizeof one) == sizeof one) {
    total.cycles += one.cycles;
    total.overlaps += one.overlaps;
  }
  close(pipes[0]);
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  return total;
}

std::map<std::string, double> contended;
std::map<std::string, ContendResult> contendedRuns;

void BM_Contended(benchmark::State& state) {
  const Runner runner = static_cast<Runner>(state.range(0));
  const bool yieldOnly = state.range(1) != 0;
  const double seconds = yieldOnly ? 2.0 : 5.0;
  ContendResult result;
  for (auto _ : state) result = Contend(runner, yieldOnly, seconds);
  const double rate = static_cast<double>(result.cycles) / seconds;
  state.counters["cycles_per_s"] = rate;
  state.counters["cycles"] = static_cast<double>(result.cycles);
  state.counters["overlaps"] = static_cast<double>(result.overlaps);
  const std::string name = std::string(RunnerName(runner)) + (yieldOnly ? "/yield" : "/real");
  contended[name] = rate;
  contendedRuns[name] = result;
}
BENCHMARK(BM_Contended)
    ->ArgNames({"runner", "yield"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({0, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The marks' cost on a loaded machine: library with and without marks in alternating rounds
// (waits cut to a yield), so that load that comes and goes falls on both alike.
double markedRate = 0, unmarkedRate = 0;
ContendResult marksTotal;

void BM_MarksCostAlternating(benchmark::State& state) {
  constexpr int kRounds = 4;
  constexpr double kSeconds = 2.0;
  ContendResult marked, unmarked;
  for (auto _ : state) {
    for (int round = 0; round < kRounds; ++round) {
      const ContendResult a = Contend(Runner::kLibrary, true, kSeconds);
      const ContendResult b = Contend(Runner::kLibraryUnmarked, true, kSeconds);
      marked.cycles += a.cycles;
      marked.overlaps += a.overlaps;
      unmarked.cycles += b.cycles;
      unmarked.overlaps += b.overlaps;
    }
  }
  markedRate = static_cast<double>(marked.cycles) / (kRounds * kSeconds);
  unmarkedRate = static_cast<double>(unmarked.cycles) / (kRounds * kSeconds);
  marksTotal = marked;
  state.counters["marked_per_s"] = markedRate;
  state.counters["unmarked_per_s"] = unmarkedRate;
  state.counters["overlaps"] = static_cast<double>(marked.overlaps + unmarked.overlaps);
}
BENCHMARK(BM_MarksCostAlternating)->Iterations(1)->Unit(benchmark::kMillisecond);

// Collects the per-iteration times of the uncontended runs for the ratios.
class Collector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.benchmark_name();
      const auto slash = name.find('/');
      if (slash == std::string::npos || run.iterations == 0) continue;
      const int64_t entries = std::atoll(name.c_str() + slash + 1);
      const double ns = run.GetAdjustedRealTime() * 1000.0;  // microseconds -> ns
      if (name.rfind("BM_LockUnlock/", 0) == 0) libraryNs[entries] = ns;
      if (name.rfind("BM_MinimalLoop/", 0) == 0) minimalNs[entries] = ns;
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  char pattern[] = "/tmp/kap-bench-lock-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  root = std::string(pattern) + "/";
  benchmark::Initialize(&argc, argv);
  Collector reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  std::printf("\nlock + unlock, library / minimal loop:\n");
  for (const auto& [entries, ns] : libraryNs) {
    if (minimalNs.count(entries)) {
      std::printf("  %6lld entries: %10.1f us / %10.1f us = %.2f\n",
                  static_cast<long long>(entries), ns / 1000, minimalNs[entries] / 1000,
                  ns / minimalNs[entries]);
    }
  }
  for (const char* waits : {"/real", "/yield"}) {
    const std::string lib = std::string("library") + waits, min = std::string("minimal") + waits,
                      old = std::string("unmarked") + waits;
    if (contended.count(lib) && contended.count(min) && contended[min] > 0) {
      std::printf(
          "8 processes, one key, waits %s: library / minimal loop: %.0f / %.0f cycles/s "
          "= %.2f\n",
          waits + 1, contended[lib], contended[min], contended[lib] / contended[min]);
    }
    if (contended.count(lib) && contended.count(old) && contended[lib] > 0) {
      std::printf(
          "8 processes, one key, waits %s: without marks (before) / with marks (now): "
          "%.0f / %.0f cycles/s = %.2f (above 1: slower now)\n",
          waits + 1, contended[old], contended[lib], contended[old] / contended[lib]);
    }
  }
  if (markedRate > 0) {
    std::printf(
        "8 processes, one key, waits yield, 4 alternating rounds: without marks "
        "(before) / with marks (now): %.0f / %.0f cycles/s = %.2f (above 1: slower now); "
        "%lld cycles "
        "with marks, %lld overlaps\n",
        unmarkedRate, markedRate, unmarkedRate / markedRate,
        static_cast<long long>(marksTotal.cycles), static_cast<long long>(marksTotal.overlaps));
  }
  for (const auto& [name, run] : contendedRuns) {
    std::printf("  %-16s %8lld cycles, %lld overlaps\n", name.c_str(),
                static_cast<long long>(run.cycles), static_cast<long long>(run.overlaps));
  }
  fs::remove_all(pattern);
  return 0;
}
