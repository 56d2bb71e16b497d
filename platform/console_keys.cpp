// Key decoding: tables from terminal input to console key events and back from engine codes.
#include "platform/console_keys.h"

#ifndef _WIN32  // the Windows console has no curses: it decodes its own key records
#include <curses.h>
#endif

#include <cctype>
#include <cstdlib>

namespace kap {

namespace {

constexpr uint8_t kScanF1 = 0x3B, kScanF11 = 0x85, kScanF12 = 0x86;
constexpr uint8_t kScanHome = 0x47, kScanUp = 0x48, kScanPgUp = 0x49, kScanLeft = 0x4B,
                  kScanCentre = 0x4C, kScanRight = 0x4D, kScanEnd = 0x4F, kScanDown = 0x50,
                  kScanPgDn = 0x51, kScanIns = 0x52, kScanDel = 0x53, kScanTab = 0x0F;

InputEvent Extended(uint8_t scanCode, uint8_t mods = 0) {
  InputEvent e;
  e.scan = scanCode;
  e.modifiers = mods;
  return e;
}

InputEvent Char(uint8_t ch, uint8_t mods = 0) {
  InputEvent e;
  e.character = ch;
  e.scan = ScanCodeOfChar(ch);
  e.modifiers = mods;
  return e;
}

[[maybe_unused]] uint8_t FKeyScan(int n) {
  return n <= 10 ? static_cast<uint8_t>(kScanF1 + n - 1) : (n == 11 ? kScanF11 : kScanF12);
}

// xterm's modifier parameter: 1 + Shift(1) + Alt(2) + Ctrl(4).
uint8_t ModifiersOfParameter(int m) {
  if (m < 2 || m > 16) return 0;
  int bits = m - 1;
  uint8_t mods = 0;
  if (bits & 1) mods |= modifier::kShift;
  if (bits & 2) mods |= modifier::kLeftAlt;
  if (bits & 4) mods |= modifier::kCtrl;
  return mods;
}

// Keypad digits typed with Alt: Ins 0, End 1, Down 2, PgDn 3, Left 4, centre 5, Right 6,
// Home 7, Up 8, PgUp 9.
constexpr uint8_t kKeypadDigitScan[10] = {kScanIns,    kScanEnd,   kScanDown, kScanPgDn, kScanLeft,
                                          kScanCentre, kScanRight, kScanHome, kScanUp,   kScanPgUp};

// Final letters of CSI/SS3 sequences for cursor keys and F1-F4.
struct FinalKey {
  char final;
  uint8_t scan;
};
constexpr FinalKey kFinalKeys[] = {{'A', kScanUp},     {'B', kScanDown},  {'C', kScanRight},
                                   {'D', kScanLeft},   {'H', kScanHome},  {'F', kScanEnd},
                                   {'E', kScanCentre}, {'P', kScanF1},    {'Q', kScanF1 + 1},
                                   {'R', kScanF1 + 2}, {'S', kScanF1 + 3}};

// Numbers of "CSI n ~" sequences.
struct TildeKey {
  int number;
  uint8_t scan;
};
constexpr TildeKey kTildeKeys[] = {
    {1, kScanHome},    {2, kScanIns},     {3, kScanDel},     {4, kScanEnd},     {5, kScanPgUp},
    {6, kScanPgDn},    {7, kScanHome},    {8, kScanEnd},     {11, kScanF1},     {12, kScanF1 + 1},
    {13, kScanF1 + 2}, {14, kScanF1 + 3}, {15, kScanF1 + 4}, {17, kScanF1 + 5}, {18, kScanF1 + 6},
    {19, kScanF1 + 7}, {20, kScanF1 + 8}, {21, kScanF1 + 9}, {23, kScanF11},    {24, kScanF12}};

}  // namespace

uint8_t ScanCodeOfChar(uint8_t ch) {
  static const char* const kRows[] = {"1234567890-=", "qwertyuiop[]", "asdfghjkl;'`",
                                      "\\zxcvbnm,./"};
  static const uint8_t kStarts[] = {0x02, 0x10, 0x1E, 0x2B};
  int c = std::tolower(ch);
  if (ch >= 0x80) return 0;
  for (int r = 0; r < 4; ++r)
    for (int i = 0; kRows[r][i]; ++i)
      if (kRows[r][i] == c) return static_cast<uint8_t>(kStarts[r] + i);
  switch (ch) {
    case 0x1B:
      return 0x01;
    case 0x08:
      return 0x0E;
    case 0x09:
      return 0x0F;
    case 0x0D:
      return 0x1C;
    case ' ':
      return 0x39;
    default:
      break;
  }
  if (ch >= 1 && ch <= 26) return ScanCodeOfChar(static_cast<uint8_t>('a' + ch - 1));
  return 0;
}

InputEvent KeyCodeToEvent(int16_t code) {
  uint16_t value = static_cast<uint16_t>(code);
  if (value < 0x100) {
    InputEvent e = Char(static_cast<uint8_t>(value));
    if (value >= 1 && value <= 26 && value != 8 && value != 9 && value != 13)
      e.modifiers = modifier::kCtrl;
    return e;
  }
  uint8_t s = static_cast<uint8_t>(value >> 8);
  if (s >= 0x54 && s <= 0x5D) return Extended(s - 0x19, modifier::kShift);
  if (s >= 0x5E && s <= 0x67) return Extended(s - 0x23, modifier::kCtrl);
  if (s >= 0x68 && s <= 0x71) return Extended(s - 0x2D, modifier::kLeftAlt);
  if (s == 0x87 || s == 0x88) return Extended(s - 0x02, modifier::kShift);
  if (s == 0x89 || s == 0x8A) return Extended(s - 0x04, modifier::kCtrl);
  if (s == 0x8B || s == 0x8C) return Extended(s - 0x06, modifier::kLeftAlt);
  if (s == 0x77) return Extended(kScanHome, modifier::kCtrl);
  if (s == 0x73) return Extended(kScanLeft, modifier::kCtrl);
  if (s == 0x74) return Extended(kScanRight, modifier::kCtrl);
  if (s == kScanTab) return Extended(kScanTab, modifier::kShift);
  // Alt + letter: the letter with Alt held, as a keyboard delivers it.
  for (int ch = 'a'; ch <= 'z'; ++ch)
    if (ScanCodeOfChar(static_cast<uint8_t>(ch)) == s) {
      InputEvent e = Char(static_cast<uint8_t>(ch), modifier::kLeftAlt);
      return e;
    }
  return Extended(s);
}

Decoded DecodeTerminalChar(char32_t ch, bool altPrefix, InputEvent* event) {
  uint8_t mods = altPrefix ? modifier::kLeftAlt : 0;
  if (ch == 0) return Decoded::kIgnore;
  if (altPrefix && ch >= '0' && ch <= '9') {
    // Alt with a digit: what terminals send for Alt + keypad digit with NumLock on.
    *event = Extended(kKeypadDigitScan[ch - '0'], mods);
    return Decoded::kEvent;
  }
  if (ch == 0x7F || ch == 0x08) {
    *event = Char(0x08, mods);
    return Decoded::kEvent;
  }
  if (ch < 0x20) {
    *event = Char(static_cast<uint8_t>(ch), mods);
    if (ch != 0x09 && ch != 0x0D && ch != 0x1B && ch != 0x0A) event->modifiers |= modifier::kCtrl;
    return Decoded::kEvent;
  }
  uint8_t byte = UnicodeToCp850(ch, '?');
  *event = Char(byte, mods);
  return Decoded::kEvent;
}

int DecodeUtf8(const std::string& bytes, char32_t* ch) {
  if (bytes.empty()) return 0;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  const uint8_t lead = byte(0);
  *ch = lead;
  if (lead < 0x80) return 1;
  int length = 0;
  char32_t value = 0;
  // The second byte's range also rules out overlong forms, surrogates and values past U+10FFFF.
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 1;
  }
  for (int i = 1; i < length; ++i) {
    if (static_cast<size_t>(i) >= bytes.size()) return 0;
    const uint8_t b = byte(static_cast<size_t>(i));
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return 1;
    value = (value << 6) | (b & 0x3F);
  }
  *ch = value;
  return length;
}

