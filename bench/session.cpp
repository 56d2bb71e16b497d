// Configuration reads against the plainest way to do the same work: Translate and ReadIniValue
// against a std::ifstream/getline scan of the same file, MapPath against one stat of the path.
// Prints the ratio (project / baseline) of each pair at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "bench/bench_support.h"
#include "platform/os.h"
#include "session/session.h"

namespace {

std::string g_dir;

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A language file of 1000 records and an INI file of 8 sections of 12 keys.
void MakeFiles() {
  char pattern[] = "/tmp/kapbench.XXXXXX";
  g_dir = mkdtemp(pattern);
  mkdir((g_dir + "/LOCALE").c_str(), 0777);
  mkdir((g_dir + "/Terminal01").c_str(), 0777);
  std::string lng;
  for (int i = 0; i < 1000; ++i) {
    std::string n = std::to_string(i);
    lng += "\"Text " + n + ", catal\xE0\",\"Galego " + n + "\",\"Aranes " + n + "\",\"Espa\xA4ol " +
           n + "\"\r\n";
  }
  WriteText(g_dir + "/LOCALE/VOWNMAIN.LNG", lng);
  std::string ini;
  for (int s = 0; s < 8; ++s) {
    ini += "[Section" + std::to_string(s) + "]\r\n";
    for (int k = 0; k < 12; ++k) {
      ini += "Key" + std::to_string(k) + "=value " + std::to_string(s * 100 + k) + " ; note\r\n";
    }
  }
  WriteText(g_dir + "/Terminal01/VoraTerm.ini", ini);
}

void BM_Translate(benchmark::State& state) {
  kap::Session& s = kap::CurrentSession();
  s.RootDir = g_dir + "/";
  s.ProgramName = "VOWNMAIN";
  s.Language = "SPA";
  const std::string text = "Text 500, catal\xE0";
  for (auto _ : state) benchmark::DoNotOptimize(kap::Translate(text));
}

// The same first-match scan, reading the first and fourth quoted fields of each line.
void BM_GetlineLookup(benchmark::State& state) {
  const std::string path = g_dir + "/LOCALE/VOWNMAIN.LNG";
  const std::string text = "Text 500, catal\xE0";
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::string line, result = text;
    while (std::getline(in, line)) {
      size_t end = line.find('"', 1);
      if (end == std::string::npos || line.compare(1, end - 1, text) != 0) continue;
      size_t close = line.size() - 2;  // the line keeps its CR
      size_t open = line.rfind('"', close - 1);
      result = line.substr(open + 1, close - open - 1);
      break;
    }
    benchmark::DoNotOptimize(result);
  }
}

void BM_ReadIniValue(benchmark::State& state) {
  const std::string path = g_dir + "\\Terminal01\\VoraTerm.ini";  // as the suite writes it
  for (auto _ : state) benchmark::DoNotOptimize(kap::ReadIniValue(path, "Section6", "Key9"));
}

void BM_GetlineIni(benchmark::State& state) {
  const std::string path = g_dir + "/Terminal01/VoraTerm.ini";
  for (auto _ : state) {
    std::ifstream in(path, std::ios::binary);
    std::string line, value;
    bool inSection = false;
    while (std::getline(in, line)) {
      if (line.rfind("[", 0) == 0) {
        if (inSection) break;
        inSection = line.compare(0, 10, "[Section6]") == 0;
      } else if (inSection && line.rfind("Key9=", 0) == 0) {
        value = line.substr(5, line.find(';') - 5);
        break;
      }
    }
    benchmark::DoNotOptimize(value);
  }
}

void BM_MapPathExact(benchmark::State& state) {
  const std::string path = g_dir + "/Terminal01/VoraTerm.ini";
  for (auto _ : state) benchmark::DoNotOptimize(kap::PosixOs().MapPath(path));
}

void BM_MapPathAnyCase(benchmark::State& state) {
  const std::string path = g_dir + "\\TERMINAL01\\voraterm.INI";
  for (auto _ : state) benchmark::DoNotOptimize(kap::PosixOs().MapPath(path));
}

void BM_Stat(benchmark::State& state) {
  const std::string path = g_dir + "/Terminal01/VoraTerm.ini";
  struct stat info;
  for (auto _ : state) benchmark::DoNotOptimize(stat(path.c_str(), &info));
}

}  // namespace

int main(int argc, char** argv) {
  MakeFiles();
  benchmark::RegisterBenchmark("Translate", BM_Translate);
  benchmark::RegisterBenchmark("GetlineLookup", BM_GetlineLookup);
  benchmark::RegisterBenchmark("ReadIniValue", BM_ReadIniValue);
  benchmark::RegisterBenchmark("GetlineIni", BM_GetlineIni);
  benchmark::RegisterBenchmark("MapPathExact", BM_MapPathExact);
  benchmark::RegisterBenchmark("MapPathAnyCase", BM_MapPathAnyCase);
  benchmark::RegisterBenchmark("Stat", BM_Stat);
  benchmark::Initialize(&argc, argv);
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratio project / baseline (ns per call)\n");
  reporter.PrintRatio("Translate", "GetlineLookup");
  reporter.PrintRatio("ReadIniValue", "GetlineIni");
  reporter.PrintRatio("MapPathExact", "Stat");
  reporter.PrintRatio("MapPathAnyCase", "Stat");
  benchmark::Shutdown();
  std::string cleanup = "rm -rf '" + g_dir + "'";
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
