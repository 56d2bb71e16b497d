// The screen layer's process-wide state.
#include "formengine/screen_state.h"

namespace kap {

ScreenState& ScreenStateRef() {
  static ScreenState state;
  return state;
}

void ResetScreenState() {
  ScreenStateRef() = ScreenState{};
  SetInsertToggle(false);
}

}  // namespace kap
