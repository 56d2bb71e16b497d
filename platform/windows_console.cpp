// The console on the Win32 console API. The program's 80 x 25 screen sits at the top left of
// the console window; a copy of its cells is kept so cells read back exactly as written (the
// code page 850 byte, not the Unicode character the console shows). Colours are the console's
// own 16 x 16 attributes, which use the same numbering as the suite.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/windows_keys.h"

namespace kap {

namespace {

constexpr int kRows = 25, kColumns = 80;

class WindowsConsole : public Console {
 public:
  WindowsConsole(HANDLE in, HANDLE out, const TerminalOptions& options)
      : in_(in), out_(out), mouseWanted_(options.mouse), cells_(kRows * kColumns) {}

  bool Start(std::string* error) {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!::GetConsoleMode(in_, &savedInMode_) || !::GetConsoleMode(out_, &savedOutMode_) ||
        !::GetConsoleScreenBufferInfo(out_, &info)) {
      *error = "standard input and output must be a console";
      return false;
    }
    const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (rows < kRows || columns < kColumns) {
      *error = "the console window must be at least 80 x 25, it is " + std::to_string(columns) +
               " x " + std::to_string(rows);
      return false;
    }
    originRow_ = info.srWindow.Top;
    originColumn_ = info.srWindow.Left;
    savedAttribute_ = info.wAttributes;
    ::GetConsoleCursorInfo(out_, &savedCursor_);
    hasMouse_ = false;
    DWORD buttons = 0;
    if (mouseWanted_ && ::GetNumberOfConsoleMouseButtons(&buttons) && buttons > 0) hasMouse_ = true;
    TakeConsole();
    for (int r = 1; r <= kRows; ++r) Draw(r, 1, r, kColumns);
    ApplyCursor();
    return true;
  }

  ~WindowsConsole() override { GiveBack(); }

  int Rows() const override { return kRows; }
  int Columns() const override { return kColumns; }

  void SetCursor(int row, int column) override {
    cursorRow_ = std::clamp(row, 1, kRows);
    cursorColumn_ = std::clamp(column, 1, kColumns);
    ApplyCursor();
  }
  int CursorRow() const override { return cursorRow_; }
  int CursorColumn() const override { return cursorColumn_; }
  void SetCursorVisible(bool visible) override {
    cursorVisible_ = visible;
    ApplyCursor();
  }
  bool CursorVisible() const override { return cursorVisible_; }
  void SetCursorSize(int percent) override {
    cursorSize_ = std::clamp(percent, 1, 100);
    ApplyCursor();
  }
  int CursorSize() const override { return cursorSize_; }

  void SetAttribute(uint8_t attribute) override { attribute_ = attribute; }
  uint8_t Attribute() const override { return attribute_; }

  void Write(const std::string& text) override {
    int firstRow = cursorRow_, lastRow = cursorRow_;
    for (unsigned char ch : text) {
      if (cursorRow_ > kRows) break;
      At(cursorRow_, cursorColumn_) = Cell{ch, attribute_};
      lastRow = cursorRow_;
      if (++cursorColumn_ > kColumns) {
        cursorColumn_ = 1;
        ++cursorRow_;
      }
    }
    if (cursorRow_ > kRows) {  // past the last cell: the cursor stays on it
      cursorRow_ = kRows;
      cursorColumn_ = kColumns;
    }
    if (!text.empty()) Draw(firstRow, 1, lastRow, kColumns);
    ApplyCursor();
  }

  Cell ReadCell(int row, int column) const override {
    if (row < 1 || row > kRows || column < 1 || column > kColumns) return Cell{};
    return cells_[(row - 1) * kColumns + (column - 1)];
  }

  void PutCell(int row, int column, Cell cell) override {
    if (row < 1 || row > kRows || column < 1 || column > kColumns) return;
    At(row, column) = cell;
    Draw(row, column, row, column);
  }

