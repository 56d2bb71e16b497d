// The console on a real terminal through ncursesw. The class keeps its own cell grid as the
// truth (so any cell can be read back and windows can be restored) and draws it lazily; the
// grid is 80 x 25 whatever the terminal's size, clipped when the terminal is smaller.
#include "platform/console.h"
#include "platform/console_keys.h"

#include <curses.h>
#include <langinfo.h>
#include <unistd.h>

#include <signal.h>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>

namespace kap {

void ScrollCells(std::vector<Cell>& cells, int rows, int columns, int top, int left, int bottom,
                 int right, int lines, Cell fill);
std::string UnusableTerminal(int minimumRows, int minimumColumns);

namespace {

// Set while curses owns the terminal, so exit and fatal signals can give it back.
volatile std::sig_atomic_t gCursesActive = 0;
bool gMetaSent = false;

void RestoreTerminal() {
  if (!gCursesActive) return;
  gCursesActive = 0;
  const char* se = tigetstr(const_cast<char*>("Se"));
  if (se && se != reinterpret_cast<char*>(-1)) putp(se);
  if (gMetaSent) std::fputs("\x1b[?1036l", stdout);
  curs_set(1);
  endwin();
  std::fflush(stdout);
}

constexpr int kFatalSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGSEGV,
                                 SIGABRT, SIGBUS, SIGFPE, SIGILL};
struct sigaction gPreviousAction[NSIG];

// Gives the terminal back, then hands the signal to whoever had it before (by default the
// signal ends the process as if we had never been there).
void OnFatalSignal(int sig) {
  RestoreTerminal();
  sigaction(sig, &gPreviousAction[sig], nullptr);
  raise(sig);
}

void InstallFatalSignalHandlers() {
  for (int sig : kFatalSignals) {
    struct sigaction previous {};
    if (sigaction(sig, nullptr, &previous) != 0) continue;
    // A signal the caller chose to ignore (nohup's SIGHUP) stays ignored.
    if (previous.sa_handler == SIG_IGN) continue;
    gPreviousAction[sig] = previous;
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

bool HasCapability(const char* name) {
  const char* s = tigetstr(const_cast<char*>(name));
  return s && s != reinterpret_cast<char*>(-1);
}

std::string Base64(const std::string& in) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = (static_cast<uint8_t>(in[i]) << 16) | (static_cast<uint8_t>(in[i + 1]) << 8) |
                 static_cast<uint8_t>(in[i + 2]);
    for (int k = 3; k >= 0; --k) out.push_back(kAlphabet[(v >> (6 * k)) & 63]);
  }
  if (i < in.size()) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

class TerminalConsole : public Console {
 public:
  TerminalConsole(SCREEN* screen, const TerminalOptions& options) : screen_(screen) {
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    scrollok(stdscr, FALSE);
    if (has_colors()) {
      start_color();
      SetUpColours();
    }
    // The suite's screens are laid out for 80 x 25 (message boxes centre on column 41, the
    // window stack records two-digit coordinates): keep that model on any terminal.
    rows_ = 25;
    columns_ = 80;
    cells_.assign(static_cast<size_t>(rows_) * columns_, Cell{});
    dirty_.assign(static_cast<size_t>(rows_), true);
    if (options.mouse) {
      mmask_t mask = BUTTON1_PRESSED | BUTTON1_RELEASED | BUTTON1_CLICKED | BUTTON3_PRESSED |
                     BUTTON3_RELEASED | BUTTON3_CLICKED;
      hasMouse_ = mousemask(mask, nullptr) != 0;
      mouseinterval(0);
    }
    SetUpKeys();
    // Mouse reports are decoded here: curses reads the rest of one with blocking reads, so a
    // report cut short would freeze input and swallow the keys after it.
    keyok(KEY_MOUSE, FALSE);
    const char* term = std::getenv("TERM");
    if (term && std::strncmp(term, "xterm", 5) == 0) {
      // Alt+key as ESC + key rather than with the eighth bit set.
      std::fputs("\x1b[?1036h", stdout);
      gMetaSent = true;
    }
    hasShape_ = HasCapability("Ss");
    gCursesActive = 1;
    Refresh();
  }

  ~TerminalConsole() override {
    RestoreTerminal();
    if (screen_) delscreen(screen_);
  }

  int Rows() const override { return rows_; }
  int Columns() const override { return columns_; }

  void SetCursor(int row, int column) override {
    cursorRow_ = std::clamp(row, 1, rows_);
    cursorColumn_ = std::clamp(column, 1, columns_);
    cursorMoved_ = true;
  }
  int CursorRow() const override { return cursorRow_; }
  int CursorColumn() const override { return cursorColumn_; }
  void SetCursorVisible(bool visible) override {
    if (visible != cursorVisible_) cursorMoved_ = true;
    cursorVisible_ = visible;
  }
  bool CursorVisible() const override { return cursorVisible_; }
  void SetCursorSize(int percent) override {
    percent = std::clamp(percent, 1, 100);
    if (percent != cursorSize_) shapeChanged_ = true;
    cursorSize_ = percent;
  }
  int CursorSize() const override { return cursorSize_; }
  void SetAttribute(uint8_t attribute) override { attribute_ = attribute; }
  uint8_t Attribute() const override { return attribute_; }

  void Write(const std::string& text) override {
    for (unsigned char ch : text) {
      Put(cursorRow_, cursorColumn_, Cell{ch, attribute_});
      if (cursorColumn_ < columns_) {
        ++cursorColumn_;
      } else if (cursorRow_ < rows_) {
        cursorColumn_ = 1;
        ++cursorRow_;
      } else {
        break;
      }
    }
    cursorMoved_ = true;
  }

  Cell ReadCell(int row, int column) const override {
    if (row < 1 || row > rows_ || column < 1 || column > columns_) return Cell{};
    return cells_[Index(row, column)];
  }
  void PutCell(int row, int column, Cell cell) override { Put(row, column, cell); }

  void ScrollRect(int top, int left, int bottom, int right, int lines, Cell fill) override {
    ScrollCells(cells_, rows_, columns_, top, left, bottom, right, lines, fill);
    for (int r = std::max(1, top); r <= std::min(rows_, bottom); ++r) dirty_[r - 1] = true;
  }

  void Beep() override {
    Refresh();
    if (gCursesActive) beep();
  }

  bool ReadInput(InputEvent* event) override {
    if (!gCursesActive) return false;  // suspended: the terminal belongs to another program
    Refresh();
    if (queue_.empty()) Pump(0);
    while (!queue_.empty()) {
      InputEvent e = queue_.front();
      queue_.pop_front();
      if (e.kind == InputEvent::Kind::kMouse && !mouseReporting_) continue;
      *event = e;
      return true;
    }
    return false;
  }

  bool WaitInput(int milliseconds) override {
    if (!gCursesActive) return false;
    Refresh();
    if (queue_.empty()) Pump(std::max(0, milliseconds));
    return !queue_.empty();
  }

  void FlushInput() override {
    queue_.clear();
    flushinp();
  }
  bool ReportsKeyRelease() const override { return false; }
  bool HasMouse() const override { return hasMouse_; }
  // Kept in software: switching the terminal's reporting for every key would flood it.
  void SetMouseReporting(bool on) override { mouseReporting_ = on; }

  void Refresh() override {
    if (!gCursesActive) return;  // drawn again in full on Resume
    bool any = cursorMoved_ || shapeChanged_;
    int visibleRows = std::min(rows_, LINES), visibleColumns = std::min(columns_, COLS);
    for (int r = 1; r <= rows_; ++r) {
      if (!dirty_[r - 1]) continue;
      dirty_[r - 1] = false;
      if (r > visibleRows) continue;
      any = true;
      for (int c = 1; c <= visibleColumns; ++c) Draw(r, c, cells_[Index(r, c)]);
    }
    if (!any) return;
    bool cursorOnScreen = cursorRow_ <= visibleRows && cursorColumn_ <= visibleColumns;
    curs_set(cursorVisible_ && cursorOnScreen ? 1 : 0);
    if (cursorOnScreen) move(cursorRow_ - 1, cursorColumn_ - 1);
    refresh();
    if (shapeChanged_ && hasShape_) {
      // Steady underline for small cursors, steady block otherwise.
      putp(tiparm(tigetstr(const_cast<char*>("Ss")), cursorSize_ <= 50 ? 4 : 2));
      std::fflush(stdout);
    }
    shapeChanged_ = false;
    cursorMoved_ = false;
  }

  void Suspend() override {
    if (!gCursesActive) return;
    Refresh();
    RestoreTerminal();
  }

  void Resume() override {
    if (gCursesActive) return;
    gCursesActive = 1;
    if (gMetaSent) std::fputs("\x1b[?1036h", stdout);
    clearok(stdscr, TRUE);
    std::fill(dirty_.begin(), dirty_.end(), true);
    cursorMoved_ = shapeChanged_ = true;
    Refresh();
  }

  void SendClipboard(const std::string& utf8) override {
    std::string seq = "\x1b]52;c;" + Base64(utf8) + "\x07";
    std::fwrite(seq.data(), 1, seq.size(), stdout);
    std::fflush(stdout);
  }

 private:
  size_t Index(int row, int column) const {
    return static_cast<size_t>(row - 1) * columns_ + (column - 1);
  }

  void Put(int row, int column, Cell cell) {
    if (row < 1 || row > rows_ || column < 1 || column > columns_) return;
    Cell& target = cells_[Index(row, column)];
    if (target == cell) return;
    target = cell;
    dirty_[row - 1] = true;
  }

  void SetUpColours() {
    // Console colour order (blue = 1) to curses order (red = 1).
    static const int kMap[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    fullColour_ = COLORS >= 16 && COLOR_PAIRS >= 257;
    if (fullColour_) {
      for (int bg = 0; bg < 16; ++bg)
        for (int fg = 0; fg < 16; ++fg)
          init_extended_pair(1 + bg * 16 + fg, kMap[fg & 7] + (fg & 8), kMap[bg & 7] + (bg & 8));
      return;
    }
    // Eight colours in 64 pairs: pair 0 is fixed as white on black, so number the pairs so
    // that exactly that combination falls on 0.
    eightColour_ = COLORS >= 8 && COLOR_PAIRS >= 64;
    if (eightColour_) {
      for (int bg = 0; bg < 8; ++bg)
        for (int fg = 0; fg < 8; ++fg) {
          int pair = EightColourPair(fg, bg);
          if (pair != 0)
            init_pair(static_cast<short>(pair), static_cast<short>(kMap[fg]),
                      static_cast<short>(kMap[bg]));
        }
    }
  }

  static int EightColourPair(int fg, int bg) { return bg * 8 + (fg ^ 7); }

  void Draw(int row, int column, Cell cell) {
    wchar_t text[2] = {static_cast<wchar_t>(Cp850ToUnicode(cell.character)), 0};
    if (cell.character == 0xF0) text[0] = L'-';  // some terminals draw SHY with no width
    if (cell.character == 0) text[0] = L' ';
    int fg = cell.attribute & 0x0F, bg = cell.attribute >> 4;
    attr_t attrs = A_NORMAL;
    int pair = 0;
    if (fullColour_) {
      pair = 1 + bg * 16 + fg;
    } else if (eightColour_) {
      // Bright backgrounds are lost; a bright foreground is drawn bold.
      pair = EightColourPair(fg & 7, bg & 7);
      if (fg & 8) attrs |= A_BOLD;
    } else if (bg > fg) {
      attrs |= A_REVERSE;
    }
    cchar_t cc;
    setcchar(&cc, text, attrs, 0, &pair);
    mvadd_wch(row - 1, column - 1, &cc);  // the bottom-right cell reports ERR but is drawn
  }

  void SetUpKeys() {
    int next = 0x1000;
    for (const KeySequence& ks : ModifiedKeySequences()) {
      int code = key_defined(ks.bytes.c_str());
      if (code == 0) {
        code = next++;
        if (define_key(ks.bytes.c_str(), code) != OK) continue;
      }
      if (code > 0) customKeys_.emplace(code, ks.event);
    }
  }

  void AddKeyCode(int code, bool alt) {
    if (code == KEY_RESIZE) {
      // The grid keeps its size; whatever fits is drawn again.
      clearok(stdscr, TRUE);
      std::fill(dirty_.begin(), dirty_.end(), true);
      cursorMoved_ = true;
      InputEvent e;
      e.kind = InputEvent::Kind::kResize;
      queue_.push_back(e);
      return;
    }
    if (code == KEY_MOUSE) {
      MEVENT m;
      while (getmouse(&m) == OK) AddMouse(m);
      return;
    }
    InputEvent e;
    auto it = customKeys_.find(code);
    if (it != customKeys_.end())
      e = it->second;
    else if (DecodeCursesKey(code, &e) != Decoded::kEvent)
      return;
    if (alt) e.modifiers |= modifier::kLeftAlt;
    queue_.push_back(e);
  }

  void AddMouse(const MEVENT& m) {
    InputEvent e;
    e.kind = InputEvent::Kind::kMouse;
    e.row = static_cast<int16_t>(m.y + 1);
    e.column = static_cast<int16_t>(m.x + 1);
    if (m.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))
      e.buttons = mouse::kLeft;
    else if (m.bstate & (BUTTON3_PRESSED | BUTTON3_CLICKED))
      e.buttons = mouse::kRight;
    else if (!(m.bstate & (BUTTON1_RELEASED | BUTTON3_RELEASED)))
      return;
    queue_.push_back(e);
    if (m.bstate & (BUTTON1_CLICKED | BUTTON3_CLICKED)) {
      e.buttons = 0;
      queue_.push_back(e);
    }
  }

  void AddChar(char32_t ch, bool alt) {
    InputEvent e;
    if (DecodeTerminalChar(ch, alt, &e) == Decoded::kEvent) queue_.push_back(e);
  }

  // The next byte or key code when it comes within `milliseconds`, else ERR. The pieces of
  // one key arrive together, so a short wait is enough and input never stalls on a lost byte.
  static int ReadWithin(int milliseconds) {
    wtimeout(stdscr, milliseconds);
    int r = wgetch(stdscr);
    nodelay(stdscr, TRUE);
    return r;
  }

  // Gives bytes back to be read again as input of their own, first byte first.
  static void GiveBack(const std::string& bytes, size_t from) {
    for (size_t i = bytes.size(); i > from; --i) ungetch(static_cast<unsigned char>(bytes[i - 1]));
  }

  // Reads the rest of the UTF-8 character that `first` starts. Bytes are decoded here rather
  // than by curses, which drops everything after an invalid byte in the same read.
  void AddCharFrom(int first, bool alt) {
    std::string bytes(1, static_cast<char>(first));
    char32_t ch = 0;
    int used = 0;
    while ((used = DecodeUtf8(bytes, &ch)) == 0) {
      int r = ReadWithin(kPieceWaitMs);
      if (r == ERR) break;
      if (r > 0xFF) {
        ungetch(r);
        break;
      }
      bytes.push_back(static_cast<char>(r));
    }
    if (used == 0) {  // cut short: the lead byte stands for itself
      used = 1;
      ch = static_cast<unsigned char>(bytes[0]);
    }
    GiveBack(bytes, static_cast<size_t>(used));
    AddChar(ch, alt);
  }

  // Reads everything the terminal has sent; waits up to `timeoutMs` for the first piece.
  void Pump(int timeoutMs) {
    int r = timeoutMs > 0 ? ReadWithin(timeoutMs) : wgetch(stdscr);
    for (; r != ERR; r = wgetch(stdscr)) {
      if (r > 0xFF) {
        AddKeyCode(r, false);
        continue;
      }
      if (r != 0x1B) {
        AddCharFrom(r, false);
        continue;
      }
      // ESC: alone it is the Esc key; followed by more it is Alt + that, or a sequence that
      // curses did not know.
      int next = wgetch(stdscr);
      if (next == ERR) {
        AddChar(0x1B, false);
      } else if (next > 0xFF) {
        if (next == KEY_MOUSE || next == KEY_RESIZE) {
          AddChar(0x1B, false);
          AddKeyCode(next, false);
        } else {
          AddKeyCode(next, true);
        }
      } else if (next == 0x1B) {
        AddChar(0x1B, false);
        ungetch(0x1B);
      } else if (next == '[' || next == 'O') {
        ReadSequence(static_cast<char>(next));
      } else {
        AddCharFrom(next, true);
      }
    }
  }

  void ReadSequence(char introducer) {
    std::string bytes = std::string("\x1b") + introducer;
    for (;;) {
      int length = EscapeSequenceLength(bytes);
      if (length > 0) {
        InputEvent e;
        if (DecodeEscapeSequence(bytes, &e) == Decoded::kEvent) queue_.push_back(e);
        return;
      }
      int r = length < 0 ? ERR : ReadWithin(kPieceWaitMs);
      if (r != ERR && r <= 0xFF) {
        bytes.push_back(static_cast<char>(r));
        continue;
      }
      // Not a whole sequence. The start of a mouse report is dropped, since no key begins so;
      // otherwise it was Alt + the introducer. What followed is read again as keys of its own.
      if (r > 0xFF) ungetch(r);
      const bool mouseReport = bytes.size() >= 3 && (bytes[2] == 'M' || bytes[2] == '<');
      if (!mouseReport) AddChar(static_cast<unsigned char>(introducer), true);
      // Of a broken report only the byte that broke it is given back.
      GiveBack(bytes, !mouseReport ? 2 : length < 0 ? bytes.size() - 1 : bytes.size());
      return;
    }
  }

  // How long the rest of a key's bytes may take to arrive once its first byte has.
  static constexpr int kPieceWaitMs = 25;

  SCREEN* screen_;
  int rows_ = 25, columns_ = 80;
  std::vector<Cell> cells_;
  std::vector<bool> dirty_;
  int cursorRow_ = 1, cursorColumn_ = 1;
  bool cursorVisible_ = true;
  int cursorSize_ = 25;
  bool cursorMoved_ = true, shapeChanged_ = false;
  bool hasShape_ = false;
  uint8_t attribute_ = 0x07;
  bool fullColour_ = false, eightColour_ = false;
  bool hasMouse_ = false, mouseReporting_ = false;
  std::deque<InputEvent> queue_;
  std::map<int, InputEvent> customKeys_;
};

}  // namespace

std::unique_ptr<Console> CreateTerminalConsole(const TerminalOptions& options, std::string* error) {
  if (gCursesActive) {
    if (error) *error = "the terminal console is already open";
    return nullptr;
  }
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    if (error) *error = "standard input and output must be a terminal";
    return nullptr;
  }
  std::setlocale(LC_ALL, "");
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
  // Checked on the terminal description alone, before curses writes anything to the terminal.
  std::string unusable = UnusableTerminal(options.minimumRows, options.minimumColumns);
  if (!unusable.empty()) {
    if (error) *error = unusable;
    return nullptr;
  }
  set_escdelay(25);
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (!screen) {
    if (error) *error = "unknown terminal type (TERM)";
    return nullptr;
  }
  set_term(screen);
  static bool handlersInstalled = false;
  if (!handlersInstalled) {
    handlersInstalled = true;
    std::atexit(RestoreTerminal);
    InstallFatalSignalHandlers();
  }
  return std::make_unique<TerminalConsole>(screen, options);
}

}  // namespace kap
