// The calendar: three month grids of a quarter in a framed window at the right edge of the
// screen; the cursor keys move a highlighted day and the chosen date comes back as text.
#include <algorithm>
#include <cstdio>

#include "format/format.h"
#include "formengine/screen.h"
#include "platform/os.h"
#include "popups/popups.h"
#include "session/session.h"

namespace kap {

namespace {

constexpr int16_t kTop = 1, kLeft = 59, kBottom = 24, kRight = 80;
constexpr int kInsideWidth = kRight - kLeft - 1;  // 20
constexpr int kTitleRows[3] = {2, 9, 16};
constexpr int kGridCells = 42;  // six weeks
constexpr int kFirstYear = 1, kLastYear = 9999;

std::string PackedDate(int year, int month, int day) {
  return PackDigits(ZeroPad(year * 10000 + month * 100 + day, 8));
}

int Number(const std::string& digits) {
  int v = 0;
  for (char c : digits) v = v * 10 + (c >= '0' && c <= '9' ? c - '0' : 0);
  return v;
}

bool IsLeap(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int MonthLength(int month, int year) {
  if (month == 2) return 28 + (IsLeap(year) ? 1 : 0);
  return 30 + ((1 + ((month + 1) % 9)) % 2);
}

std::string WeekdayHeader() {
  const std::string& language = CurrentSession().Language;
  if (language == "SPA" || language == "GLG") return " L  M  X  J  V  S  D";
  if (language == "OCI") return "DL DT DC DJ DD DS DG";
  return "DL DT DC DJ DV DS DG";
}

std::string TwoWide(int day) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%2d", day);
  return buffer;
}

// Plain capitals keeping their accents ("MAR\x80"), whatever folding mode the caller left.
std::string Capitals(const std::string& text) {
  bool wasFolding = FoldText("\x87") == "C";  // c cedilla folds to C only in folding mode
  SetFoldMode(false);
  std::string folded = FoldText(text);
  SetFoldMode(wasFolding);
  return folded;
}

class Calendar {
 public:
  Calendar() {
    const std::string& date = CurrentSession().WorkDate;
    if (date.size() >= 4) {
      year_ = Number(UnpackDigits(date.substr(0, 2)));
      month_ = Number(UnpackDigits(date.substr(2, 1)));
      day_ = Number(UnpackDigits(date.substr(3, 1)));
    }
    // A working date that is no date (a blank or missing setting) starts on today.
    if (year_ < kFirstYear || month_ < 1 || month_ > 12 || day_ < 1) {
      LocalTime now = GetOs().Now();
      year_ = now.year;
      month_ = now.month;
      day_ = now.day;
    }
    if (day_ > MonthLength(month_, year_)) day_ = MonthLength(month_, year_);
  }

  void DrawQuarter() {
    SetColour("n");
    char year[16];
    std::snprintf(year, sizeof year, " %4d ", year_);
    LocateInWindow(0, (kInsideWidth - 6) / 2 + 1);
    WriteText(year);
    LocateInWindow(1, 1);
    WriteText(WeekdayHeader());
    for (int m = 1; m <= 12; ++m) {
      lengths_[m] = MonthLength(m, year_);
      for (int d = 1; d <= 31; ++d)
        weekdays_[m][d] = std::clamp<int>(DayOfWeek(PackedDate(year_, m, d)), 1, 7);
    }
    firstMonth_ = ((month_ - 1) / 3) * 3 + 1;
    for (int k = 0; k < 3; ++k) {
      int m = firstMonth_ + k, title = kTitleRows[k];
      SetColour("n");
      LocateInWindow(static_cast<int16_t>(title), 1);
      WriteText(std::string(kInsideWidth, ' '));
      std::string name = Capitals(FormatDate(PackedDate(year_, m, 1), 2, "m"));
      if (name.size() > static_cast<size_t>(kInsideWidth)) name.resize(kInsideWidth);
      LocateInWindow(static_cast<int16_t>(title),
                     static_cast<int16_t>((kInsideWidth - name.size()) / 2 + 1));
      WriteText(name);
      SetColour("h");
      int first = weekdays_[m][1] - 1;  // grid cell of day 1
      for (int cell = 0; cell < kGridCells; ++cell) {
        int d = cell - first + 1;
        LocateCell(title, cell);
        WriteText(d >= 1 && d <= lengths_[m] ? TwoWide(d) : "  ");
      }
    }
  }

