// The number, date and packed-digit functions with fuzzed texts, pictures and values; the
// length promises of the header are checked.
#include <cmath>
#include <cstring>
#include <string>

#include "format/format.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const uint8_t choice = input.Byte();
  double value = 0;
  std::string raw = input.Text(8);
  raw.resize(8, '\0');
  std::memcpy(&value, raw.data(), sizeof value);
  const std::string a = input.Text(64);
  const std::string b = input.Text(64);
  const std::string c = input.Rest().substr(0, 64);
  switch (choice % 9) {
    case 0:
      kap::UnpackDigits(kap::PackDigits(a));
      kap::UnpackDigits(b);
      break;
    case 1:
      kap::DateDiff(a, b, c);
      break;
    case 2:
      kap::DayOfWeek(a);
      break;
    case 3:
      kap::FormatDate(a, static_cast<int16_t>(static_cast<int8_t>(choice) / 9), b);
      break;
    // Both promise a text exactly as long as the picture or layout.
    case 4:
      if (kap::FormatNumber(a, value).size() != a.size()) __builtin_trap();
      break;
    case 5:
      if (kap::FormatMoney(a, value).size() != a.size()) __builtin_trap();
      break;
    case 6:
      kap::FormatFixed(value, a);
      break;
    case 7: {
      double lo = std::isnan(value) ? 0 : value;
      kap::ValidateNumber(a, -std::fabs(lo), std::fabs(lo), static_cast<int16_t>(choice % 12));
      break;
    }
    default:
      kap::CheckNumberSyntax(a, b);
      break;
  }
  return 0;
}