#ifndef _WIN32
Decoded DecodeCursesKey(int code, InputEvent* event) {
  if (code >= KEY_F(1) && code <= KEY_F(63)) {
    int n = code - KEY_F(0);
    int group = (n - 1) / 12, key = (n - 1) % 12 + 1;
    static const uint8_t kGroupMods[] = {0,
                                         modifier::kShift,
                                         modifier::kCtrl,
                                         modifier::kCtrl | modifier::kShift,
                                         modifier::kLeftAlt,
                                         modifier::kLeftAlt | modifier::kShift};
    *event = Extended(FKeyScan(key), kGroupMods[group]);
    return Decoded::kEvent;
  }
  struct Entry {
    int code;
    uint8_t scan;
    uint8_t mods;
  };
  static const Entry kTable[] = {
      {KEY_UP, kScanUp, 0},
      {KEY_DOWN, kScanDown, 0},
      {KEY_LEFT, kScanLeft, 0},
      {KEY_RIGHT, kScanRight, 0},
      {KEY_HOME, kScanHome, 0},
      {KEY_END, kScanEnd, 0},
      {KEY_PPAGE, kScanPgUp, 0},
      {KEY_NPAGE, kScanPgDn, 0},
      {KEY_IC, kScanIns, 0},
      {KEY_DC, kScanDel, 0},
      {KEY_B2, kScanCentre, 0},
      {KEY_A1, kScanHome, 0},
      {KEY_A3, kScanPgUp, 0},
      {KEY_C1, kScanEnd, 0},
      {KEY_C3, kScanPgDn, 0},
      {KEY_BTAB, kScanTab, modifier::kShift},
      {KEY_SLEFT, kScanLeft, modifier::kShift},
      {KEY_SRIGHT, kScanRight, modifier::kShift},
      {KEY_SR, kScanUp, modifier::kShift},
      {KEY_SF, kScanDown, modifier::kShift},
      {KEY_SHOME, kScanHome, modifier::kShift},
      {KEY_SEND, kScanEnd, modifier::kShift},
      {KEY_SIC, kScanIns, modifier::kShift},
      {KEY_SDC, kScanDel, modifier::kShift},
      {KEY_SPREVIOUS, kScanPgUp, modifier::kShift},
      {KEY_SNEXT, kScanPgDn, modifier::kShift},
  };
  for (const Entry& e : kTable) {
    if (e.code == code) {
      *event = Extended(e.scan, e.mods);
      return Decoded::kEvent;
    }
  }
  if (code == KEY_BACKSPACE) {
    *event = Char(0x08);
    return Decoded::kEvent;
  }
  if (code == KEY_ENTER) {
    *event = Char(0x0D);
    return Decoded::kEvent;
  }
  return Decoded::kIgnore;
}
#endif

