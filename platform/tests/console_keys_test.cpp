// Pure decoding of terminal input, code page 850 conversion and the in-memory console.
#include <curses.h>
#include <gtest/gtest.h>

#include "platform/console.h"
#include "platform/console_keys.h"

namespace kap {
namespace {

using namespace modifier;

std::string Describe(const InputEvent& e) {
  char text[96];
  std::snprintf(text, sizeof text, "kind %d char %02X scan %02X mods %X row %d col %d buttons %d",
                static_cast<int>(e.kind), e.character, e.scan, e.modifiers, e.row, e.column,
                e.buttons);
  return text;
}

InputEvent Key(uint8_t ch, uint8_t scanCode, uint8_t mods = 0) {
  InputEvent e;
  e.character = ch;
  e.scan = scanCode;
  e.modifiers = mods;
  return e;
}

InputEvent Mouse(int row, int column, uint8_t buttons) {
  InputEvent e;
  e.kind = InputEvent::Kind::kMouse;
  e.row = static_cast<int16_t>(row);
  e.column = static_cast<int16_t>(column);
  e.buttons = buttons;
  return e;
}

TEST(TerminalDecodeTest, EscapeSequences) {
  struct Case {
    std::string bytes;
    InputEvent event;
  } cases[] = {
      {"\x1b[A", Key(0, 0x48)},
      {"\x1bOB", Key(0, 0x50)},
      {"\x1b[1;5D", Key(0, 0x4B, kCtrl)},
      {"\x1b[1;2C", Key(0, 0x4D, kShift)},
      {"\x1b[1;3H", Key(0, 0x47, kLeftAlt)},
      {"\x1b[1;8F", Key(0, 0x4F, kShift | kLeftAlt | kCtrl)},
      {"\x1b[1~", Key(0, 0x47)},
      {"\x1b[4~", Key(0, 0x4F)},
      {"\x1b[2~", Key(0, 0x52)},
      {"\x1b[3;5~", Key(0, 0x53, kCtrl)},
      {"\x1b[6~", Key(0, 0x51)},
      {"\x1bOP", Key(0, 0x3B)},
      {"\x1b[1;2P", Key(0, 0x3B, kShift)},
      {"\x1b[15~", Key(0, 0x3F)},
      {"\x1b[21;3~", Key(0, 0x44, kLeftAlt)},
      {"\x1b[23~", Key(0, 0x85)},
      {"\x1b[24;5~", Key(0, 0x86, kCtrl)},
      {"\x1b[Z", Key(0, 0x0F, kShift)},
      {"\x1b[E", Key(0, 0x4C)},
      {"\x1b[M\x20\x2a\x25", Mouse(5, 10, mouse::kLeft)},
      {"\x1b[M\x22\x21\x21", Mouse(1, 1, mouse::kRight)},
      {"\x1b[M\x23\x2a\x25", Mouse(5, 10, 0)},
      {"\x1b[<0;80;25M", Mouse(25, 80, mouse::kLeft)},
      {"\x1b[<2;3;4M", Mouse(4, 3, mouse::kRight)},
      {"\x1b[<0;3;4m", Mouse(4, 3, 0)},
  };
  for (const Case& c : cases) {
    InputEvent e;
    EXPECT_EQ(EscapeSequenceLength(c.bytes), static_cast<int>(c.bytes.size())) << Describe(c.event);
    ASSERT_EQ(DecodeEscapeSequence(c.bytes, &e), Decoded::kEvent) << Describe(c.event);
    EXPECT_EQ(Describe(e), Describe(c.event));
  }
  // Motion, wheel, the middle button, unknown or malformed sequences give nothing.
  for (std::string bytes :
       {std::string("\x1b[M\x60\x2a\x25"), std::string("\x1b[<64;1;1M"),
        std::string("\x1b[<1;1;1M"), std::string("\x1b[<32;5;5M"), std::string("\x1b[99~"),
        std::string("\x1b[<0;0;0M"), std::string("\x1b[<0;1M"), std::string("\x1b[M\x20\x10\x10"),
        std::string("\x1b[99999999999999999999~")}) {
    InputEvent e;
    EXPECT_EQ(DecodeEscapeSequence(bytes, &e), Decoded::kIgnore) << bytes.substr(1);
  }
  EXPECT_EQ(EscapeSequenceLength("\x1b["), 0);
  EXPECT_EQ(EscapeSequenceLength("\x1b[1;5"), 0);
  EXPECT_EQ(EscapeSequenceLength("\x1b[M\x20"), 0);
  EXPECT_EQ(EscapeSequenceLength("\x1bx"), -1);
  EXPECT_EQ(EscapeSequenceLength("\x1b[1\x01"), -1);
  EXPECT_EQ(EscapeSequenceLength("\x1b[" + std::string(100, '1')), -1) << "endless parameters";
}

TEST(TerminalDecodeTest, GeneratedSequencesDecodeToTheirEvents) {
  const auto& table = ModifiedKeySequences();
  EXPECT_GT(table.size(), 7u * 20u);
  for (const KeySequence& ks : table) {
    InputEvent e;
    ASSERT_EQ(DecodeEscapeSequence(ks.bytes, &e), Decoded::kEvent) << ks.bytes.substr(1);
    EXPECT_EQ(Describe(e), Describe(ks.event)) << ks.bytes.substr(1);
  }
}

TEST(TerminalDecodeTest, CursesKeyCodes) {
  struct Case {
    int code;
    InputEvent event;
  } cases[] = {
      {KEY_UP, Key(0, 0x48)},
      {KEY_NPAGE, Key(0, 0x51)},
      {KEY_IC, Key(0, 0x52)},
      {KEY_BTAB, Key(0, 0x0F, kShift)},
      {KEY_F(1), Key(0, 0x3B)},
      {KEY_F(10), Key(0, 0x44)},
      {KEY_F(12), Key(0, 0x86)},
      {KEY_F(13), Key(0, 0x3B, kShift)},
      {KEY_F(24), Key(0, 0x86, kShift)},
      {KEY_F(25), Key(0, 0x3B, kCtrl)},
      {KEY_F(36), Key(0, 0x86, kCtrl)},
      {KEY_F(37), Key(0, 0x3B, kCtrl | kShift)},
      {KEY_F(49), Key(0, 0x3B, kLeftAlt)},
      {KEY_F(60), Key(0, 0x86, kLeftAlt)},
      {KEY_F(61), Key(0, 0x3B, kLeftAlt | kShift)},
      {KEY_SLEFT, Key(0, 0x4B, kShift)},
      {KEY_B2, Key(0, 0x4C)},
      {KEY_BACKSPACE, Key(8, 0x0E)},
      {KEY_ENTER, Key(13, 0x1C)},
  };
  for (const Case& c : cases) {
    InputEvent e;
    ASSERT_EQ(DecodeCursesKey(c.code, &e), Decoded::kEvent) << c.code;
    EXPECT_EQ(Describe(e), Describe(c.event)) << keyname(c.code);
  }
  InputEvent e;
  EXPECT_EQ(DecodeCursesKey(KEY_F(0), &e), Decoded::kIgnore);
  EXPECT_EQ(DecodeCursesKey(0x7777, &e), Decoded::kIgnore);
}

TEST(TerminalDecodeTest, Characters) {
  struct Case {
    char32_t ch;
    bool alt;
    InputEvent event;
  } cases[] = {
      {'a', false, Key('a', 0x1E)},        {'X', true, Key('X', 0x2D, kLeftAlt)},
      {'\r', false, Key(13, 0x1C)},        {'\t', false, Key(9, 0x0F)},
      {0x7F, false, Key(8, 0x0E)},         {0x03, false, Key(3, 0x2E, kCtrl)},
      {0x1B, false, Key(0x1B, 0x01)},      {'1', true, Key(0, 0x4F, kLeftAlt)},  // Alt + keypad 1
      {'0', true, Key(0, 0x52, kLeftAlt)}, {0xE9, false, Key(0x82, 0)},          // é
      {0x20AC, false, Key(0xD5, 0)},                                             // €
      {0x4E2D, false, Key('?', 0)},  // no such letter in the code page
  };
  for (const Case& c : cases) {
    InputEvent e;
    ASSERT_EQ(DecodeTerminalChar(c.ch, c.alt, &e), Decoded::kEvent) << static_cast<int>(c.ch);
    EXPECT_EQ(Describe(e), Describe(c.event)) << static_cast<int>(c.ch);
  }
  InputEvent e;
  EXPECT_EQ(DecodeTerminalChar(0, false, &e), Decoded::kIgnore);
}

// Valid characters take their length; anything else takes one byte, read as Latin-1, so the
// bytes after it are never lost.
TEST(TerminalDecodeTest, Utf8BytesAndInvalidOnes) {
  struct Case {
    std::string bytes;
    int used;
    char32_t ch;
  } cases[] = {
      {"a", 1, 'a'},
      {"\xC3\xA9x", 2, 0xE9},
      {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600},
      {"\xC3", 0, 0},  // unfinished: more may come
      {"\xE2\x82", 0, 0},
      {"\xE9"
       "bc",
       1, 0xE9},  // Latin-1 é then plain letters
      {"\xC3"
       "a",
       1, 0xC3},                      // lead cut short by a plain byte
      {"\x80", 1, 0x80},              // stray continuation
      {"\xC0\xAF", 1, 0xC0},          // overlong
      {"\xE0\x80\xAF", 1, 0xE0},      // overlong
      {"\xED\xA0\x80", 1, 0xED},      // surrogate
      {"\xF4\x90\x80\x80", 1, 0xF4},  // past U+10FFFF
      {"\xFF", 1, 0xFF},
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    char32_t ch = 0;
    EXPECT_EQ(DecodeUtf8(c.bytes, &ch), c.used) << c.bytes;
    if (c.used > 0) {
      EXPECT_EQ(static_cast<uint32_t>(ch), static_cast<uint32_t>(c.ch)) << c.bytes;
    }
  }
}

TEST(Cp850Test, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(Utf8ToCp850(Cp850ToUtf8(all)), all);
  for (int b = 0x20; b < 256; ++b) {
    if (b != 0x7F) {
      EXPECT_EQ(UnicodeToCp850(Cp850ToUnicode(static_cast<uint8_t>(b))), b) << b;
    }
  }
  EXPECT_EQ(Cp850ToUnicode(0xD5), 0x20ACu);
  EXPECT_EQ(Cp850ToUnicode(kMarkerLeft), 0x25C4u);
  EXPECT_EQ(Cp850ToUnicode(kMarkerRight), 0x25BAu);
  EXPECT_EQ(Cp850ToUtf8("\x80\xD5"), "\xC3\x87\xE2\x82\xAC");
  EXPECT_EQ(UnicodeToCp850(0x0131), '?') << "dotless i is not in this variant";
  // Broken UTF-8 gives '?' per bad byte and never reads past the end.
  EXPECT_EQ(Utf8ToCp850("a\xC3"), "a?");
  EXPECT_EQ(Utf8ToCp850("\xE2\x82"), "??");
  EXPECT_EQ(Utf8ToCp850("\xFF"
                        "b"),
            "?b");
  EXPECT_EQ(Utf8ToCp850("\xF0\x9F\x98\x80"), "?");
}

TEST(MemoryConsoleTest, MouseEventsOnlyWhileReporting) {
  MemoryConsole c;
  c.PushClick(2, 3);
  c.PushKey('k');
  InputEvent e;
  ASSERT_TRUE(c.ReadInput(&e));
  EXPECT_EQ(e.character, 'k') << "clicks dropped while reporting is off";
  c.SetMouseReporting(true);
  c.PushKey(-(12 * 100 + 7));
  ASSERT_TRUE(c.ReadInput(&e));
  EXPECT_EQ(Describe(e), Describe(Mouse(7, 12, mouse::kLeft)));
  c.FlushInput();
  EXPECT_FALSE(c.ReadInput(&e));
  EXPECT_FALSE(c.WaitInput(10));
}

}  // namespace
}  // namespace kap
