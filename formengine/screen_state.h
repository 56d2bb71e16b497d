// Process-wide state of the screen layer (windows, colours, key list, editor, input), private
// to the layer's files.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formengine/screen.h"
#include "platform/console.h"

namespace kap {

struct ScreenState {
  CurrentWindowState window;

  int scheme = 0;
  std::string colourStack;  // one byte per saved scheme

  std::vector<std::pair<int16_t, int16_t>> activeKeys;  // (accepted, reported)
  std::vector<std::pair<int16_t, int16_t>> savedKeys;
  bool keysSaved = false;
  int16_t echoChar = 0;

  std::string activeOptions;
  bool foldMode = false;
  std::string typeAhead;
  bool calculatorOpen = false, calendarOpen = false;
  enum class Mouse { kUnknown, kOn, kOff, kNone } mouse = Mouse::kUnknown;
  HotKeyHandler hotKeys;
  IdleHandler idle;

  // An input event read ahead (Alt+keypad entry ended by another key) and handed out next.
  bool pendingValid = false;
  InputEvent pending;
};

ScreenState& ScreenStateRef();

// The text with every byte folded; `folding` as SetFoldMode.
std::string FoldTextMode(const std::string& text, bool folding);
// True when the active key list has an entry accepting `key`.
bool KeyListHas(int16_t key);
// Screen attribute of colour scheme 0 ... 4.
uint8_t SchemeAttribute(int scheme);

}  // namespace kap