  // Returns true when the calendar closes, with the text to return in *result.
  bool HandleKey(int16_t key, std::string* result) {
    switch (key) {
      case key::kRight:
        Step(1);
        return false;
      case key::kLeft:
        Step(-1);
        return false;
      case key::kDown:
        Step(7);
        return false;
      case key::kUp:
        Step(-7);
        return false;
      case key::kPgDn:
        Quarter(3);
        return false;
      case key::kPgUp:
        Quarter(-3);
        return false;
      case key::kHome:
        SameYear(1);
        return false;
      case key::kEnd:
        SameYear(12);
        return false;
      case key::kAltF:
      case 'F':
      case 'f':
        *result = FormatDate(PackedDate(year_, month_, day_), 0, "dma");
        return true;
      case key::kEsc:
        result->clear();
        return true;
      default:
        return false;
    }
  }

  void ShowDay() {
    LocateDay();
    WriteText(TwoWide(day_));
  }

 private:
  void LocateCell(int titleRow, int cell) {
    LocateInWindow(static_cast<int16_t>(titleRow + cell / 7 + 1),
                   static_cast<int16_t>(3 * (cell % 7) + 1));
  }
  void LocateDay() {
    int block = (month_ - firstMonth_) % 3;
    LocateCell(kTitleRows[block], weekdays_[month_][1] - 1 + day_ - 1);
  }

  void Step(int days) {
    int year = year_, month = month_, day = day_ + days;
    bool redraw = false;
    if (day < 1) --month;
    if (month < firstMonth_) {
      if (month < 1) {
        month += 12;
        --year;
      }
      redraw = true;
    }
    if (day < 1) day += MonthLength(month, year);
    if (day > MonthLength(month, year)) {
      day -= MonthLength(month, year);
      ++month;
    }
    if (month > firstMonth_ + 2) {
      if (month > 12) {
        month -= 12;
        ++year;
      }
      redraw = true;
    }
    MoveTo(year, month, day, redraw);
  }

  void Quarter(int months) {
    int year = year_, month = month_ + months;
    if (month > 12) {
      month -= 12;
      ++year;
    } else if (month < 1) {
      month += 12;
      --year;
    }
    // Cut to the new month of the new year: February of a leap year may follow a common one.
    int day = std::min(day_, MonthLength(month, year));
    MoveTo(year, month, day, true);
  }

  void SameYear(int month) {
    int first = ((month - 1) / 3) * 3 + 1;
    MoveTo(year_, month, day_, first != firstMonth_);
  }

  // Years outside four digits cannot be written as a date: the move is refused.
  void MoveTo(int year, int month, int day, bool redraw) {
    if (year < kFirstYear || year > kLastYear) return;
    year_ = year;
    month_ = month;
    day_ = day;
    if (redraw) DrawQuarter();
  }

  int year_ = 0, month_ = 0, day_ = 0;
  int firstMonth_ = 1;
  int lengths_[13] = {};
  int weekdays_[13][32] = {};
};

}  // namespace

// Leaves the active key list alone, as the calculator does (see there).
std::string PopupCalendar() {
  SetColour("+n");
  ShowCursor(false);
  std::string result;
  int16_t depth = CurrentWindow().depth;
  PushWindow(kTop, kLeft, kBottom, kRight);
  // On a screen too small for the window nothing is drawn over the caller's screen.
  if (CurrentWindow().depth != depth) {
    DrawFrame(1);
    Calendar calendar;
    calendar.DrawQuarter();
    for (;;) {
      SetColour("+u");
      calendar.ShowDay();
      int16_t key = 0;
      WaitKey(key);
      SetColour("-");
      calendar.ShowDay();
      if (calendar.HandleKey(key, &result)) break;
    }
    PopWindow();
  }
  ShowCursor(true);
  SetColour("-");
  return result;
}

}  // namespace kap