  void ScrollRect(int top, int left, int bottom, int right, int lines, Cell fill) override {
    top = std::max(top, 1);
    left = std::max(left, 1);
    bottom = std::min(bottom, kRows);
    right = std::min(right, kColumns);
    if (top > bottom || left > right || lines == 0) return;
    const int height = bottom - top + 1;
    const int n = std::min(std::abs(lines), height);
    std::vector<Cell> copy(cells_);
    for (int r = top; r <= bottom; ++r) {
      const int from = lines > 0 ? r + n : r - n;
      for (int c = left; c <= right; ++c)
        At(r, c) = (from >= top && from <= bottom) ? copy[(from - 1) * kColumns + (c - 1)] : fill;
    }
    Draw(top, left, bottom, right);
  }

  void Beep() override { ::MessageBeep(0xFFFFFFFF); }

  bool ReadInput(InputEvent* event) override {
    // Repeats of a held key are handed out before the console is read again.
    if (!repeats_.empty()) {
      *event = repeats_.back();
      repeats_.pop_back();
      return true;
    }
    for (;;) {
      DWORD pending = 0;
      if (!::GetNumberOfConsoleInputEvents(in_, &pending) || pending == 0) return false;
      INPUT_RECORD record;
      DWORD read = 0;
      if (!::ReadConsoleInputW(in_, &record, 1, &read) || read == 0) return false;
      if (Translate(record, event)) return true;
    }
  }

  bool WaitInput(int milliseconds) override {
    DWORD pending = 0;
    if (::GetNumberOfConsoleInputEvents(in_, &pending) && pending > 0) return true;
    return ::WaitForSingleObject(in_, static_cast<DWORD>(std::max(milliseconds, 0))) ==
           WAIT_OBJECT_0;
  }

  void FlushInput() override {
    ::FlushConsoleInputBuffer(in_);
    repeats_.clear();
    altKeypad_ = AltKeypadState{};
  }

  bool ReportsKeyRelease() const override { return true; }
  bool HasMouse() const override { return hasMouse_; }
  void SetMouseReporting(bool on) override { mouseReporting_ = on && hasMouse_; }

  void Suspend() override { GiveBack(); }
  void Resume() override {
    TakeConsole();
    for (int r = 1; r <= kRows; ++r) Draw(r, 1, r, kColumns);
    ApplyCursor();
  }

 private:
  Cell& At(int row, int column) { return cells_[(row - 1) * kColumns + (column - 1)]; }

  void TakeConsole() {
    // Ctrl+C is a key of the editor, not a signal; mouse clicks arrive as input records and
    // quick-edit selection would swallow them.
    DWORD inMode =
        ENABLE_WINDOW_INPUT | ENABLE_EXTENDED_FLAGS | (hasMouse_ ? ENABLE_MOUSE_INPUT : 0);
    ::SetConsoleMode(in_, inMode);
    ::SetConsoleMode(out_, savedOutMode_ & ~static_cast<DWORD>(ENABLE_WRAP_AT_EOL_OUTPUT));
    taken_ = true;
  }

  void GiveBack() {
    if (!taken_) return;
    taken_ = false;
    ::SetConsoleMode(in_, savedInMode_);
    ::SetConsoleMode(out_, savedOutMode_);
    ::SetConsoleCursorInfo(out_, &savedCursor_);
    ::SetConsoleTextAttribute(out_, savedAttribute_);
    COORD below = {static_cast<SHORT>(originColumn_), static_cast<SHORT>(originRow_ + kRows - 1)};
    ::SetConsoleCursorPosition(out_, below);
  }

  // Copies a rectangle of the cell grid to the console in one call.
  void Draw(int top, int left, int bottom, int right) {
    const int width = right - left + 1, height = bottom - top + 1;
    std::vector<CHAR_INFO> buffer(static_cast<size_t>(width * height));
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) {
        const Cell& cell = At(top + r, left + c);
        CHAR_INFO& out = buffer[static_cast<size_t>(r * width + c)];
        out.Char.UnicodeChar = static_cast<WCHAR>(Cp850ToUnicode(cell.character));
        out.Attributes = cell.attribute;
      }
    COORD size = {static_cast<SHORT>(width), static_cast<SHORT>(height)};
    SMALL_RECT target = {
        static_cast<SHORT>(originColumn_ + left - 1), static_cast<SHORT>(originRow_ + top - 1),
        static_cast<SHORT>(originColumn_ + right - 1), static_cast<SHORT>(originRow_ + bottom - 1)};
    ::WriteConsoleOutputW(out_, buffer.data(), size, COORD{0, 0}, &target);
  }

