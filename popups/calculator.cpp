// The desk calculator: a window 26 columns wide over the whole height of the screen, with the
// entry line at the bottom and a paper tape that grows upwards over what lies beneath.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include "format/format.h"
#include "formengine/screen.h"
#include "popups/popups.h"
#include "popups/popups_internal.h"
#include "session/session.h"

namespace kap {

namespace {

using namespace calc;

// Box-drawing characters of code page 850.
constexpr char kHorizontal = '\xC4';
constexpr char kVertical = '\xB3';
const std::string kRule(kWindowWidth - 2, kHorizontal);

double PowerOfTen(int n) {
  double p = 1;
  for (int i = 0; i < n; ++i) p *= 10;  // exact up to 10^22
  return p;
}

double RoundHalfEven(double x) {
  double whole = std::floor(x);
  double rest = x - whole;
  if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2) != 0)) whole += 1;
  return whole;
}

// Picture of a value shown with `decimals` decimals: always 22 characters.
std::string Picture(int16_t hasPoint, int16_t decimals) {
  std::string base = "Z,ZZZ,ZZZ,ZZZ,ZZZ,ZZ9";
  if (hasPoint) base += ".";
  base += std::string(static_cast<size_t>(std::max<int16_t>(decimals, 0)), '9');
  return "-" + base.substr(base.size() - 21);
}

std::string ErrorText() { return CurrentSession().Language == "GLG" ? "Erro" : "Error"; }

class Calculator {
 public:
  explicit Calculator(const CalculatorState& state) : s_(state) {}

  const CalculatorState& State() const { return s_; }

  // Saves the screen under the window and draws it; false when the screen is too small.
  bool Open() {
    if (ScreenRows() < kScreenRows || ScreenColumns() < kScreenColumns) return false;
    int16_t depth = CurrentWindow().depth;
    PushWindow(1, s_.WindowColumn, kScreenRows,
               static_cast<int16_t>(s_.WindowColumn + kWindowWidth - 1));
    if (CurrentWindow().depth == depth) return false;
    Draw();
    return true;
  }
  void Close() { PopWindow(); }

  // Handles one key; true when the calculator closes, with the text to return in *result.
  bool HandleKey(int16_t key, std::string* result) {
    if (key == key::kEsc) {
      result->clear();
      return true;
    }
    if (key == key::kLeft || key == key::kCtrlLeft) {
      Move(s_.WindowColumn == 1 ? kLastWindowColumn : s_.WindowColumn - 1);
      return false;
    }
    if (key == key::kRight || key == key::kCtrlRight) {
      Move(s_.WindowColumn + kWindowWidth - 1 >= kScreenColumns ? 1 : s_.WindowColumn + 1);
      return false;
    }
    int c = key >= 0 && key <= 255 ? std::toupper(key) : 0;
    if (error_) {
      // After an impossible result only a clear (or leaving) makes sense.
      if (c == 'C') {
        error_ = false;
        s_.ClearedOnce = -1;
        DrawEntry();
      }
      return false;
    }
    if (key == key::kAltF || c == 'F') {
      *result = Hundredths();
      return true;
    }
    if (c >= '0' && c <= '9') {
      Digit(c & 15);
    } else if (c == '.') {
      Point();
    } else if (c == key::kBackspace) {
      Backspace();
    } else if (c == '+' || c == '-' || c == '*' || c == '/') {
      Operator(std::string(1, static_cast<char>(c)));
    } else if (c == '=' || c == key::kEnter) {
      if (s_.EntryStarted) Operator("=");
    } else if (c == '%') {
      Percent();
    } else if (c == 'R') {
      Round();
    } else if (c == 'C') {
      Clear();
    } else if (c == 'T') {
      s_.Entry = -s_.Entry;
    } else {
      return false;
    }
    if (!std::isfinite(s_.Entry) || !std::isfinite(s_.Accumulator)) Fail();
    DrawEntry();
    return false;
  }

 private:
  void Digit(int digit) {
    if (!s_.EntryStarted) {
      s_.Entry = 0;
      s_.HasPoint = 0;
      s_.Decimals = 0;
    }
    if (s_.HasPoint) {
      // Further decimals would push the point out of the number picture.
      if (s_.Decimals >= kMaxDecimals) return;
      ++s_.Decimals;
      s_.Entry += digit / PowerOfTen(s_.Decimals);
    } else {
      s_.Entry = s_.Entry * 10 + digit;
    }
    s_.EntryStarted = -1;
  }

