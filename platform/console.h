// The character console, the keyboard toggle state and the clipboard.
//
// The console is a grid of cells, each one code page 850 byte plus an attribute (foreground in
// the low four bits, background in the high four). Rows and columns count from 1. Input is read
// without waiting as events: keys with their scan code and modifier state, mouse button events
// and resizes. Two consoles exist: the terminal one (ncursesw) and the in-memory one that tests
// script and read back; the in-memory one is in force until a program installs the terminal.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace kap {

struct Cell {
  uint8_t character = ' ';
  uint8_t attribute = 0x07;
  bool operator==(const Cell&) const = default;
};

// Bytes the console draws as the field editor's option markers (U+25C4 and U+25BA). They are
// kept as these bytes in the cell grid, so a saved and restored screen keeps them.
constexpr uint8_t kMarkerLeft = 0x11;   // ◄
constexpr uint8_t kMarkerRight = 0x10;  // ►

// Modifier bits of a key event.
namespace modifier {
constexpr uint8_t kShift = 1;
constexpr uint8_t kCtrl = 2;
constexpr uint8_t kLeftAlt = 4;
constexpr uint8_t kRightAlt = 8;
}  // namespace modifier

// Mouse button bits.
namespace mouse {
constexpr uint8_t kLeft = 1;
constexpr uint8_t kRight = 2;
}  // namespace mouse

// PC scan codes the input side needs by name.
namespace scan {
constexpr uint8_t kAlt = 0x38;  // the Alt key itself (its release ends Alt+keypad entry)
}

struct InputEvent {
  enum class Kind : uint8_t { kKeyDown, kKeyUp, kMouse, kResize };
  Kind kind = Kind::kKeyDown;
  uint8_t character = 0;  // code page 850 code; 0 for an extended key
  uint8_t scan = 0;       // PC scan code (for an extended key: its key code / 256)
  uint8_t modifiers = 0;  // modifier:: bits held with the key
  // Mouse: the 1-based screen cell and the buttons held (0 = all released).
  int16_t row = 0, column = 0;
  uint8_t buttons = 0;
};

class Console {
 public:
  virtual ~Console() = default;

  // Size of the screen model. The terminal console is 80 x 25 on any terminal and clips what
  // does not fit.
  virtual int Rows() const = 0;
  virtual int Columns() const = 0;

  // Cursor placement; positions outside the screen are clamped onto it.
  virtual void SetCursor(int row, int column) = 0;
  virtual int CursorRow() const = 0;
  virtual int CursorColumn() const = 0;
  virtual void SetCursorVisible(bool visible) = 0;
  virtual bool CursorVisible() const = 0;
  // Height of the cursor in percent of the cell (1 ... 100).
  virtual void SetCursorSize(int percent) = 0;
  virtual int CursorSize() const = 0;

  virtual void SetAttribute(uint8_t attribute) = 0;
  virtual uint8_t Attribute() const = 0;

  // Writes code page 850 text at the cursor in the current attribute. The cursor advances,
  // wrapping to the next row at the right edge; text past the last cell is dropped.
  virtual void Write(const std::string& text) = 0;
  // Cells outside the screen read as a blank in attribute 0x07 and are not written.
  virtual Cell ReadCell(int row, int column) const = 0;
  virtual void PutCell(int row, int column, Cell cell) = 0;
  // Scrolls the rectangle by |lines| rows, up for a positive count; the rows left behind are
  // filled with `fill`. Clipped to the screen.
  virtual void ScrollRect(int top, int left, int bottom, int right, int lines, Cell fill) = 0;

  virtual void Beep() = 0;

  // Input. ReadInput never waits; false when nothing is pending.
  virtual bool ReadInput(InputEvent* event) = 0;
  // Waits up to `milliseconds` for input to be pending; true when some is.
  virtual bool WaitInput(int milliseconds) = 0;
  virtual void FlushInput() = 0;
  // False when the console cannot report key releases (a terminal): Alt+keypad entry then ends
  // when another key arrives or after a pause.
  virtual bool ReportsKeyRelease() const = 0;
  virtual bool HasMouse() const = 0;
  // While off, mouse events are not delivered.
  virtual void SetMouseReporting(bool on) = 0;

  // Makes what was drawn visible (the terminal console draws lazily).
  virtual void Refresh() {}
  // Hands UTF-8 text to the terminal's own clipboard (OSC 52) where the console has one.
  virtual void SendClipboard(const std::string& /*utf8*/) {}
  // Gives the terminal back (before running another program in it) and takes it again,
  // redrawing every cell.
  virtual void Suspend() {}
  virtual void Resume() {}
};

