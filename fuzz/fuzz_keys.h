// Keys for the harnesses that drive the form engine on the in-memory console: each fuzzed
// byte picks one key, and once they run out the console answers Esc, a bounded number of
// times, so that no input can leave the engine waiting for ever.
#pragma once

#include <cstdint>
#include <cstdio>
#include <iterator>

#include "formengine/screen.h"
#include "fuzz/fuzz_support.h"
#include "platform/console.h"

namespace kap::fuzz {

// Printable characters pass as themselves; the other byte values pick one of these keys. The
// last eight (the calculator, the calendar, the clipboard) only bytes from 0x7F on reach.
inline int16_t KeyFromByte(uint8_t byte) {
  constexpr int16_t kClick = -(10 * 100 + 5);  // a click at row 5, column 10
  static constexpr int16_t kKeys[] = {
      key::kEnter,  key::kEsc,    key::kTab,       key::kShiftTab, key::kBackspace,
      key::kUp,     key::kDown,   key::kLeft,      key::kRight,    key::kPgUp,
      key::kPgDn,   key::kHome,   key::kEnd,       key::kCtrlHome, key::kIns,
      key::kDel,    key::kF1,     key::kF2,        key::kF4,       key::kF10,
      key::kCtrlF4, key::kAltF4,  key::kLeaveForm, key::kCtrlLeft, key::kCtrlRight,
      key::kSpace,  key::kCentre, key::kF11,       key::kF12,      key::kShiftF1,
      key::kCtrlY,  kClick,       key::kAltX,      key::kAltC,     key::kCtrlC,
      key::kCtrlV,  key::kAltE,   key::kAltF,      key::kCtrlF1,   key::kAltF1};
  if (byte >= 0x20 && byte < 0x7F) return byte;
  return kKeys[byte % std::size(kKeys)];
}

// Thrown when the Esc presses are used up while the key list in force takes no Esc: a form
// file may offer no way out by Esc, and the operator then leaves by the keys it does offer.
// That is the file's choice, not the engine's fault; the harness that fuzzes form files ends
// the run with it.
struct EscNotOffered {};

// Puts up to `limit` keys from the input in the console's queue, and makes the console answer
// Esc when the engine waits with the queue empty: at most `escapes` times, then the run stops
// as a finding (the engine would have waited for ever), unless Esc is not an active key.
inline void QueueKeys(MemoryConsole& console, Input& input, int limit, int escapes = 400) {
  console.FlushInput();
  for (int i = 0; i < limit && !input.Empty(); ++i) console.PushKey(KeyFromByte(input.Byte()));
  console.SetIdleHandler([left = escapes](MemoryConsole& c) mutable {
    if (left-- <= 0) {
      int16_t reported = 0;
      if (!LookupKey(key::kEsc, &reported)) throw EscNotOffered{};
      std::fprintf(stderr, "fuzz: the engine still waits for keys after every Esc\n");
      __builtin_trap();
    }
    c.PushKey(key::kEsc);
  });
}

}  // namespace kap::fuzz