  void Point() {
    if (!s_.EntryStarted) {
      s_.Entry = 0;
      s_.HasPoint = 0;
      s_.Decimals = 0;
    }
    if (!s_.HasPoint) {
      s_.HasPoint = -1;
      s_.Decimals = 0;
    }
    s_.EntryStarted = -1;
  }

  void Backspace() {
    if (!s_.HasPoint) {
      s_.Entry = std::trunc(s_.Entry / 10);
    } else if (--s_.Decimals < 0) {
      s_.HasPoint = 0;
      s_.Decimals = 0;
    } else {
      // Rounded to the typed digits first, so binary noise cannot take a digit with it.
      double typed = RoundHalfEven(s_.Entry * PowerOfTen(s_.Decimals + 1));
      s_.Entry = std::trunc(typed / 10) / PowerOfTen(s_.Decimals);
    }
    // A shown result stays a result: the next digit starts a new entry.
    s_.EntryStarted = s_.EntryStarted && s_.Entry != 0 ? -1 : 0;
  }

  void Operator(const std::string& key) {
    s_.LastKey = key;
    const std::string& op = s_.PendingOperator;
    if (op == "+")
      s_.Accumulator += s_.Entry;
    else if (op == "-")
      s_.Accumulator -= s_.Entry;
    else if (op == "*")
      s_.Accumulator *= s_.Entry;
    else if (op == "/")
      s_.Accumulator /= s_.Entry;
    else
      s_.Accumulator = s_.Entry;
    AddTapeLine();
    if (!std::isfinite(s_.Accumulator)) return;  // HandleKey shows the error
    ShowAsEntry(s_.Accumulator);
    if (key == "=") {
      s_.LastKey.clear();
      AddTapeLine();
    }
    s_.EntryStarted = 0;
    s_.ClearedOnce = 0;
    s_.PendingOperator = s_.LastKey;
  }

  void Percent() {
    s_.LastKey = "%";
    AddTapeLine();
    if (s_.PendingOperator == "+" || s_.PendingOperator == "-")
      s_.Entry = s_.Accumulator / 100 * s_.Entry;
    else
      s_.Entry = s_.Entry / 100;
    if (std::isfinite(s_.Entry)) ShowAsEntry(s_.Entry);
  }

