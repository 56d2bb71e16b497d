// The one entry of keyboard and mouse input: console events to the engine's key codes, Alt +
// keypad digits, the modifier table and the hot keys of the calculator and the calendar.
#include "formengine/screen_state.h"

namespace kap {

namespace {

constexpr uint8_t kScanF1 = 0x3B, kScanF10 = 0x44, kScanF11 = 0x85, kScanF12 = 0x86;

// The digit a keypad key stands for with Alt held, -1 for other keys.
int KeypadDigit(const InputEvent& e) {
  if (e.kind != InputEvent::Kind::kKeyDown || e.character != 0) return -1;
  switch (e.scan) {
    case 0x52:
      return 0;  // Ins
    case 0x4F:
      return 1;  // End
    case 0x50:
      return 2;  // Down
    case 0x51:
      return 3;  // PgDn
    case 0x4B:
      return 4;  // Left
    case 0x4C:
      return 5;  // centre
    case 0x4D:
      return 6;  // Right
    case 0x47:
      return 7;  // Home
    case 0x48:
      return 8;  // Up
    case 0x49:
      return 9;  // PgUp
    default:
      return -1;
  }
}

bool NextEvent(InputEvent* event) {
  ScreenState& s = ScreenStateRef();
  if (s.pendingValid) {
    *event = s.pending;
    s.pendingValid = false;
    return true;
  }
  return GetConsole().ReadInput(event);
}

void PushBack(const InputEvent& event) {
  ScreenState& s = ScreenStateRef();
  s.pending = event;
  s.pendingValid = true;
}

int16_t KeyCode(const InputEvent& e) {
  const bool alt = (e.modifiers & (modifier::kLeftAlt | modifier::kRightAlt)) != 0;
  const bool ctrl = (e.modifiers & modifier::kCtrl) != 0;
  const bool shift = (e.modifiers & modifier::kShift) != 0;
  int code;
  const unsigned char ch = e.character;
  const bool letter = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
  if (letter && alt && !ctrl && e.scan != 0) {
    // Alt + letter is an extended key; Ctrl + Alt is AltGr typing a character.
    code = e.scan << 8;
  } else if (ch != 0) {
    code = ch;
  } else {
    int s = e.scan;
    if (s >= kScanF1 && s <= kScanF10) {
      if (alt)
        s += 0x2D;
      else if (ctrl)
        s += 0x23;
      else if (shift)
        s += 0x19;
    } else if (s == kScanF11 || s == kScanF12) {
      if (alt)
        s += 0x06;
      else if (ctrl)
        s += 0x04;
      else if (shift)
        s += 0x02;
    } else if (ctrl) {
      if (s == 0x47)
        s = 0x77;
      else if (s == 0x4D)
        s = 0x74;
      else if (s == 0x4B)
        s = 0x73;
    }
    code = s << 8;
  }
  if (code == static_cast<uint16_t>(key::kAltE)) code = 0xD5;
  return static_cast<int16_t>(static_cast<uint16_t>(code));
}

// Alt held with keypad digits: collects them until Alt is released, another key arrives (it
// is kept for the next call) or, where the console reports no releases, a pause.
int16_t ComposeDigits(int first) {
  Console& con = GetConsole();
  int number = first;
  for (;;) {
    InputEvent e;
    if (!NextEvent(&e)) {
      if (!con.WaitInput(1000)) break;
      continue;
    }
    if (e.kind == InputEvent::Kind::kKeyUp) {
      if (e.scan == scan::kAlt) break;
      continue;
    }
    int digit = KeypadDigit(e);
    if (digit >= 0 && (e.modifiers & modifier::kLeftAlt)) {
      number = (number * 10 + digit) % 256;
      continue;
    }
    if (e.kind == InputEvent::Kind::kMouse && e.buttons == 0) continue;
    PushBack(e);
    break;
  }
  return static_cast<int16_t>(number % 256);
}

void RunHotKey(int16_t code) {
  ScreenState& s = ScreenStateRef();
  bool* guard = code == key::kAltX   ? &s.calculatorOpen
                : code == key::kAltC ? &s.calendarOpen
                                     : nullptr;
  if (!guard || *guard || !s.hotKeys) return;
  *guard = true;
  HotKeyHandler handler = s.hotKeys;  // the pop-up may register another while it runs
  // The pop-up sets its own key list with "+" ... "-"; with a single save slot its "-" would
  // leave the field being edited with the list from before the form's "+". Keep the field's.
  auto keys = s.activeKeys, saved = s.savedKeys;
  bool keysSaved = s.keysSaved;
  int16_t echo = s.echoChar;
  std::string typed = handler(code);
  s.activeKeys = std::move(keys);
  s.savedKeys = std::move(saved);
  s.keysSaved = keysSaved;
  s.echoChar = echo;
  *guard = false;
  s.typeAhead = typed;
}

}  // namespace

void ReadKey(int16_t& key, int16_t& buttons, int16_t& row, int16_t& column) {
  key = 0;
  buttons = 0;
  ScreenState& s = ScreenStateRef();
  if (!s.typeAhead.empty()) {
    key = static_cast<unsigned char>(s.typeAhead[0]);
    s.typeAhead.erase(0, 1);
    return;
  }
  Console& con = GetConsole();
  if (s.mouse == ScreenState::Mouse::kUnknown)
    s.mouse = con.HasMouse() ? ScreenState::Mouse::kOff : ScreenState::Mouse::kNone;
  if (s.mouse == ScreenState::Mouse::kOff) {
    con.SetMouseReporting(true);
    s.mouse = ScreenState::Mouse::kOn;
  }
  InputEvent e;
  // Releases, resizes and mouse button releases carry nothing for the engine.
  for (;;) {
    if (!NextEvent(&e)) return;
    if (e.kind == InputEvent::Kind::kKeyDown) break;
    if (e.kind == InputEvent::Kind::kMouse && e.buttons != 0) break;
  }
  if (s.mouse == ScreenState::Mouse::kOn) {
    con.SetMouseReporting(false);
    s.mouse = ScreenState::Mouse::kOff;
  }
  if (e.kind == InputEvent::Kind::kMouse) {
    buttons = e.buttons;
    row = e.row;
    column = e.column;
    return;
  }
  int digit = KeypadDigit(e);
  if (digit >= 0 && (e.modifiers & modifier::kLeftAlt)) {
    key = ComposeDigits(digit);
    return;
  }
  key = KeyCode(e);
  if (key == key::kAltX || key == key::kAltC) RunHotKey(key);
}

void WaitKey(int16_t& key) {
  Console& con = GetConsole();
  for (;;) {
    int16_t buttons = 0, row = 0, column = 0;
    ReadKey(key, buttons, row, column);
    if (key != 0) return;
    if (buttons != 0) {
      key =
          static_cast<int16_t>(static_cast<uint16_t>((column * 256 + buttons * 64 + row) & 0xFFFF));
      return;
    }
    RunIdleHandler();
    con.Refresh();
    con.WaitInput(100);
  }
}

void FlushKeys() {
  ScreenStateRef().pendingValid = false;
  GetConsole().FlushInput();
}

std::string& TypeAhead() { return ScreenStateRef().typeAhead; }

void SetHotKeyHandler(HotKeyHandler handler) { ScreenStateRef().hotKeys = std::move(handler); }

void SetIdleHandler(IdleHandler handler) { ScreenStateRef().idle = std::move(handler); }

void RunIdleHandler() {
  // A copy: the handler may register another one while it runs.
  IdleHandler handler = ScreenStateRef().idle;
  if (handler) handler();
}

}  // namespace kap
