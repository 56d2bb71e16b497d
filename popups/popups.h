// Pop-up calculator (Alt+X) and calendar (Alt+C), opened from any field.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kap {

// Returns the chosen value in hundredths as text, or "" after Esc.
std::string PopupCalculator();
// Returns the chosen date as text (style 0, "dma"), or "" after Esc.
std::string PopupCalendar();

// --- Calculator state, kept between pop-ups in "KAPCALC.TMP" in the terminal directory ---

struct TapeLine {
  double Value = 0;
  int16_t HasPoint = 0;  // truth value: -1 true, 0 false
  int16_t Decimals = 0;
  std::string Operator;  // one character, or empty for a result line
};

struct CalculatorState {
  int16_t WindowColumn = 1;    // left screen column of the window, 1 to 55
  int16_t FirstTapeLine = 23;  // oldest tape slot in use; 23 = empty tape, 2 at least
  double Entry = 0;
  double Accumulator = 0;
  int16_t ClearedOnce = -1;
  int16_t EntryStarted = 0;
  int16_t HasPoint = 0;
  int16_t Decimals = 0;
  std::string LastKey;
  std::string PendingOperator;  // "+", "-", "*", "/" or ""
  // Slots 1 to 22 (22 the newest); index 0 is not used.
  std::array<TapeLine, 23> Tape;
};

// The state as stored: CR LF lines of comma-separated items, numbers without leading space,
// texts in double quotes.
std::string CalculatorStateText(const CalculatorState& state);
// Reads what CalculatorStateText writes. Empty text gives the initial state; false (and the
// initial state) when the text is damaged: an item that does not parse, a record cut short, or
// a value the calculator could not have stored (out of range, infinite, unknown operator).
bool ParseCalculatorState(const std::string& text, CalculatorState* state);
// The state file of this terminal (TerminalDir + "KAPCALC.TMP"), created empty when missing.
// A missing, empty or damaged file gives the initial state.
CalculatorState LoadCalculatorState();
// Rewrites the state file whole; false when it cannot be written.
bool SaveCalculatorState(const CalculatorState& state);

// --- Hot keys ---

// Runs the calculator for Alt+X and the calendar for Alt+C; "" for any other key.
std::string PopupHotKey(int16_t hotKey);
// Registers PopupHotKey as the field editor's hot-key handler (SetHotKeyHandler).
void RegisterPopupHotKeys();

}  // namespace kap
