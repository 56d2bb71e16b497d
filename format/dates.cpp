#include <algorithm>
#include <cstdlib>
#include <string>

#include "format/format.h"
#include "format/format_internal.h"
#include "session/session.h"

namespace kap {

namespace {

struct DateValue {
  int year = 0, month = 0, day = 0;
  long Number() const { return year * 10000L + month * 100L + day; }
};

// Two digits of a packed byte: its low 7 bits, the last two digits when above 99.
int PairOf(const std::string& packed, size_t i) {
  return i < packed.size() ? (static_cast<unsigned char>(packed[i]) & 0x7F) % 100 : 0;
}

// Reads the first 4 bytes of a packed date; missing bytes count as "00". Each byte gives two
// digits, so every part stays within 0..99 (year 0..9999) whatever the bytes hold.
DateValue Unpack(const std::string& packed) {
  DateValue v;
  v.year = PairOf(packed, 0) * 100 + PairOf(packed, 1);
  v.month = PairOf(packed, 2);
  v.day = PairOf(packed, 3);
  return v;
}

std::string TwoDigits(int value) {
  return std::string{static_cast<char>('0' + value / 10), static_cast<char>('0' + value % 10)};
}

bool IsLeapYear(int year) {
  if (year < 1582) return year % 4 == 0;
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// Works for any month number (the callers may hold digits that are no calendar date).
int DaysInMonth(int month, int year) {
  int days = 30 + ((1 + ((month + 1) % 9)) % 2);
  if (month == 2) days = days - 2 + (IsLeapYear(year) ? 1 : 0);
  return days;
}

// Leap years in [0, year), with the Julian rule before 1582 and the Gregorian one after.
long LeapYearsBefore(int year) {
  auto julian = [](long y) { return (y + 3) / 4; };
  auto gregorian = [](long y) { return (y + 3) / 4 - (y + 99) / 100 + (y + 399) / 400; };
  if (year <= 1582) return julian(year);
  return julian(1582) + gregorian(year) - gregorian(1582);
}

long DaysOfYears(int from, int to) {  // years in [from, to)
  if (to <= from) return 0;
  return 365L * (to - from) + LeapYearsBefore(to) - LeapYearsBefore(from);
}

// Days of the months from..to-1 of `year`; any month numbers.
long DaysOfMonths(int from, int to, int year) {
  // Days before each month of a common year.
  static constexpr int kBefore[14] = {0,   0,   31,  59,  90,  120, 151,
                                      181, 212, 243, 273, 304, 334, 365};
  if (from >= to) return 0;
  if (from >= 1 && to <= 13) {
    int leapDay = from <= 2 && to > 2 && IsLeapYear(year) ? 1 : 0;
    return kBefore[to] - kBefore[from] + leapDay;
  }
  long total = 0;
  for (int m = from; m < to; ++m) total += DaysInMonth(m, year);
  return total;
}

long DiffDays(const DateValue& start, const DateValue& end) {
  long total = 0;
  if (end.year > start.year) {
    total += DaysOfYears(start.year + 1, end.year);
    total += DaysOfMonths(start.month, 13, start.year);
    total += DaysOfMonths(1, end.month, end.year);
  } else {
    total += DaysOfMonths(start.month, end.month, start.year);
  }
  return total - start.day + end.day;
}

// Month names, one field of 10 characters per month as the tables of the suite hold them.
const char* const kMonthsCat[12] = {"gener",    "febrer",  "mar\x87",  "abril",
                                    "maig",     "juny",    "juliol",   "agost",
                                    "setembre", "octubre", "novembre", "desembre"};
const char* const kMonthsSpa[12] = {"enero",      "febrero", "marzo",     "abril",
                                    "mayo",       "junio",   "julio",     "agosto",
                                    "septiembre", "octubre", "noviembre", "diciembre"};
const char* const kMonthsGlg[12] = {"janeiro",  "fevereiro", "mar\x87o", "abril",
                                    "maio",     "junho",     "julho",    "agosto",
                                    "setembro", "outubro",   "novembro", "dezembro"};
const char* const kMonthsOci[12] = {"g\x8Ar", "hereu\x8Ar", "mar\x87",  "abriu",
                                    "mai",    "junh",       "junhsega", "agost",
                                    "seteme", "octobre",    "noveme",   "deseme"};

struct LanguageWords {
  const char* const* months;
  const char* beforeMonth;
  const char* beforeVowelMonth;
  const char* beforeDayOrYear;
};

LanguageWords WordsFor(const std::string& language) {
  if (language == "SPA") return {kMonthsSpa, " de ", " de ", " de "};
  if (language == "GLG") return {kMonthsGlg, " de ", " de ", " do "};
  if (language == "OCI") return {kMonthsOci, " de ", " d'", " deth "};
  return {kMonthsCat, " de ", " d'", " del "};
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool StartsWithVowel(const std::string& name) {
  if (name.empty()) return false;
  char c = UpperAscii(name.substr(0, 1))[0];
  return c == 'A' || c == 'E' || c == 'I' || c == 'O' || c == 'U';
}

}  // namespace

int32_t DateDiff(const std::string& date1, const std::string& date2, const std::string& unit) {
  DateValue a = Unpack(date1);
  DateValue b = Unpack(date2);
  // Numeric order equals byte order for packed dates, and stays sensible for blank fields.
  const DateValue& start = a.Number() <= b.Number() ? a : b;
  const DateValue& end = a.Number() <= b.Number() ? b : a;
  std::string u = UpperAscii(unit);
  long result = 0;
  if (u == "D") {
    result = DiffDays(start, end);
  } else if (u == "M") {
    result = 12L * (end.year - start.year) + end.month - start.month;
  } else if (u == "A") {
    result = end.year - start.year;
    if (start.month > end.month || (start.month == end.month && start.day > end.day)) --result;
  }
  // Digits that are no calendar date (month 99, day 0) must not give a negative count.
  return static_cast<int32_t>(std::labs(result));
}

int16_t DayOfWeek(const std::string& date) {
  DateValue d = Unpack(date);
  DateValue newYear = d;
  newYear.month = 1;
  newYear.day = 1;
  const DateValue& start = d.Number() <= newYear.Number() ? d : newYear;
  const DateValue& end = d.Number() <= newYear.Number() ? newYear : d;
  long s = std::labs(DiffDays(start, end)) - 1;
  long y = d.year - 1;
  long r;
  if (d.Number() < 15821005L) {
    r = ((((y + y / 4) % 7) + 6 + s) % 7) + 1;  // Julian
  } else {
    r = ((((y + y / 4 - y / 100 + y / 400) % 7) + 1 + s) % 7) + 1;
  }
  return static_cast<int16_t>(((r - 1) % 7 + 7) % 7 + 1);
}

std::string FormatDate(const std::string& date, int16_t style, const std::string& parts) {
  const auto& settings = format_internal::EnsureDateSettings();
  DateValue d = Unpack(date);
  std::string year = TwoDigits(d.year / 100) + TwoDigits(d.year % 100);
  if (style == -1) return year + "-" + TwoDigits(d.month) + "-" + TwoDigits(d.day);

  const std::string wanted = UpperAscii(parts);
  const LanguageWords words = WordsFor(CurrentSession().Language);
  std::string text;
  if (d.month != 0 || d.day != 0) {
    for (char letter : settings.DateOrder) {
      if (wanted.find(letter) == std::string::npos) continue;
      std::string piece;
      std::string joiner;
      if (letter == 'D' || letter == 'A') {
        piece = letter == 'D' ? std::to_string(d.day) : year;
        joiner = style >= 2 ? words.beforeDayOrYear : std::string(1, settings.DateSeparator);
      } else if (letter == 'M') {
        // A month outside 1..12 has no name; its number is written instead.
        bool named = d.month >= 1 && d.month <= 12 && style >= 1;
        std::string name = named ? words.months[d.month - 1] : std::to_string(d.month);
        if (style >= 2) {
          piece = name;
          joiner = StartsWithVowel(name) ? words.beforeVowelMonth : words.beforeMonth;
        } else {
          // The abbreviation is the first 3 characters of the space-filled 10-character field.
          piece = named ? (name + "   ").substr(0, 3) : name;
          joiner = std::string(1, settings.DateSeparator);
        }
      } else {
        continue;
      }
      if (!text.empty()) text += joiner;
      text += piece;
    }
  }
  if (style < 2) {
    long width = static_cast<long>(parts.size()) - 1;
    if (wanted.find('D') != std::string::npos) width += 2;
    if (wanted.find('M') != std::string::npos) width += style + 2;
    if (wanted.find('A') != std::string::npos) width += 4;
    text.resize(static_cast<size_t>(std::max(0L, width)), ' ');
  }
  return text;
}

}  // namespace kap
