// Tax-identifier validations per second over a mixed list of every country's numbers, side by
// side with the floor any validator pays: copying the field and splitting it into letters and
// digits. The ratio printed at the end is validation time over split time, in CPU time so
// that a busy machine does not skew it.
#include "taxid/taxid.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace {

// Valid numbers and typical mistakes of every country, each in a 20-character field.
const std::vector<std::pair<std::string, std::string>>& Inputs() {
  static const std::vector<std::pair<std::string, std::string>> inputs = [] {
    std::vector<std::pair<std::string, std::string>> list = {
        {"ES", "12.345.678-z"}, {"", "X1234567L"},        {"ES", "A58818501"},
        {"ES", "Q1234567D"},    {"AT", "U10223006"},      {"BE", "0403019261"},
        {"BG", "7523169263"},   {"BG", "175074752"},      {"CY", "10259033P"},
        {"CZ", "46505334"},     {"CZ", "7103192745"},     {"DE", "136695976"},
        {"DK", "13585628"},     {"EE", "100931558"},      {"FI", "20774740"},
        {"FR", "40303265045"},  {"FR", "0H303265045"},    {"GB", "980780684"},
        {"GB", "GD012"},        {"GR", "094259216"},      {"EL", "94259216"},
        {"HU", "12892312"},     {"IE", "6433435F"},       {"IE", "8Z49289F"},
        {"IT", "00743110157"},  {"LT", "119511515"},      {"LU", "15027442"},
        {"LV", "40003521600"},  {"LV", "01019012345"},    {"MT", "11679112"},
        {"NL", "004495445B01"}, {"NL", "000099998B57"},   {"PL", "8567346215"},
        {"PT", "501964843"},    {"RO", "18547290"},       {"RO", "1630615123457"},
        {"SE", "556188840401"}, {"SI", "50223054"},       {"SK", "2022749619"},
        {"DE", "136695977"},    {"NL", "NL004495445B01"}, {"XX", "1"},
    };
    for (auto& entry : list) entry.second.resize(20, ' ');
    return list;
  }();
  return inputs;
}

double validateSeconds = 0, splitSeconds = 0;
int64_t validateItems = 0, splitItems = 0;

void BM_ValidateTaxId(benchmark::State& state) {
  const auto& inputs = Inputs();
  std::clock_t start = std::clock();
  for (auto _ : state) {
    for (const auto& [country, text] : inputs) {
      std::string value = text;
      benchmark::DoNotOptimize(kap::ValidateTaxId(value, country));
      benchmark::DoNotOptimize(value.data());
    }
  }
  validateSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  validateItems += static_cast<int64_t>(state.iterations() * inputs.size());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * inputs.size()));
}
BENCHMARK(BM_ValidateTaxId);

// Baseline: the copy and the split of the field, with no rule applied.
void BM_SplitOnly(benchmark::State& state) {
  const auto& inputs = Inputs();
  std::clock_t start = std::clock();
  for (auto _ : state) {
    for (const auto& [country, text] : inputs) {
      std::string value = text;
      std::string letters, digits;
      for (char c : value) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c >= 'A' && c <= 'Z')
          letters += c;
        else if (c >= '0' && c <= '9')
          digits += c;
      }
      benchmark::DoNotOptimize(letters.data());
      benchmark::DoNotOptimize(digits.data());
    }
  }
  splitSeconds += static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
  splitItems += static_cast<int64_t>(state.iterations() * inputs.size());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * inputs.size()));
}
BENCHMARK(BM_SplitOnly);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (validateItems > 0 && splitItems > 0) {
    double validatePerSecond = validateItems / validateSeconds;
    double splitPerSecond = splitItems / splitSeconds;
    std::printf(
        "CPU time: validations per second: %.0f; split-only per second: %.0f; "
        "time ratio validate/split: %.2f\n",
        validatePerSecond, splitPerSecond, splitPerSecond / validatePerSecond);
  }
  return 0;
}
