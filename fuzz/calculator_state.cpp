// The calculator-state file: whatever parses must write back as text that parses to the same.
#include <string>

#include "fuzz/fuzz_support.h"
#include "popups/popups.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kap::CalculatorState state;
  if (!kap::ParseCalculatorState(text, &state)) return 0;
  const std::string written = kap::CalculatorStateText(state);
  kap::CalculatorState again;
  if (!kap::ParseCalculatorState(written, &again)) __builtin_trap();
  if (kap::CalculatorStateText(again) != written) __builtin_trap();
  return 0;
}
