// Tax identifiers of every country the validator knows, and unknown ones.
#include <string>

#include "fuzz/fuzz_support.h"
#include "taxid/taxid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const std::string country = input.Text(3);
  std::string value = input.Rest().substr(0, 64);
  const int16_t result = kap::ValidateTaxId(value, country);
  if (!kap::TaxIdResultName(result)) __builtin_trap();
  return 0;
}
