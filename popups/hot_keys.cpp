// The field editor reaches the pop-ups through a handler, since the screen layer sits below them.
#include "formengine/screen.h"
#include "popups/popups.h"

namespace kap {

std::string PopupHotKey(int16_t hotKey) {
  if (hotKey == key::kAltX) return PopupCalculator();
  if (hotKey == key::kAltC) return PopupCalendar();
  return "";
}

void RegisterPopupHotKeys() { SetHotKeyHandler(PopupHotKey); }

}  // namespace kap
