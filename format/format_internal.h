// Internals shared by the date and number formatters: the display settings read from Vora.ini
// and exact decimal arithmetic on the text of a double.
#pragma once

#include <string>

namespace kap::format_internal {

// Display characters of the installation, read from section Usuari of KAPROOT + "Vora.ini".
struct FormatSettings {
  bool datesRead = false;
  char DateSeparator = 0;
  std::string DateOrder;  // three letters, upper case
  bool numbersRead = false;
  char DecimalChar = 0;
  char ThousandsChar = 0;
};

// The process-wide settings; the Ensure functions read each group on first use.
FormatSettings& Settings();
const FormatSettings& EnsureDateSettings();
const FormatSettings& EnsureNumberSettings();

// A non-negative decimal number held as text: `whole` without leading zeros ("" for zero),
// `fraction` without trailing zeros.
struct Decimal {
  std::string whole;
  std::string fraction;
  bool IsZero() const { return whole.empty() && fraction.empty(); }
};

// |value| as the decimal its text shows: the shortest text that reads back as the same double,
// tidied to 15 significant digits where the extra digits are binary noise in the fraction
// (so 1.005 stays 1.005 and 0.1 + 0.2 becomes 0.3). Non-finite values give zero.
Decimal DecimalOf(double value);
// Parses unsigned digits with at most one '.'; other characters are skipped.
Decimal ParseDecimal(const std::string& text);

// The digits of round(d x 10^places), half to even, without leading zeros ("" for zero).
std::string RoundHalfEven(const Decimal& d, int places);

// Increments a string of decimal digits in place ("" counts as 0).
void IncrementDigits(std::string& digits);
std::string StripLeadingZeros(const std::string& digits);

}  // namespace kap::format_internal