  void ApplyCursor() {
    CONSOLE_CURSOR_INFO info{static_cast<DWORD>(cursorSize_), cursorVisible_ ? TRUE : FALSE};
    ::SetConsoleCursorInfo(out_, &info);
    COORD at = {static_cast<SHORT>(originColumn_ + cursorColumn_ - 1),
                static_cast<SHORT>(originRow_ + cursorRow_ - 1)};
    ::SetConsoleCursorPosition(out_, at);
  }

  bool Translate(const INPUT_RECORD& record, InputEvent* event) {
    switch (record.EventType) {
      case KEY_EVENT: {
        const KEY_EVENT_RECORD& k = record.Event.KeyEvent;
        WinKeyRecord key;
        key.keyDown = k.bKeyDown != 0;
        key.virtualKey = k.wVirtualKeyCode;
        key.scanCode = k.wVirtualScanCode;
        key.unicodeChar = static_cast<char16_t>(k.uChar.UnicodeChar);
        key.controlState = k.dwControlKeyState;
        if (TranslateWinKey(key, &altKeypad_, event) != Decoded::kEvent) return false;
        // A held key repeats: the console reports the count on one record.
        for (WORD extra = 1; extra < k.wRepeatCount && event->kind == InputEvent::Kind::kKeyDown;
             ++extra)
          repeats_.push_back(*event);
        return true;
      }
      case MOUSE_EVENT: {
        const MOUSE_EVENT_RECORD& m = record.Event.MouseEvent;
        if (!mouseReporting_) return false;
        if (m.dwEventFlags != 0 && m.dwEventFlags != DOUBLE_CLICK) return false;  // moves, wheel
        *event = InputEvent{};
        event->kind = InputEvent::Kind::kMouse;
        event->row = static_cast<int16_t>(m.dwMousePosition.Y - originRow_ + 1);
        event->column = static_cast<int16_t>(m.dwMousePosition.X - originColumn_ + 1);
        if (m.dwButtonState & FROM_LEFT_1ST_BUTTON_PRESSED) event->buttons |= mouse::kLeft;
        if (m.dwButtonState & RIGHTMOST_BUTTON_PRESSED) event->buttons |= mouse::kRight;
        return event->row >= 1 && event->row <= kRows && event->column >= 1 &&
               event->column <= kColumns;
      }
      case WINDOW_BUFFER_SIZE_EVENT:
        *event = InputEvent{};
        event->kind = InputEvent::Kind::kResize;
        return true;
      default:
        return false;
    }
  }

  HANDLE in_, out_;
  bool mouseWanted_;
  std::vector<Cell> cells_;
  DWORD savedInMode_ = 0, savedOutMode_ = 0;
  WORD savedAttribute_ = 0x07;
  CONSOLE_CURSOR_INFO savedCursor_{25, TRUE};
  int originRow_ = 0, originColumn_ = 0;
  int cursorRow_ = 1, cursorColumn_ = 1;
  bool cursorVisible_ = true;
  int cursorSize_ = 25;
  uint8_t attribute_ = 0x07;
  bool hasMouse_ = false;
  bool mouseReporting_ = false;
  bool taken_ = false;
  AltKeypadState altKeypad_;
  std::vector<InputEvent> repeats_;
};

}  // namespace

std::unique_ptr<Console> CreateTerminalConsole(const TerminalOptions& options, std::string* error) {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (in == INVALID_HANDLE_VALUE || out == INVALID_HANDLE_VALUE || !in || !out) {
    *error = "standard input and output must be a console";
    return nullptr;
  }
  auto console = std::make_unique<WindowsConsole>(in, out, options);
  if (!console->Start(error)) return nullptr;
  return console;
}

}  // namespace kap
