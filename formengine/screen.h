// Screen layer of the console form engine: colour schemes, windows whose hidden cells are kept
// in "WinPush.tmp", frames, message boxes, text wrapping, the active key list and the field
// editor with its hot keys. Coordinates count from 1; while a window is open, row 1 and
// column 1 are the first cell inside its frame ("window-relative").
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

namespace kap {

// Key codes: characters are their code page 850 code, extended keys scan code x 256,
// mouse clicks negative.
namespace key {
constexpr int16_t kLeaveForm = 0x02;  // Ctrl+B
constexpr int16_t kCtrlC = 0x03;
constexpr int16_t kBackspace = 0x08;
constexpr int16_t kTab = 0x09;
constexpr int16_t kEnter = 0x0D;
constexpr int16_t kCtrlV = 0x16;
constexpr int16_t kCtrlY = 0x19;
constexpr int16_t kEsc = 0x1B;
constexpr int16_t kSpace = 0x20;
constexpr int16_t kShiftTab = 0x0F00;
constexpr int16_t kAltE = 0x1200;
constexpr int16_t kAltF = 0x2100;
constexpr int16_t kAltX = 0x2D00;
constexpr int16_t kAltC = 0x2E00;
constexpr int16_t kF1 = 0x3B00;
constexpr int16_t kF2 = 0x3C00;
constexpr int16_t kF4 = 0x3E00;
constexpr int16_t kF10 = 0x4400;
constexpr int16_t kHome = 0x4700;
constexpr int16_t kUp = 0x4800;
constexpr int16_t kPgUp = 0x4900;
constexpr int16_t kLeft = 0x4B00;
constexpr int16_t kCentre = 0x4C00;
constexpr int16_t kRight = 0x4D00;
constexpr int16_t kEnd = 0x4F00;
constexpr int16_t kDown = 0x5000;
constexpr int16_t kPgDn = 0x5100;
constexpr int16_t kIns = 0x5200;
constexpr int16_t kDel = 0x5300;
constexpr int16_t kShiftF1 = 0x5400;
constexpr int16_t kCtrlF1 = 0x5E00;
constexpr int16_t kCtrlF4 = 0x6100;
constexpr int16_t kAltF1 = 0x6800;
constexpr int16_t kAltF4 = 0x6B00;
constexpr int16_t kCtrlLeft = 0x7300;
constexpr int16_t kCtrlRight = 0x7400;
constexpr int16_t kCtrlHome = 0x7700;
constexpr int16_t kF11 = static_cast<int16_t>(0x8500);
constexpr int16_t kF12 = static_cast<int16_t>(0x8600);
}  // namespace key

// --- Screen primitives ---

// A rectangle in screen coordinates, the frame included.
struct WindowRect {
  int16_t top = 0, left = 0, bottom = 0, right = 0;
};
// Depth 0 = no window open; rect is the open window's frame in screen coordinates.
struct CurrentWindowState {
  int16_t depth = 0;
  WindowRect rect;
};
const CurrentWindowState& CurrentWindow();

// Opens a window on the frame rectangle (screen coordinates): the covered cells and the
// cursor are saved in the working folder's "WinPush.tmp" and the window becomes current. A
// rectangle outside the screen, reversed, or past row or column 99 is ignored (the depth
// stays as it was: compare CurrentWindow().depth to know). Nothing is drawn; see DrawFrame.
void PushWindow(int16_t top, int16_t left, int16_t bottom, int16_t right);
// Closes the current window: its cells and the cursor come back as they were. No effect
// with no window open.
void PopWindow();
// Empties the window stack file of the working directory: a program starts with no windows,
// whatever a killed run left behind.
void ClearWindowStack();
// Frame styles of DrawFrame.
constexpr int16_t kFrameBlank = 0;
constexpr int16_t kFrameSingle = 1;
constexpr int16_t kFrameDouble = 2;
// Draws the current window's frame in the current colour and blanks its inside; no effect
// with no window open. Any other style draws blank.
void DrawFrame(int16_t style);
// Puts the cursor at the window-relative (row, column).
void LocateInWindow(int16_t row, int16_t column);
// Selects the colour pair of the terminal's scheme by letters (any case): "U" the field being
// edited, "R" reverse, "N" emphasis, "RN" both, none of them plain; "+" first saves the
// current pair, "-" restores the last saved one (plain when none). A blank command does
// nothing. E.g. "+rh" saves and selects reverse, "-" goes back.
void SetColour(const std::string& command);
// Opens a window centred on screen `row` holding `text` wrapped to 76 columns in a reverse
// frame, and leaves it open: the caller closes it with PopWindow.
void ShowMessage(int16_t row, const std::string& text);
// The message, the beep, keys typed ahead discarded, one key waited for, the box removed: how
// a refusal or a fatal error is told to the operator.
void ShowMessageAndWait(int16_t row, const std::string& text);
// Rewrites `text` as lines of exactly `width` characters laid end to end, breaking at blanks
// where it can (control bytes below 32 take no room). indent > 0 indents the first line,
// indent < 0 the following ones. Mode (first letter, any case): "E", "L" or "I" pads on the
// right, "N" pads with "-", "D" or "R" aligns right, "C" centres, "A" or "B" justifies every
// line but the last; anything else leaves lines short.
void WrapText(std::string& text, int16_t indent, int16_t width, const std::string& mode);
// The console's size in cells.
int16_t ScreenRows();
int16_t ScreenColumns();
// Screen row and column of the current window's cell (1, 1): inside its frame, or (1, 1) of
// the screen with no window open.
int16_t WindowOriginRow();
int16_t WindowOriginColumn();
// Last screen column inside the current window (the screen's last with no window).
int16_t LastWindowColumn();
// Scrolls the rectangle given counting from 0 by `lines` (up when positive), filling with
// blanks in the current colour.
void ScrollRegion(int16_t top, int16_t left, int16_t bottom, int16_t right, int16_t lines);
// The last `digits` digits of `number`, zeros in front: ZeroPad(7, 2) is "07"; "" for
// digits <= 0.
std::string ZeroPad(int32_t number, int16_t digits);

// Writes code page 850 text at the cursor in the current colour; the cursor moves after it.
void WriteText(const std::string& text);
// Clears the whole screen in the current colour and puts the cursor at (1, 1).
void ClearScreen();
// Sounds the console beep.
void Beep();
// Shows or hides the console cursor.
void ShowCursor(bool visible);

// --- Active key list ---

// The active key list says which ending keys EditField returns with; empty, it returns with
// every key. `commands` is read letter by letter (any case):
//   "+" saves the list (once: a second "+" before "-" keeps the first save), "-" restores it;
//   "e" empties the list; "a" adds every item of `keys`; "d" deletes each item's key;
//   "h" makes EditField echo "X" for each character typed (hidden entry), "v" shows them again.
// `keys` is a comma-separated list of hexadecimal key codes, an item "k=m" reporting key k as
// m; build it from named keys with KeyList. E.g. SetKeyList("+ea", KeyList({key::kEnter}))
// ... SetKeyList("-", "").
void SetKeyList(const std::string& commands, const std::string& keys);
// The `keys` text of SetKeyList for these key codes, in order: KeyList({key::kEnter,
// key::kEsc}) is "d,1b".
std::string KeyList(std::initializer_list<int16_t> keys);
// The reported code for `key` in the active key list; false when the list is not empty and
// lacks it.
bool LookupKey(int16_t key, int16_t* reported);
// The character hidden entry echoes ("X"), 0 while typed characters are shown.
int16_t EchoChar();

// --- Field editor and keys ---

// Lets the operator edit `text` in place at the window-relative (row, column) (0 for either:
// the cursor's, written back) until an ending key the active key list accepts; the field is
// as wide as `text` is long, shown in lines of `wrap` characters (0: one line). `position`
// (from 1) is where the cursor starts, and where it ended on return. `key` returns the
// ending key as the key list reports it (Tab ends as Enter, Shift+Tab as Up, Ctrl+F4 and
// Alt+F4 as Esc, Enter as End when End is listed). A click inside the field moves the cursor;
// one outside ends, reported as its negative code -(column * 100 + row) whatever the list.
// With options set (SetFieldOptions) the field is a choice: Left, Right and Space step through
// them and `text` receives the chosen code. Alt+X and Alt+C type what the hot-key handler
// gives; Ctrl+C and Ctrl+V copy and paste through the clipboard.
void EditField(int16_t& row, int16_t& column, int16_t wrap, std::string& text, int16_t& position,
               int16_t& key);
// Never waits: key = 0 and buttons = 0 when nothing is pending. A mouse button press gives
// buttons != 0 with the screen row and column; keys come as the codes of namespace key.
void ReadKey(int16_t& key, int16_t& buttons, int16_t& row, int16_t& column);
// Waits for one key or mouse press, running the idle handler meanwhile; a press comes as the
// code column * 256 + buttons * 64 + row, cut to 16 bits.
void WaitKey(int16_t& key);
// Discards every key typed ahead.
void FlushKeys();
// The choices of the next EditField calls, "|code,text|code,text" ("" for free text). The
// field shows the text of the option whose code (padded to the field) equals its value,
// else the first.
void SetFieldOptions(const std::string& options);
// Code page 850 text upper-cased for comparison (accented letters to their capitals). With
// folding on (SetFoldMode) accents are dropped too and other bytes of 0x40 .. 0xED become
// blanks.
std::string FoldText(const std::string& text);
void SetFoldMode(bool folding);
// Characters handed out by ReadKey before the console is read (pop-up results).
std::string& TypeAhead();

// Handler of the calculator (Alt+X) and calendar (Alt+C) hot keys, registered by the program;
// returns the text to type into the field. Without a handler the hot key passes through.
using HotKeyHandler = std::function<std::string(int16_t hotKey)>;
void SetHotKeyHandler(HotKeyHandler handler);

// Called about every tenth of a second while the engine sits waiting for a key (the field
// editor, WaitKey), so that a layer above can keep work alive meanwhile: the lock files renew
// the entries the program holds through it. It must return quickly and never wait.
using IdleHandler = std::function<void()>;
void SetIdleHandler(IdleHandler handler);
// Runs the registered idle handler, if any (for other loops that wait on input).
void RunIdleHandler();

// Puts every process-wide state of the screen layer back to its start (tests).
void ResetScreenState();

}  // namespace kap
