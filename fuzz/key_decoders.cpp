// Terminal input through the pure decoders: UTF-8, escape sequences, characters and curses
// key codes, as the terminal console meets them in a stream of bytes.
#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/console_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kap::fuzz::Input input(data, size);
  const int cursesCode = input.Byte() | (input.Byte() << 8);
  const std::string bytes = input.Rest();
  kap::InputEvent event;
  kap::DecodeCursesKey(cursesCode, &event);
  // Walk the bytes as the console does: an ESC starts a sequence, anything else a character.
  size_t at = 0;
  while (at < bytes.size()) {
    const std::string rest = bytes.substr(at);
    if (rest[0] == 0x1B) {
      int length = kap::EscapeSequenceLength(rest);
      if (length > static_cast<int>(rest.size())) __builtin_trap();  // a length past the input
      if (length > 0) {
        kap::DecodeEscapeSequence(rest.substr(0, static_cast<size_t>(length)), &event);
        at += static_cast<size_t>(length);
        continue;
      }
      kap::DecodeEscapeSequence(rest, &event);
    }
    char32_t ch = 0;
    int used = kap::DecodeUtf8(rest, &ch);
    if (used < 0 || used > 4 || used > static_cast<int>(rest.size())) __builtin_trap();
    if (used == 0) break;  // unfinished at the end
    if (ch > 0x10FFFF) __builtin_trap();
    kap::DecodeTerminalChar(ch, (ch & 1) != 0, &event);
    at += static_cast<size_t>(used);
  }
  return 0;
}