  void Round() {
    double scaled = 100 * s_.Entry;
    if (!std::isfinite(scaled)) {
      s_.Entry = scaled;
      return;
    }
    double whole = std::trunc(scaled);
    double rest = scaled - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2) != 0)) whole += 1;
    s_.Entry = whole / 100;
    s_.Accumulator = s_.Entry;
    s_.HasPoint = -1;
    s_.Decimals = 2;
    s_.LastKey = "R";
    AddTapeLine();
  }

  void Clear() {
    if (s_.EntryStarted) {
      s_.EntryStarted = 0;
      // Shown with the accumulator's own decimals: without them 2.5 would read as 2.
      ShowAsEntry(s_.Accumulator);
    } else if (!s_.ClearedOnce) {
      s_.Entry = 0;
      s_.Accumulator = 0;
      s_.PendingOperator.clear();
      s_.LastKey.clear();
      s_.ClearedOnce = -1;
    } else {
      s_.FirstTapeLine = kEmptyTape;
      PopWindow();
      PushWindow(1, s_.WindowColumn, kScreenRows,
                 static_cast<int16_t>(s_.WindowColumn + kWindowWidth - 1));
      Draw();
    }
  }

  // A result that is no number (division by zero, overflow) is never kept: the state goes back
  // to zero and the entry line says so until "C".
  void Fail() {
    s_.Entry = 0;
    s_.Accumulator = 0;
    s_.EntryStarted = 0;
    s_.HasPoint = 0;
    s_.Decimals = 0;
    s_.PendingOperator.clear();
    s_.LastKey.clear();
    s_.ClearedOnce = 0;
    error_ = true;
  }

  // The value with as many decimals as it has, at most 15 significant digits.
  void ShowAsEntry(double value) {
    double t = value;
    int integerDigits = 0;
    for (double a = std::fabs(t); std::trunc(a) > 0; a /= 10) ++integerDigits;
    int decimals = 0;
    while (t != std::trunc(t) && decimals + integerDigits < 15) {
      t *= 10;
      ++decimals;
    }
    t = RoundHalfEven(t);
    while (decimals > 0 && std::fmod(t, 10) == 0) {
      t /= 10;
      --decimals;
    }
    s_.Entry = t / PowerOfTen(decimals);
    s_.Decimals = static_cast<int16_t>(decimals);
    s_.HasPoint = decimals > 0 ? -1 : 0;
  }

  void AddTapeLine() {
    if (s_.FirstTapeLine > kFullTape) --s_.FirstTapeLine;
    for (int i = 1; i < kTapeSlots; ++i)
      s_.Tape[static_cast<size_t>(i)] = s_.Tape[static_cast<size_t>(i + 1)];
    s_.Tape[kTapeSlots] = TapeLine{s_.Entry, s_.HasPoint, s_.Decimals, s_.LastKey};
    DrawTape();
  }

  // The value in hundredths: the digits of |value| x 10^d with a point before the last d - 2.
  std::string Hundredths() const {
    int d = std::max<int>(s_.Decimals, 2);
    double value = std::fabs(s_.EntryStarted ? s_.Entry : s_.Accumulator);
    // Printed exactly rather than multiplied, so large values cannot overflow.
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%.*f", d, value);
    std::string digits;
    for (const char* p = buffer; *p; ++p)
      if (*p >= '0' && *p <= '9') digits.push_back(*p);
    size_t first = digits.find_first_not_of('0');
    digits = first == std::string::npos ? "0" : digits.substr(first);
    // Values below one hundredth keep their leading zeros after the point.
    if (digits.size() < static_cast<size_t>(d - 2))
      digits.insert(0, static_cast<size_t>(d - 2) - digits.size(), '0');
    size_t whole = digits.size() - static_cast<size_t>(d - 2);
    std::string out = digits.substr(0, whole);
    if (d > 2) out += "." + digits.substr(whole);
    return out;
  }

  void Move(int column) {
    PopWindow();
    s_.WindowColumn = static_cast<int16_t>(column);
    PushWindow(1, s_.WindowColumn, kScreenRows,
               static_cast<int16_t>(s_.WindowColumn + kWindowWidth - 1));
    Draw();
  }

  // Screen rows count from 1; the window's top row is row 1 and its first column is column 0
  // of the window-relative coordinates.
  void Put(int row, const std::string& text) {
    LocateInWindow(static_cast<int16_t>(row - 1), 0);
    WriteText(text);
  }
  std::string Border(char left, char right) const { return left + kRule + right; }

  void DrawTape() {
    bool empty = s_.FirstTapeLine >= kEmptyTape;
    if (!empty) Put(s_.FirstTapeLine - 1, Border('\xDA', '\xBF'));
    for (int i = s_.FirstTapeLine; i <= kTapeSlots; ++i) {
      const TapeLine& line = s_.Tape[static_cast<size_t>(i)];
      std::string mark = line.Operator.empty() ? " " : line.Operator.substr(0, 1);
      Put(i, kVertical + FormatNumber(Picture(line.HasPoint, line.Decimals), line.Value) + " " +
                 mark + kVertical);
    }
    Put(kTapeSlots + 1, empty ? Border('\xDA', '\xBF') : Border('\xC3', '\xB4'));
  }
  void DrawEntry() {
    std::string shown;
    if (error_) {
      shown = ErrorText();
      shown.insert(0, 22 - shown.size(), ' ');
    } else {
      shown = FormatNumber(Picture(s_.HasPoint, s_.Decimals), s_.Entry);
    }
    Put(kScreenRows - 1, kVertical + shown + "  " + kVertical);
  }
  void Draw() {
    SetColour("n");  // a PopWindow before leaves the colour of the last cell it restored
    DrawTape();
    DrawEntry();
    Put(kScreenRows, Border('\xC0', '\xD9'));
  }

  CalculatorState s_;
  bool error_ = false;
};

}  // namespace

// The pop-ups read keys with WaitKey, which no key list filters, so they leave the active key
// list alone: its one save slot is already held by the form or list whose field opened them,
// and a "+"/"-" pair here would hand that field the list from before its own.
std::string PopupCalculator() {
  SetColour("+n");
  ShowCursor(false);
  Calculator calculator(LoadCalculatorState());
  std::string result;
  if (calculator.Open()) {
    for (;;) {
      int16_t key = 0;
      WaitKey(key);
      if (calculator.HandleKey(key, &result)) break;
    }
    calculator.Close();
    SaveCalculatorState(calculator.State());
  }
  ShowCursor(true);
  SetColour("-");
  return result;
}

}  // namespace kap
