// Private to taxid/: the splitting frame and arithmetic the country rules share.
#pragma once

#include <cstdint>
#include <string>

#include "platform/text.h"
#include "taxid/taxid.h"

namespace kap::taxid_detail {

// What a country rule hands back: a result code and, when it is TaxIdOk, the canonical text.
struct Outcome {
  int16_t code = TaxIdOk;
  std::string canonical;
};

inline Outcome Fail(int16_t code) { return Outcome{code, {}}; }
inline Outcome Accept(std::string canonical) { return Outcome{TaxIdOk, std::move(canonical)}; }

inline bool IsLetter(char c) { return c >= 'A' && c <= 'Z'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline int DigitValue(char c) { return c - '0'; }

// The usual split: upper-cased letters in order, digits in order, everything else dropped.
struct Parts {
  std::string letters;
  std::string digits;
};
Parts SplitUsual(const std::string& value);

// Moves the last `count` characters of `from` (or all of them, when fewer) into a new text.
std::string TakeTail(std::string& from, size_t count);

// Numeric value of a digit text; saturates instead of overflowing on absurd lengths.
uint64_t NumericValue(const std::string& digits);

// The number's value without leading zeros, left-filled with "0" to `width` digits. A value
// that needs more digits than `width` keeps them all (callers check lengths first).
std::string Fill(const std::string& digits, size_t width);

// Sum of the digits of a product of at most two digits.
inline int DigitsOf(int product) { return product % 10 + product / 10; }

// Weighted sum of the first digits of `digits` against a weight text that holds `width`
// characters per weight (spaces read as nothing: " 9" is 9). Stops at the shorter of the two.
int WeightedSum(const std::string& digits, const char* weights, int width = 1);

// The number stored at `index` of a table holding `width` characters per number.
int TableNumber(const char* table, size_t index, int width);

// Odd positions add the digit, even positions the digits of twice the digit (from position 1).
int AlternateDoubleSum(const std::string& digits, size_t count);

// Embedded birth dates as the personal numbers carry them, compared as text.
enum class DateStyle { CzSk, Lv, Ro };
bool EmbeddedDateOk(const std::string& yy, const std::string& mm, const std::string& dd,
                    DateStyle style);

// Country rules: each gets the value as typed.
Outcome SpainRule(const std::string& value);
Outcome PlainRule(const std::string& country, const std::string& value);  // AT, BE, BG, ...
Outcome CyprusRule(const std::string& value);
Outcome CzechRule(const std::string& value);
Outcome FranceRule(const std::string& value);
Outcome BritainRule(const std::string& value);
Outcome IrelandRule(const std::string& value);
Outcome LithuaniaRule(const std::string& value);
Outcome LatviaRule(const std::string& value);
Outcome NetherlandsRule(const std::string& value);
Outcome RomaniaRule(const std::string& value);
Outcome SwedenRule(const std::string& value);
Outcome SlovakiaRule(const std::string& value);

}  // namespace kap::taxid_detail