namespace {

// Parses "ESC [ params final" or "ESC O params final"; params are digits and ';'.
struct Csi {
  char introducer = 0;   // '[' or 'O'
  char privateMark = 0;  // '<' for SGR mouse
  std::vector<int> params;
  char final = 0;
  size_t length = 0;
};

// 1 = complete, 0 = incomplete, -1 = not a sequence of this form.
int ParseCsi(const std::string& b, Csi* out) {
  if (b.size() < 2) return b.size() == 1 && b[0] == 0x1B ? 0 : -1;
  if (b[0] != 0x1B || (b[1] != '[' && b[1] != 'O')) return -1;
  out->introducer = b[1];
  size_t i = 2;
  if (i < b.size() && b[i] == '<') out->privateMark = b[i++];
  int value = -1;
  for (; i < b.size(); ++i) {
    char c = b[i];
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value);
      if (value < 100000) value = value * 10 + (c - '0');
    } else if (c == ';') {
      out->params.push_back(value < 0 ? 1 : value);
      value = -1;
    } else if (c >= 0x40 && c <= 0x7E) {
      if (value >= 0 || !out->params.empty()) out->params.push_back(value < 0 ? 1 : value);
      out->final = c;
      out->length = i + 1;
      return 1;
    } else {
      return -1;
    }
    if (i > 32) return -1;
  }
  return 0;
}

}  // namespace

int EscapeSequenceLength(const std::string& bytes) {
  // X10 mouse: ESC [ M b x y, three raw bytes after the M.
  if (bytes.size() >= 3 && bytes[0] == 0x1B && bytes[1] == '[' && bytes[2] == 'M')
    return bytes.size() >= 6 ? 6 : 0;
  Csi csi;
  int r = ParseCsi(bytes, &csi);
  if (r <= 0) return r;
  return static_cast<int>(csi.length);
}

