// Windows over the screen: the cells a window covers are kept in "WinPush.tmp" in the working
// directory and written back when it closes. Also frames, cursor placement and measures.
#include <algorithm>
#include <cstdlib>

#include "formengine/screen_state.h"
#include "platform/bytes.h"
#include "platform/os.h"
#include "session/session.h"

namespace kap {

namespace {

const char kStackFile[] = "WinPush.tmp";
constexpr int kHeaderSize = 4;
constexpr int kFixedFields = 20;  // cursor, enclosing and new rectangle, two digits each
constexpr int kLengthField = 5;

std::string StackPath() { return CurrentSession().WorkDir + kStackFile; }

std::string EncodePosition(int64_t next) {
  return LittleEndianBytes32(static_cast<uint32_t>(next));
}

int64_t DecodePosition(const std::string& bytes) {
  return static_cast<int32_t>(LittleEndian32(bytes, 0));
}

// Decimal digits only; -1 otherwise.
int ParseDigits(const std::string& text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int v = 0;
  for (size_t i = at; i < at + count; ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

}  // namespace

const CurrentWindowState& CurrentWindow() { return ScreenStateRef().window; }

void ClearWindowStack() { GetOs().RemoveFile(StackPath()); }

std::string ZeroPad(int32_t number, int16_t digits) {
  if (digits <= 0) return "";
  std::string text = std::string(static_cast<size_t>(digits), '0') + std::to_string(number);
  return text.substr(text.size() - static_cast<size_t>(digits));
}

void PushWindow(int16_t top, int16_t left, int16_t bottom, int16_t right) {
  Console& con = GetConsole();
  int rows = con.Rows(), columns = con.Columns();
  if (top < 1 || top > rows || bottom < 1 || bottom > rows || left < 1 || left > columns ||
      right < 1 || right > columns)
    return;
  // A reversed rectangle has no cells to save, and the stack records coordinates in two
  // digits: treat both as outside the screen.
  if (top > bottom || left > right || bottom > 99 || right > 99) return;

  OpenResult result;
  auto file = GetOs().OpenFile(StackPath(), true, false, Sharing::kShared, &result);
  if (!file) return;
  int64_t size = file->Size();
  int64_t next = 5;
  if (size > 3) {
    std::string header;
    if (file->ReadAt(0, kHeaderSize, &header) && header.size() == kHeaderSize) {
      next = DecodePosition(header);
      // A damaged header would scatter records anywhere: start the stack again.
      if (next < 5 || next > size + 1) next = 5;
    }
  }

  ScreenState& s = ScreenStateRef();
  const WindowRect& outer = s.window.rect;
  std::string record;
  record.reserve(kFixedFields + 2 * static_cast<size_t>(bottom - top + 1) * (right - left + 1) +
                 kLengthField);
  record += ZeroPad(con.CursorRow(), 2) + ZeroPad(con.CursorColumn(), 2);
  if (s.window.depth > 0) {
    record += ZeroPad(outer.top, 2) + ZeroPad(outer.left, 2) + ZeroPad(outer.bottom, 2) +
              ZeroPad(outer.right, 2);
  } else {
    record += "00000000";
  }
  record += ZeroPad(top, 2) + ZeroPad(left, 2) + ZeroPad(bottom, 2) + ZeroPad(right, 2);
  for (int r = top; r <= bottom; ++r) {
    for (int c = left; c <= right; ++c) {
      Cell cell = con.ReadCell(r, c);
      record.push_back(static_cast<char>(cell.character));
      record.push_back(static_cast<char>(cell.attribute));
    }
  }
  record += ZeroPad(static_cast<int32_t>(record.size() + kLengthField), kLengthField);
  if (!file->WriteAt(next - 1, record)) return;
  if (!file->WriteAt(0, EncodePosition(next + static_cast<int64_t>(record.size())))) return;

  s.window.depth = static_cast<int16_t>(s.window.depth + 1);
  s.window.rect = WindowRect{top, left, bottom, right};
}

void PopWindow() {
  ScreenState& s = ScreenStateRef();
  Console& con = GetConsole();
  const std::string path = StackPath();
  int64_t next = 0;
  {
    OpenResult result;
    auto file = GetOs().OpenFile(path, false, false, Sharing::kShared, &result);
    if (file && file->Size() > 3) {
      int64_t size = file->Size();
      if (s.window.depth > 0) s.window.depth = static_cast<int16_t>(s.window.depth - 1);
      std::string header, lengthText, record;
      next = 5;  // anything unreadable empties the stack
      if (file->ReadAt(0, kHeaderSize, &header) && header.size() == kHeaderSize) {
        int64_t p = DecodePosition(header);
        if (p >= 5 + kFixedFields + kLengthField && p <= size + 1 &&
            file->ReadAt(p - 1 - kLengthField, kLengthField, &lengthText)) {
          int length = ParseDigits(lengthText, 0, kLengthField);
          int64_t start = p - length;  // 1-based
          if (length >= kFixedFields + kLengthField && start >= 5 &&
              file->ReadAt(start - 1, static_cast<size_t>(length), &record) &&
              static_cast<int>(record.size()) == length) {
            int f[10];
            bool ok = true;
            for (int i = 0; i < 10 && ok; ++i) ok = (f[i] = ParseDigits(record, 2 * i, 2)) >= 0;
            int top = f[6], left = f[7], bottom = f[8], right = f[9];
            int64_t cells = ok && bottom >= top && right >= left
                                ? static_cast<int64_t>(bottom - top + 1) * (right - left + 1)
                                : -1;
            if (ok && cells >= 0 && kFixedFields + 2 * cells + kLengthField == length) {
              size_t at = kFixedFields;
              uint8_t lastAttribute = con.Attribute();
              for (int r = top; r <= bottom; ++r) {
                for (int c = left; c <= right; ++c) {
                  Cell cell{static_cast<uint8_t>(record[at]), static_cast<uint8_t>(record[at + 1])};
                  at += 2;
                  con.PutCell(r, c, cell);
                  lastAttribute = cell.attribute;
                }
              }
              con.SetAttribute(lastAttribute);
              s.window.rect = WindowRect{static_cast<int16_t>(f[2]), static_cast<int16_t>(f[3]),
                                         static_cast<int16_t>(f[4]), static_cast<int16_t>(f[5])};
              con.SetCursor(f[0], f[1]);
              next = start;
            }
          }
        }
      }
      if (next >= 6) file->WriteAt(0, EncodePosition(next));
    }
  }
  if (s.window.depth == 0) s.window.rect = WindowRect{};
  if (next < 6) GetOs().RemoveFile(path);
}

void DrawFrame(int16_t style) {
  ScreenState& s = ScreenStateRef();
  if (s.window.depth == 0) return;
  static const uint8_t kChars[3][6] = {{' ', ' ', ' ', ' ', ' ', ' '},
                                       {0xDA, 0xBF, 0xC0, 0xD9, 0xC4, 0xB3},
                                       {0xC9, 0xBB, 0xC8, 0xBC, 0xCD, 0xBA}};
  const uint8_t* ch = kChars[style == 1 ? 1 : style == 2 ? 2 : 0];
  Console& con = GetConsole();
  uint8_t attribute = con.Attribute();
  const WindowRect& w = s.window.rect;
  for (int r = w.top; r <= w.bottom; ++r) {
    for (int c = w.left; c <= w.right; ++c) {
      uint8_t glyph;
      bool topRow = r == w.top, bottomRow = r == w.bottom;
      bool leftCol = c == w.left, rightCol = c == w.right;
      if (topRow || bottomRow) {
        if (leftCol)
          glyph = topRow ? ch[0] : ch[2];
        else if (rightCol)
          glyph = topRow ? ch[1] : ch[3];
        else
          glyph = ch[4];
      } else {
        glyph = leftCol || rightCol ? ch[5] : ' ';
      }
      con.PutCell(r, c, Cell{glyph, attribute});
    }
  }
}

void LocateInWindow(int16_t row, int16_t column) {
  GetConsole().SetCursor(WindowOriginRow() - 1 + row, WindowOriginColumn() - 1 + column);
}

int16_t ScreenRows() { return static_cast<int16_t>(GetConsole().Rows()); }
int16_t ScreenColumns() { return static_cast<int16_t>(GetConsole().Columns()); }

int16_t WindowOriginRow() {
  const CurrentWindowState& w = CurrentWindow();
  return w.depth > 0 ? static_cast<int16_t>(w.rect.top + 1) : 1;
}

int16_t WindowOriginColumn() {
  const CurrentWindowState& w = CurrentWindow();
  return w.depth > 0 ? static_cast<int16_t>(w.rect.left + 1) : 1;
}

int16_t LastWindowColumn() {
  const CurrentWindowState& w = CurrentWindow();
  return w.depth > 0 ? static_cast<int16_t>(w.rect.right - 1) : ScreenColumns();
}

void ScrollRegion(int16_t top, int16_t left, int16_t bottom, int16_t right, int16_t lines) {
  Console& con = GetConsole();
  con.ScrollRect(top + 1, left + 1, bottom + 1, right + 1, lines, Cell{' ', con.Attribute()});
}

void WriteText(const std::string& text) { GetConsole().Write(text); }

void ClearScreen() {
  Console& con = GetConsole();
  Cell blank{' ', con.Attribute()};
  for (int r = 1; r <= con.Rows(); ++r)
    for (int c = 1; c <= con.Columns(); ++c) con.PutCell(r, c, blank);
  con.SetCursor(1, 1);
}

void Beep() { GetConsole().Beep(); }

void ShowCursor(bool visible) { GetConsole().SetCursorVisible(visible); }

}  // namespace kap
