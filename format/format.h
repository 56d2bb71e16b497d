// Packed digits, dates, numbers and edit pictures. Texts are code page 850 bytes.
#pragma once

#include <cstdint>
#include <string>

namespace kap {

// --- Packed digits (no dependencies; target kap_format_packed) ---

// Packs a digit string two digits per byte (byte = 128 + value); spaces and other characters
// count as 0, the digits are right-aligned first.
std::string PackDigits(const std::string& text);
// Two decimal digits per byte, from the low 7 bits of each byte.
std::string UnpackDigits(const std::string& packed);

// --- Dates (packed YYYYMMDD, 4 bytes) ---

// Days ("D"), months ("M") or whole years ("A") between two packed dates; never negative.
int32_t DateDiff(const std::string& date1, const std::string& date2, const std::string& unit);
// 1 = Monday ... 7 = Sunday (Julian calendar before 5 October 1582).
int16_t DayOfWeek(const std::string& date);
// Style -1 ISO, 0 numeric, 1 abbreviated month, 2+ long form; `parts` letters D, M, A.
std::string FormatDate(const std::string& date, int16_t style, const std::string& parts);

// --- Numbers and edit pictures ---

// `value` written through the edit picture, exactly as long as `picture`; a number that does
// not fit comes back in plain form or as a field of "!". Rounds half to even on the decimal
// text of the value. Reads the decimal and thousands characters of Vora.ini on first use.
std::string FormatNumber(const std::string& picture, double value);
// A whole number of cents in the session's currency (pesetas when CurrentCurrency is "P"),
// through a picture built from `layout`; as long as `layout`.
std::string FormatMoney(const std::string& layout, double cents);
// Digits for fixed-width fields: `spec` "W.D" plus options V (no point), Z (0 before the
// point), S (+ sign), N (N for negative), M (N or space). The empty spec writes every decimal
// the value has; "." is always the decimal point here.
std::string FormatFixed(double value, const std::string& spec);
// 0 when `text` is a number within [minimum, maximum] with at most `decimals` decimals, else -1.
int16_t ValidateNumber(const std::string& text, double minimum, double maximum, int16_t decimals);
// 0 when `text` holds only digits and spaces, plus at most one point and one leading sign where
// `allowed` has "." and "-" or "+"; else -1.
int16_t CheckNumberSyntax(const std::string& text, const std::string& allowed);

// Forgets the settings read from Vora.ini so the next call reads them again (tests).
void ResetFormatSettings();

}  // namespace kap
