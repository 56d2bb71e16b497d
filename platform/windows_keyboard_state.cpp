// The Insert toggle kept by Windows in the keyboard state, so the mode survives from program
// to program of the suite. Where the state cannot be written back (no window station, as under
// some Wine set-ups) a process flag stands in, so the toggle still works within the program.
#include <windows.h>

#include "platform/console.h"

namespace kap {

namespace {

struct InsertState {
  bool flag = false;
  bool systemWorks = true;
};

InsertState& State() {
  static InsertState state;
  return state;
}

bool ReadSystem(bool* on) {
  BYTE keys[256];
  if (!::GetKeyboardState(keys)) return false;
  *on = (keys[VK_INSERT] & 1) != 0;
  return true;
}

}  // namespace

bool InsertToggle() {
  InsertState& s = State();
  bool on = false;
  if (s.systemWorks && ReadSystem(&on)) return on;
  s.systemWorks = false;
  return s.flag;
}

void SetInsertToggle(bool on) {
  InsertState& s = State();
  s.flag = on;
  if (!s.systemWorks) return;
  BYTE keys[256];
  bool back = !on;
  if (!::GetKeyboardState(keys)) {
    s.systemWorks = false;
    return;
  }
  keys[VK_INSERT] = static_cast<BYTE>(on ? (keys[VK_INSERT] | 1) : (keys[VK_INSERT] & ~1));
  if (!::SetKeyboardState(keys) || !ReadSystem(&back) || back != on) s.systemWorks = false;
}

}  // namespace kap
