// Speed of the formatters against the standard library doing the nearest equivalent job:
// FormatNumber against snprintf with the same width and decimals, DayOfWeek against
// std::chrono's calendar. Prints the ratio (project / baseline) of each pair at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "format/format.h"

namespace {

struct PictureCase {
  const char* name;
  std::string picture;
  const char* printfFormat;  // the same width and decimals
  double scale;              // values drawn from [0, scale)
  int decimals;
};

std::string CalculatorPicture() {
  const std::string base = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  return "-" + base.substr(base.size() - 21) + ".99";
}

const std::vector<PictureCase>& Pictures() {
  static const std::vector<PictureCase> cases = {
      {"ZZZ", "ZZZ", "%3.0f", 1000, 0},
      {"ZZ9", "ZZ9", "%3.0f", 1000, 0},
      {"ZZZ9", "ZZZ9", "%4.0f", 10000, 0},
      {"ZZZZZZZ9", "ZZZZZZZ9", "%8.0f", 1e8, 0},
      {"Money", "ZZZ,ZZ9.99", "%10.2f", 1e6, 2},
      {"Calculator", CalculatorPicture(), "%25.2f", 1e12, 2},
  };
  return cases;
}

std::vector<double> Values(double scale, int decimals) {
  std::mt19937 random(12345);
  std::uniform_int_distribution<long long> whole(0, static_cast<long long>(scale) - 1);
  std::vector<double> values(1024);
  for (double& v : values) {
    v = static_cast<double>(whole(random));
    if (decimals == 2) v += static_cast<double>(random() % 100) / 100.0;
  }
  return values;
}

void BM_FormatNumber(benchmark::State& state, const PictureCase* c) {
  const std::vector<double> values = Values(c->scale, c->decimals);
  size_t i = 0;
  for (auto _ : state) {
    std::string text = kap::FormatNumber(c->picture, values[i++ & 1023]);
    benchmark::DoNotOptimize(text);
  }
}

void BM_Snprintf(benchmark::State& state, const PictureCase* c) {
  const std::vector<double> values = Values(c->scale, c->decimals);
  size_t i = 0;
  char buffer[64];
  for (auto _ : state) {
    int n = std::snprintf(buffer, sizeof buffer, c->printfFormat, values[i++ & 1023]);
    std::string text(buffer, static_cast<size_t>(n));
    benchmark::DoNotOptimize(text);
  }
}

struct Day {
  int year, month, day;
  std::string packed;
};

std::vector<Day> Days() {
  using namespace std::chrono;
  std::vector<Day> days;
  sys_days d = year_month_day{year{1990}, January, std::chrono::day{1}};
  for (int i = 0; i < 1024; ++i, d += std::chrono::days{37}) {
    year_month_day ymd{d};
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d%02u%02u", int(ymd.year()), unsigned(ymd.month()),
                  unsigned(ymd.day()));
    days.push_back({int(ymd.year()), int(unsigned(ymd.month())), int(unsigned(ymd.day())),
                    kap::PackDigits(digits)});
  }
  return days;
}

void BM_DayOfWeek(benchmark::State& state) {
  const std::vector<Day> days = Days();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(kap::DayOfWeek(days[i++ & 1023].packed));
}

void BM_ChronoWeekday(benchmark::State& state) {
  using namespace std::chrono;
  const std::vector<Day> days = Days();
  size_t i = 0;
  for (auto _ : state) {
    const Day& d = days[i++ & 1023];
    year_month_day ymd{year{d.year}, month{unsigned(d.month)}, day{unsigned(d.day)}};
    benchmark::DoNotOptimize(weekday{sys_days{ymd}}.iso_encoding());
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const PictureCase& c : Pictures()) {
    benchmark::RegisterBenchmark((std::string("FormatNumber/") + c.name).c_str(), BM_FormatNumber,
                                 &c);
    benchmark::RegisterBenchmark((std::string("snprintf/") + c.name).c_str(), BM_Snprintf, &c);
  }
  benchmark::RegisterBenchmark("DayOfWeek", BM_DayOfWeek);
  benchmark::RegisterBenchmark("chrono_weekday", BM_ChronoWeekday);
  benchmark::Initialize(&argc, argv);
  kap::bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nratio project / baseline (ns per call)\n");
  for (const PictureCase& c : Pictures()) {
    reporter.PrintRatio(std::string("FormatNumber/") + c.name, std::string("snprintf/") + c.name);
  }
  reporter.PrintRatio("DayOfWeek", "chrono_weekday");
  benchmark::Shutdown();
  return 0;
}
