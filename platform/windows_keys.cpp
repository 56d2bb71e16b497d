// Key records of the Windows console to the engine's console events: characters by their
// code page 850 byte, extended keys by the PC scan code the key tables use.
#include "platform/windows_keys.h"

namespace kap {

namespace {

constexpr uint8_t kScanTab = 0x0F, kScanF1 = 0x3B, kScanF11 = 0x85, kScanF12 = 0x86;

// Virtual keys without a character and the scan code the engine knows them by. Looked up by
// virtual key, not by the record's scan code: F11 and F12 carry 0x57 and 0x58 there, and
// consoles fed by a terminal (Wine) do not always fill the scan code in.
struct VirtualKeyScan {
  uint16_t virtualKey;
  uint8_t scan;
};
constexpr VirtualKeyScan kExtendedKeys[] = {
    {0x21, 0x49},  // PgUp
    {0x22, 0x51},  // PgDn
    {0x23, 0x4F},  // End
    {0x24, 0x47},  // Home
    {0x25, 0x4B},  // Left
    {0x26, 0x48},  // Up
    {0x27, 0x4D},  // Right
    {0x28, 0x50},  // Down
    {0x0C, 0x4C},  // keypad centre (Clear)
    {0x2D, 0x52},  // Ins
    {0x2E, 0x53},  // Del
};

// Scan codes of the keypad keys that type digits with Alt held (Ins 0 ... PgUp 9).
bool IsKeypadDigitScan(uint16_t scan) {
  switch (scan) {
    case 0x47:
    case 0x48:
    case 0x49:
    case 0x4B:
    case 0x4C:
    case 0x4D:
    case 0x4F:
    case 0x50:
    case 0x51:
    case 0x52:
      return true;
    default:
      return false;
  }
}

uint8_t ModifiersOf(uint32_t state) {
  uint8_t mods = 0;
  if (state & winkey::kShift) mods |= modifier::kShift;
  if (state & (winkey::kLeftCtrl | winkey::kRightCtrl)) mods |= modifier::kCtrl;
  if (state & winkey::kLeftAlt) mods |= modifier::kLeftAlt;
  if (state & winkey::kRightAlt) mods |= modifier::kRightAlt;
  return mods;
}

// The scan code of a key without a character, 0 when the engine has none for it.
uint8_t ExtendedScan(uint16_t virtualKey) {
  if (virtualKey >= winkey::kVkF1 && virtualKey < winkey::kVkF1 + 10)
    return static_cast<uint8_t>(kScanF1 + (virtualKey - winkey::kVkF1));
  if (virtualKey == winkey::kVkF11) return kScanF11;
  if (virtualKey == winkey::kVkF12) return kScanF12;
  for (const VirtualKeyScan& k : kExtendedKeys)
    if (k.virtualKey == virtualKey) return k.scan;
  return 0;
}

// A typed character as its code page 850 byte; false when the code page lacks it.
bool CharacterByte(char16_t ch, uint8_t* byte) {
  if (ch < 0x20 || ch == 0x7F) {
    *byte = static_cast<uint8_t>(ch);
    return true;
  }
  *byte = UnicodeToCp850(ch, 0);
  return *byte != 0;
}

}  // namespace

Decoded TranslateWinKey(const WinKeyRecord& record, AltKeypadState* state, InputEvent* event) {
  *event = InputEvent{};
  event->modifiers = ModifiersOf(record.controlState);
  const bool leftAltOnly = (event->modifiers & modifier::kLeftAlt) &&
                           !(event->modifiers & (modifier::kCtrl | modifier::kRightAlt));

  if (record.virtualKey == winkey::kVkMenu) {
    if (record.keyDown) {
      state->digitsDelivered = false;
      return Decoded::kIgnore;
    }
    // The Alt release carries the character the console composed from keypad digits. When
    // the digits reached the engine it composes the same character itself, from the release.
    const bool composed = record.unicodeChar != 0 && !state->digitsDelivered;
    state->digitsDelivered = false;
    if (composed && CharacterByte(record.unicodeChar, &event->character)) {
      event->modifiers &= static_cast<uint8_t>(~(modifier::kLeftAlt | modifier::kRightAlt));
      return Decoded::kEvent;
    }
    event->kind = InputEvent::Kind::kKeyUp;
    event->scan = scan::kAlt;
    return Decoded::kEvent;
  }
  if (!record.keyDown) return Decoded::kIgnore;
  if (record.virtualKey == winkey::kVkShift || record.virtualKey == winkey::kVkControl)
    return Decoded::kIgnore;

  // Keypad keys with Alt held are digits to compose, whatever NumLock makes of them.
  if (leftAltOnly && !(record.controlState & winkey::kEnhanced) &&
      IsKeypadDigitScan(record.scanCode) &&
      (record.unicodeChar == 0 || (record.unicodeChar >= '0' && record.unicodeChar <= '9'))) {
    state->digitsDelivered = true;
    event->scan = static_cast<uint8_t>(record.scanCode);
    event->modifiers = modifier::kLeftAlt;
    return Decoded::kEvent;
  }

  if (record.unicodeChar != 0) {
    if (record.virtualKey == winkey::kVkTab && (event->modifiers & modifier::kShift)) {
      event->scan = kScanTab;  // Shift+Tab is an extended key for the engine
      return Decoded::kEvent;
    }
    if (!CharacterByte(record.unicodeChar, &event->character)) return Decoded::kIgnore;
    event->scan = static_cast<uint8_t>(record.scanCode <= 0xFF ? record.scanCode : 0);
    if (event->scan == 0) event->scan = ScanCodeOfChar(event->character);
    return Decoded::kEvent;
  }

  event->scan = ExtendedScan(record.virtualKey);
  if (event->scan == 0) {
    // Ctrl or Alt with a key the console gives no character for (Alt+letter on some
    // consoles): the letter's own scan code still names it.
    if (record.virtualKey >= 'A' && record.virtualKey <= 'Z' &&
        (event->modifiers & (modifier::kLeftAlt | modifier::kRightAlt | modifier::kCtrl))) {
      const uint8_t letter = static_cast<uint8_t>(record.virtualKey - 'A' + 'a');
      if (event->modifiers & modifier::kCtrl) {
        event->character = static_cast<uint8_t>(letter - 'a' + 1);
      } else {
        event->character = letter;
      }
      event->scan = ScanCodeOfChar(letter);
      return Decoded::kEvent;
    }
    return Decoded::kIgnore;
  }
  return Decoded::kEvent;
}

}  // namespace kap
