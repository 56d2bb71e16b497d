// Key decoding shared by the consoles: PC scan codes of characters, the engine's key codes
// turned back into console events (for scripted input), and the pure decoding of terminal
// input (ncurses key codes, characters, escape sequences) into console key events.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/console.h"

namespace kap {

// Scan code of the key that types `ch` on a US layout (letters in either case), 0 when none.
uint8_t ScanCodeOfChar(uint8_t ch);
// The console event that the engine reads back as `code` (see MemoryConsole::PushKey).
InputEvent KeyCodeToEvent(int16_t code);

// Result of decoding one piece of terminal input.
enum class Decoded { kEvent, kIgnore };

// A plain or Alt-prefixed character (Unicode) from the terminal.
Decoded DecodeTerminalChar(char32_t ch, bool altPrefix, InputEvent* event);
// The character at the start of `bytes` in UTF-8: returns the bytes it takes and sets *ch, or
// 0 while `bytes` is a valid but unfinished start. A byte that begins no valid sequence
// (a stray continuation, an overlong form, a lead cut short) takes 1 byte and stands for
// itself as Latin-1, which is what a terminal not set to UTF-8 sends.
int DecodeUtf8(const std::string& bytes, char32_t* ch);
// An ncurses KEY_* code (not KEY_MOUSE or KEY_RESIZE, which the console handles).
Decoded DecodeCursesKey(int code, InputEvent* event);

// An escape sequence starting with ESC, as xterm-style terminals send them: cursor and
// editing keys and F keys with the modifier parameter, Shift+Tab, X10 and SGR mouse reports.
// Returns kIgnore for anything else (including mouse releases and motion).
Decoded DecodeEscapeSequence(const std::string& bytes, InputEvent* event);
// The length of the escape sequence at the start of `bytes` when it is complete, 0 while more
// bytes are needed, -1 when it is no sequence that DecodeEscapeSequence knows.
int EscapeSequenceLength(const std::string& bytes);

// The xterm sequences of every modified cursor, editing and F key, with the event each
// stands for; the terminal console offers them to ncurses at start-up.
struct KeySequence {
  std::string bytes;
  InputEvent event;
};
const std::vector<KeySequence>& ModifiedKeySequences();

}  // namespace kap
