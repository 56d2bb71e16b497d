// Shared by the benchmark programs: keeps each benchmark's time per iteration so that a program
// can print, after the run, the ratio of the project's code to its baseline. With repetitions
// the median of a benchmark's runs counts.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kap::bench {

class TimesReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.iterations == 0 || run.run_type != Run::RT_Iteration) continue;
      real_[run.benchmark_name()].push_back(run.GetAdjustedRealTime());
      cpu_[run.benchmark_name()].push_back(run.GetAdjustedCPUTime());
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Time per iteration in the benchmark's own unit; 0 when it did not run.
  double Real(const std::string& name) const { return Find(real_, name); }
  double Cpu(const std::string& name) const { return Find(cpu_, name); }

  // One line: both times and the ratios project / baseline, real and CPU (CPU is the steadier
  // figure on a shared machine). Nothing when either did not run.
  void PrintRatio(const std::string& project, const std::string& baseline) const {
    double pr = Real(project), br = Real(baseline), pc = Cpu(project), bc = Cpu(baseline);
    if (pr <= 0 || br <= 0 || pc <= 0 || bc <= 0) return;
    std::printf(
        "  %-26s %10.3f (cpu %10.3f)  vs %-24s %10.3f (cpu %10.3f)  ratio %6.2f (cpu %6.2f)\n",
        project.c_str(), pr, pc, baseline.c_str(), br, bc, pr / br, pc / bc);
  }

 private:
  static double Find(const std::map<std::string, std::vector<double>>& times,
                     const std::string& name) {
    auto found = times.find(name);
    if (found == times.end()) return 0;
    std::vector<double> runs = found->second;
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
  }
  std::map<std::string, std::vector<double>> real_;
  std::map<std::string, std::vector<double>> cpu_;
};

}  // namespace kap::bench
