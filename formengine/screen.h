// Screen layer of the console form engine: colour schemes, windows whose hidden cells are kept
// in "WinPush.tmp", frames, message boxes, text wrapping, the active key list and the field
// editor with its hot keys. Coordinates count from 1; while a window is open, row 1 and
// column 1 are the first cell inside its frame ("window-relative").
#pragma once

#include <cstdint>
#include <functional>
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

struct WindowRect {
  int16_t top = 0, left = 0, bottom = 0, right = 0;
};
// Depth 0 = no window open.
struct CurrentWindowState {
  int16_t depth = 0;
  WindowRect rect;
};
const CurrentWindowState& CurrentWindow();

void PushWindow(int16_t top, int16_t left, int16_t bottom, int16_t right);
void PopWindow();
// Empties the window stack file of the working directory: a program starts with no windows,
// whatever a killed run left behind.
void ClearWindowStack();
void DrawFrame(int16_t style);                  // 0 blank, 1 single line, 2 double line
void LocateInWindow(int16_t row, int16_t column);
void SetColour(const std::string& command);
void ShowMessage(int16_t row, const std::string& text);
// The message, the beep, keys typed ahead discarded, one key waited for, the box removed: how
// a refusal or a fatal error is told to the operator.
void ShowMessageAndWait(int16_t row, const std::string& text);
void WrapText(std::string& text, int16_t indent, int16_t width, const std::string& mode);
int16_t ScreenRows();
int16_t ScreenColumns();
int16_t WindowOriginRow();
int16_t WindowOriginColumn();
int16_t LastWindowColumn();
void ScrollRegion(int16_t top, int16_t left, int16_t bottom, int16_t right, int16_t lines);
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

void SetKeyList(const std::string& commands, const std::string& keys);
// The reported code for `key` in ActiveKeys; false when the list is not empty and lacks it.
bool LookupKey(int16_t key, int16_t* reported);
int16_t EchoChar();

// --- Field editor and keys ---

void EditField(int16_t& row, int16_t& column, int16_t wrap, std::string& text,
               int16_t& position, int16_t& key);
// Never waits: key = 0 and buttons = 0 when nothing is pending.
void ReadKey(int16_t& key, int16_t& buttons, int16_t& row, int16_t& column);
void WaitKey(int16_t& key);
void FlushKeys();
void SetFieldOptions(const std::string& options);
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
