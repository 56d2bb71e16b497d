// Windows console key records turned into console key events. Pure and free of Windows' own
// headers, so the translation is tested on every platform; the Windows console feeds it.
#pragma once

#include <cstdint>

#include "platform/console.h"
#include "platform/console_keys.h"

namespace kap {

// The fields of a KEY_EVENT_RECORD that the translation reads.
struct WinKeyRecord {
  bool keyDown = true;
  uint16_t virtualKey = 0;    // VK_* code
  uint16_t scanCode = 0;      // hardware scan code
  char16_t unicodeChar = 0;   // the character typed, 0 for none
  uint32_t controlState = 0;  // winkey:: bits (dwControlKeyState)
};

// dwControlKeyState bits and the virtual-key codes the translation names.
namespace winkey {
constexpr uint32_t kRightAlt = 0x0001, kLeftAlt = 0x0002, kRightCtrl = 0x0004, kLeftCtrl = 0x0008,
                   kShift = 0x0010, kEnhanced = 0x0100;
constexpr uint16_t kVkTab = 0x09, kVkShift = 0x10, kVkControl = 0x11, kVkMenu = 0x12, kVkF1 = 0x70,
                   kVkF11 = 0x7A, kVkF12 = 0x7B;
}  // namespace winkey

// What a run of records has shown about Alt + keypad entry: whether the digit keys reached
// the engine (it then composes the character itself) or only the console's composed result
// will (on the Alt release).
struct AltKeypadState {
  bool digitsDelivered = false;
};

// One key record to at most one event: kIgnore for lone modifier keys, releases other than
// Alt's, and characters code page 850 lacks.
Decoded TranslateWinKey(const WinKeyRecord& record, AltKeypadState* state, InputEvent* event);

}  // namespace kap