Decoded DecodeEscapeSequence(const std::string& bytes, InputEvent* event) {
  if (bytes.size() >= 6 && bytes[0] == 0x1B && bytes[1] == '[' && bytes[2] == 'M') {
    int b = static_cast<uint8_t>(bytes[3]) - 32;
    int x = static_cast<uint8_t>(bytes[4]) - 32, y = static_cast<uint8_t>(bytes[5]) - 32;
    if ((b & 0x60) != 0 || x < 1 || y < 1) return Decoded::kIgnore;  // motion, wheel
    InputEvent e;
    e.kind = InputEvent::Kind::kMouse;
    e.row = static_cast<int16_t>(y);
    e.column = static_cast<int16_t>(x);
    int button = b & 3;
    e.buttons = button == 0 ? mouse::kLeft : button == 2 ? mouse::kRight : 0;
    if (button == 1) return Decoded::kIgnore;  // middle button
    *event = e;
    return Decoded::kEvent;
  }
  Csi csi;
  if (ParseCsi(bytes, &csi) != 1) return Decoded::kIgnore;
  if (csi.privateMark == '<') {
    if (csi.params.size() != 3 || (csi.final != 'M' && csi.final != 'm')) return Decoded::kIgnore;
    int b = csi.params[0];
    if ((b & 0x60) != 0 || csi.params[1] < 1 || csi.params[2] < 1) return Decoded::kIgnore;
    int button = b & 3;
    if (button == 1 || button == 3) return Decoded::kIgnore;
    InputEvent e;
    e.kind = InputEvent::Kind::kMouse;
    e.column = static_cast<int16_t>(std::min(csi.params[1], 32767));
    e.row = static_cast<int16_t>(std::min(csi.params[2], 32767));
    e.buttons = csi.final == 'm' ? 0 : (button == 0 ? mouse::kLeft : mouse::kRight);
    *event = e;
    return Decoded::kEvent;
  }
  if (csi.final == 'Z' && csi.introducer == '[') {
    *event = Extended(kScanTab, modifier::kShift);
    return Decoded::kEvent;
  }
  uint8_t mods = 0;
  if (csi.final == '~') {
    if (csi.introducer != '[' || csi.params.empty()) return Decoded::kIgnore;
    if (csi.params.size() >= 2) mods = ModifiersOfParameter(csi.params[1]);
    for (const TildeKey& k : kTildeKeys)
      if (k.number == csi.params[0]) {
        *event = Extended(k.scan, mods);
        return Decoded::kEvent;
      }
    return Decoded::kIgnore;
  }
  for (const FinalKey& k : kFinalKeys) {
    if (k.final != csi.final) continue;
    if (csi.params.size() >= 2)
      mods = ModifiersOfParameter(csi.params[1]);
    else if (csi.params.size() == 1 && csi.introducer == 'O')
      mods = ModifiersOfParameter(csi.params[0]);
    *event = Extended(k.scan, mods);
    return Decoded::kEvent;
  }
  return Decoded::kIgnore;
}

const std::vector<KeySequence>& ModifiedKeySequences() {
  static const std::vector<KeySequence> table = [] {
    std::vector<KeySequence> out;
    for (int m = 2; m <= 8; ++m) {
      std::string ms = std::to_string(m);
      for (const FinalKey& k : kFinalKeys)
        out.push_back(
            {std::string("\x1b[1;") + ms + k.final, Extended(k.scan, ModifiersOfParameter(m))});
      for (const TildeKey& k : kTildeKeys) {
        if (k.number == 1 || k.number == 4 || k.number == 7 || k.number == 8 ||
            (k.number >= 11 && k.number <= 14))
          continue;
        out.push_back({"\x1b[" + std::to_string(k.number) + ";" + ms + "~",
                       Extended(k.scan, ModifiersOfParameter(m))});
      }
    }
    // Plain Home and End as some terminal types send them.
    for (const char* s : {"\x1b[1~", "\x1b[7~", "\x1bOH", "\x1b[H"})
      out.push_back({s, Extended(kScanHome)});
    for (const char* s : {"\x1b[4~", "\x1b[8~", "\x1bOF", "\x1b[F"})
      out.push_back({s, Extended(kScanEnd)});
    return out;
  }();
  return table;
}

}  // namespace kap
