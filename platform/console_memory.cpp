// The in-memory console, the process-wide console pointer and the keyboard toggle state.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/console.h"
#include "platform/console_keys.h"
#include "platform/os.h"

namespace kap {

MemoryConsole::MemoryConsole(int rows, int columns)
    : rows_(std::max(1, rows)),
      columns_(std::max(1, columns)),
      cells_(static_cast<size_t>(rows_) * columns_) {}

void MemoryConsole::Resize(int rows, int columns) {
  std::vector<Cell> cells(static_cast<size_t>(std::max(1, rows)) * std::max(1, columns));
  int newRows = std::max(1, rows), newColumns = std::max(1, columns);
  for (int r = 1; r <= std::min(rows_, newRows); ++r)
    for (int c = 1; c <= std::min(columns_, newColumns); ++c)
      cells[static_cast<size_t>(r - 1) * newColumns + (c - 1)] = ReadCell(r, c);
  rows_ = newRows;
  columns_ = newColumns;
  cells_ = std::move(cells);
  SetCursor(cursorRow_, cursorColumn_);
}

void MemoryConsole::SetCursor(int row, int column) {
  cursorRow_ = std::clamp(row, 1, rows_);
  cursorColumn_ = std::clamp(column, 1, columns_);
}

void MemoryConsole::SetCursorSize(int percent) { cursorSize_ = std::clamp(percent, 1, 100); }

void MemoryConsole::Write(const std::string& text) {
  for (unsigned char ch : text) {
    if (cursorRow_ > rows_) break;
    cells_[static_cast<size_t>(cursorRow_ - 1) * columns_ + (cursorColumn_ - 1)] =
        Cell{ch, attribute_};
    if (cursorColumn_ < columns_) {
      ++cursorColumn_;
    } else if (cursorRow_ < rows_) {
      cursorColumn_ = 1;
      ++cursorRow_;
    } else {
      // The last cell: no scrolling, later text is dropped.
      break;
    }
  }
}

Cell MemoryConsole::ReadCell(int row, int column) const {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return Cell{};
  return cells_[static_cast<size_t>(row - 1) * columns_ + (column - 1)];
}

void MemoryConsole::PutCell(int row, int column, Cell cell) {
  if (row < 1 || row > rows_ || column < 1 || column > columns_) return;
  cells_[static_cast<size_t>(row - 1) * columns_ + (column - 1)] = cell;
}

void ScrollCells(std::vector<Cell>& cells, int rows, int columns, int top, int left, int bottom,
                 int right, int lines, Cell fill) {
  top = std::max(top, 1);
  left = std::max(left, 1);
  bottom = std::min(bottom, rows);
  right = std::min(right, columns);
  if (top > bottom || left > right || lines == 0) return;
  int height = bottom - top + 1;
  auto at = [&](int r, int c) -> Cell& {
    return cells[static_cast<size_t>(r - 1) * columns + (c - 1)];
  };
  int n = std::min(std::abs(lines), height);
  if (lines > 0) {
    for (int r = top; r <= bottom; ++r)
      for (int c = left; c <= right; ++c) at(r, c) = r + n <= bottom ? at(r + n, c) : fill;
  } else {
    for (int r = bottom; r >= top; --r)
      for (int c = left; c <= right; ++c) at(r, c) = r - n >= top ? at(r - n, c) : fill;
  }
}

void MemoryConsole::ScrollRect(int top, int left, int bottom, int right, int lines, Cell fill) {
  ScrollCells(cells_, rows_, columns_, top, left, bottom, right, lines, fill);
}

bool MemoryConsole::ReadInput(InputEvent* event) {
  while (!input_.empty()) {
    InputEvent e = input_.front();
    input_.pop_front();
    if (e.kind == InputEvent::Kind::kMouse && !mouseReporting_) continue;
    *event = e;
    exhaustedCalls_ = 0;
    return true;
  }
  return false;
}

bool MemoryConsole::WaitInput(int) {
  if (input_.empty() && idle_) idle_(*this);
  if (!input_.empty()) return true;
  if (exhaustedLimit_ > 0 && ++exhaustedCalls_ >= exhaustedLimit_) {
    std::fprintf(stderr, "MemoryConsole: waiting for input, but the scripted input ran out\n");
    std::abort();
  }
  return false;
}

void MemoryConsole::FlushInput() { input_.clear(); }

void MemoryConsole::PushKey(int16_t code) {
  // Clicks are -(column x 100 + row); the F11/F12 codes from 0x8500 on are negative as well but
  // would stand for columns no screen has.
  if (code < 0 && -static_cast<int>(code) / 100 <= 255) {
    int value = -static_cast<int>(code);
    PushClick(value % 100, value / 100);
    return;
  }
  input_.push_back(KeyCodeToEvent(code));
}

void MemoryConsole::PushKeys(std::initializer_list<int16_t> codes) {
  for (int16_t c : codes) PushKey(c);
}

void MemoryConsole::PushText(const std::string& text) {
  for (unsigned char ch : text) PushKey(static_cast<int16_t>(ch));
}

void MemoryConsole::PushClick(int row, int column, uint8_t buttons) {
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.row = static_cast<int16_t>(row);
  e.column = static_cast<int16_t>(column);
  e.buttons = buttons;
  input_.push_back(e);
  e.buttons = 0;
  input_.push_back(e);
}

std::string MemoryConsole::RowText(int row, int column, int length) const {
  std::string out;
  int last = length < 0 ? columns_ : std::min(columns_, column + length - 1);
  for (int c = std::max(1, column); c <= last; ++c)
    out.push_back(static_cast<char>(ReadCell(row, c).character));
  return out;
}

std::string MemoryConsole::ScreenText() const {
  std::string out;
  for (int r = 1; r <= rows_; ++r) {
    std::string line = RowText(r);
    line.erase(line.find_last_not_of(' ') + 1);
    if (r > 1) out.push_back('\n');
    out += line;
  }
  return out;
}

namespace {
struct ConsoleState {
  Console* installed = nullptr;
};
ConsoleState& State() {
  static ConsoleState state;
  return state;
}
}  // namespace

MemoryConsole& DefaultMemoryConsole() {
  static MemoryConsole console;
  return console;
}

Console& GetConsole() {
  Console* c = State().installed;
  return c ? *c : DefaultMemoryConsole();
}

void SetConsole(Console* console) { State().installed = console; }

void BeforeWait() { GetConsole().Refresh(); }

}  // namespace kap