// A console held in memory: the grid tests read and a queue of scripted input events.
class MemoryConsole : public Console {
 public:
  explicit MemoryConsole(int rows = 25, int columns = 80);

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }
  void SetCursor(int row, int column) override;
  int CursorRow() const override { return cursorRow_; }
  int CursorColumn() const override { return cursorColumn_; }
  void SetCursorVisible(bool visible) override { cursorVisible_ = visible; }
  bool CursorVisible() const override { return cursorVisible_; }
  void SetCursorSize(int percent) override;
  int CursorSize() const override { return cursorSize_; }
  void SetAttribute(uint8_t attribute) override { attribute_ = attribute; }
  uint8_t Attribute() const override { return attribute_; }
  void Write(const std::string& text) override;
  Cell ReadCell(int row, int column) const override;
  void PutCell(int row, int column, Cell cell) override;
  void ScrollRect(int top, int left, int bottom, int right, int lines, Cell fill) override;
  void Beep() override { ++beeps_; }
  bool ReadInput(InputEvent* event) override;
  bool WaitInput(int milliseconds) override;
  void FlushInput() override;
  bool ReportsKeyRelease() const override { return true; }
  bool HasMouse() const override { return hasMouse_; }
  void SetMouseReporting(bool on) override { mouseReporting_ = on; }
  void SendClipboard(const std::string& utf8) override { sentClipboard_ = utf8; }

  // --- Scripting (tests) ---
  void PushEvent(const InputEvent& event) { input_.push_back(event); }
  // A key as the engine codes it (character, scan code x 256, the modified F keys, Ctrl+Home,
  // Ctrl+Left/Right, Alt+letter), turned into the console event that produces it. A negative
  // code -(column x 100 + row) is a left click there (PushClick).
  void PushKey(int16_t code);
  void PushKeys(std::initializer_list<int16_t> codes);
  // Each byte typed as a character key.
  void PushText(const std::string& text);
  // A button press at the 1-based screen cell (buttons: mouse:: bits), then its release.
  void PushClick(int row, int column, uint8_t buttons = mouse::kLeft);
  size_t PendingInput() const { return input_.size(); }
  // Called when WaitInput finds the queue empty, so a test can feed input lazily.
  void SetIdleHandler(std::function<void(MemoryConsole&)> handler) { idle_ = std::move(handler); }
  // Waits on an empty queue with no idle handler abort the process after this many calls (a
  // test whose script ran out would otherwise hang); 0 = never.
  void SetExhaustedLimit(int calls) { exhaustedLimit_ = calls; }
  void SetHasMouse(bool present) { hasMouse_ = present; }
  bool MouseReporting() const { return mouseReporting_; }
  void Resize(int rows, int columns);

  // --- Reading back (tests) ---
  // The row's code page 850 bytes from `column` on, `length` cells (to the end when -1).
  std::string RowText(int row, int column = 1, int length = -1) const;
  // All rows, trailing blanks removed, joined with '\n'.
  std::string ScreenText() const;
  uint8_t AttributeAt(int row, int column) const { return ReadCell(row, column).attribute; }
  int Beeps() const { return beeps_; }
  const std::string& SentClipboard() const { return sentClipboard_; }

 private:
  int rows_, columns_;
  std::vector<Cell> cells_;
  int cursorRow_ = 1, cursorColumn_ = 1;
  bool cursorVisible_ = true;
  int cursorSize_ = 25;
  uint8_t attribute_ = 0x07;
  int beeps_ = 0;
  bool hasMouse_ = true;
  bool mouseReporting_ = false;
  std::deque<InputEvent> input_;
  std::function<void(MemoryConsole&)> idle_;
  int exhaustedLimit_ = 100000;
  int exhaustedCalls_ = 0;
  std::string sentClipboard_;
};

// The process-wide console: a MemoryConsole of 25 x 80 until another is installed.
Console& GetConsole();
// Installs `console` (not owned); nullptr puts the built-in memory console back.
void SetConsole(Console* console);
// The built-in memory console (the default one).
MemoryConsole& DefaultMemoryConsole();

// --- Terminal console ---

struct TerminalOptions {
  bool mouse = true;
  // A terminal smaller than this is refused (0: any size, clipped to the 80 x 25 model).
  int minimumRows = 0, minimumColumns = 0;
};
// Creates the ncursesw console on the process's terminal. Returns null (and writes the reason
// to *error) when standard input/output is not a terminal, the terminal type is unknown or
// cannot place the cursor (TERM=dumb), or the terminal is smaller than the options ask; the
// terminal is then left untouched.
// The terminal is restored when the object is destroyed, at exit and on fatal signals.
std::unique_ptr<Console> CreateTerminalConsole(const TerminalOptions& options, std::string* error);

// --- Code page 850 (with 0xD5 as the euro sign) ---

// The Unicode character a byte stands for. Bytes below 32 and 0x7F give the console glyphs
// (0x10 ►, 0x11 ◄ ...), as a text console draws them.
char32_t Cp850ToUnicode(uint8_t byte);
// The byte of a Unicode character; `fallback` when code page 850 has none.
uint8_t UnicodeToCp850(char32_t ch, uint8_t fallback = '?');
// Whole texts; control bytes stay controls in both directions. Invalid UTF-8 gives '?'.
std::string Cp850ToUtf8(const std::string& text);
std::string Utf8ToCp850(const std::string& text);

// --- Keyboard state ---

// The Insert toggle, kept for the whole process (the field editor reads it at every entry).
bool InsertToggle();
void SetInsertToggle(bool on);

// --- Clipboard ---

class Clipboard {
 public:
  virtual ~Clipboard() = default;
  // Code page 850 text. `fileDir` names the directory of the per-terminal clipboard file
  // (with its trailing separator). Read gives false when there is no clipboard text.
  virtual bool Read(const std::string& fileDir, std::string* text) = 0;
  virtual void Write(const std::string& fileDir, const std::string& text) = 0;
};

class MemoryClipboard : public Clipboard {
 public:
  bool Read(const std::string&, std::string* text) override;
  void Write(const std::string&, const std::string& text) override {
    text_ = text;
    set_ = true;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  bool set_ = false;
};

// The system clipboard: writes go to the per-terminal file "Clipboard.tmp", to the terminal
// (OSC 52 through the console) and to tmux when running inside it; reads come from tmux,
// wl-paste or xclip when present, else from the file.
Clipboard& SystemClipboard();
// The process-wide clipboard: the system one unless a test installed another.
Clipboard& GetClipboard();
void SetClipboard(Clipboard* clipboard);

}  // namespace kap
