// Upper-casing and folding of code page 850 text for comparisons.
#include <array>

#include "formengine/screen_state.h"

namespace kap {

namespace {

struct FoldTables {
  std::array<uint8_t, 256> plain{}, folding{};
};

const FoldTables& Tables() {
  static const FoldTables tables = [] {
    FoldTables t;
    for (int b = 0; b < 256; ++b) {
      t.plain[b] = static_cast<uint8_t>(b);
      // Folding turns every byte of 0x40 ... 0xED into a blank unless it is a letter.
      t.folding[b] = b >= 0x40 && b <= 0xED ? ' ' : static_cast<uint8_t>(b);
    }
    for (int b = 'a'; b <= 'z'; ++b) {
      t.plain[b] = static_cast<uint8_t>(b - 32);
      t.folding[b] = static_cast<uint8_t>(b - 32);
      t.folding[b - 32] = static_cast<uint8_t>(b - 32);
    }
    // Small accented letters and their capitals.
    static const uint8_t kCapitals[][2] = {
        {0x81, 0x9A}, {0x82, 0x90}, {0x83, 0xB6}, {0x84, 0x8E}, {0x85, 0xB7}, {0x86, 0x8F},
        {0x87, 0x80}, {0x88, 0xD2}, {0x89, 0xD3}, {0x8A, 0xD4}, {0x8B, 0xD8}, {0x8C, 0xD7},
        {0x8D, 0xDE}, {0x91, 0x92}, {0x93, 0xE2}, {0x94, 0x99}, {0x95, 0xE3}, {0x96, 0xEA},
        {0x97, 0xEB}, {0xA0, 0xB5}, {0xA1, 0xD6}, {0xA2, 0xE0}, {0xA3, 0xE9}, {0xA4, 0xA5},
        {0xC6, 0xC7}, {0xD0, 0xD1}, {0xE4, 0xE5}, {0xEC, 0xED}};
    for (const auto& pair : kCapitals) t.plain[pair[0]] = pair[1];
    struct Group {
      char letter;
      const char* bytes;
    };
    static const Group kGroups[] = {
        {'A', "\x83\x84\x85\x86\x8E\x8F\x91\x92\xA0\xA6\xB5\xB6\xB7\xC6\xC7"},
        {'C', "\x80\x87"},
        {'D', "\xD0\xD1"},
        {'E', "\x82\x88\x89\x8A\x90\xD2\xD3\xD4\xD5"},
        {'I', "\x8B\x8C\x8D\xA1\xD6\xD7\xD8\xDE"},
        {'N', "\xA4\xA5"},
        {'O', "\x93\x94\x95\x99\x9B\x9D\xA2\xA7\xE0\xE2\xE3\xE4\xE5"},
        {'S', "\xE1"},
        {'T', "\xE7\xE8"},
        {'U', "\x81\x96\x97\x9A\xA3\xE9\xEA\xEB"},
        {'Y', "\x98\xEC\xED"}};
    for (const Group& g : kGroups)
      for (const char* p = g.bytes; *p; ++p)
        t.folding[static_cast<uint8_t>(*p)] = static_cast<uint8_t>(g.letter);
    return t;
  }();
  return tables;
}

}  // namespace

std::string FoldTextMode(const std::string& text, bool folding) {
  const auto& table = folding ? Tables().folding : Tables().plain;
  std::string out = text;
  for (char& c : out) c = static_cast<char>(table[static_cast<uint8_t>(c)]);
  return out;
}

std::string FoldText(const std::string& text) {
  return FoldTextMode(text, ScreenStateRef().foldMode);
}

void SetFoldMode(bool folding) { ScreenStateRef().foldMode = folding; }

}  // namespace kap
