// The active key list, ReadKey's translations and hot keys, WaitKey and FoldText.
#include <cwctype>
#include <vector>

#include "formengine/tests/screen_fixture.h"

namespace kap::test {
namespace {

using KeyTest = ScreenTest;

int16_t Lookup(int16_t key) {
  int16_t reported = 0;
  return LookupKey(key, &reported) ? reported : int16_t{-1};
}

TEST_F(KeyTest, KeyListCommands) {
  EXPECT_EQ(Lookup(0x1234), 0x1234) << "an empty list accepts every key unchanged";
  SetKeyList("A", "d=4f00,1b,4800,5000,1b=3");
  EXPECT_EQ(Lookup(0x0D), 0x4F00);
  EXPECT_EQ(Lookup(0x1B), 0x1B) << "the first entry of a code wins";
  EXPECT_EQ(Lookup(0x4800), 0x4800);
  EXPECT_EQ(Lookup(0x3B00), -1);
  SetKeyList("d", "1b");  // only the first of the two
  EXPECT_EQ(Lookup(0x1B), 3);
  SetKeyList("e", "");
  EXPECT_EQ(Lookup(0x3B00), 0x3B00);
  SetKeyList("a", "8600,,FFFF=2");
  EXPECT_EQ(Lookup(static_cast<int16_t>(0x8600)), static_cast<int16_t>(0x8600));
  EXPECT_EQ(Lookup(0), 0) << "an empty item reads as 0";
  EXPECT_EQ(Lookup(-1), 2);
  SetKeyList("+EA", "");
  EXPECT_EQ(Lookup(0x3B00), 0x3B00) << "\"+ea\" without keys accepts every key";
  SetKeyList("-", "");
  EXPECT_EQ(Lookup(0x3B00), -1);
}

TEST_F(KeyTest, KeyListBuiltFromNamedKeysReadsBackTheSameKeys) {
  EXPECT_EQ(KeyList({}), "");
  EXPECT_EQ(KeyList({key::kEnter, key::kEsc, key::kUp}), "d,1b,4800");
  // Codes with the top bit set are negative as int16_t: the text must still be four digits.
  const std::vector<int16_t> keys = {0, key::kEnter, key::kF1, key::kF11, key::kF12, -1};
  SetKeyList("ea", KeyList({0, key::kEnter, key::kF1, key::kF11, key::kF12, -1}));
  for (int16_t k : keys) EXPECT_EQ(Lookup(k), k) << "key " << k;
  EXPECT_EQ(Lookup(key::kF2), -1);
}

TEST_F(KeyTest, KeyListHasOneSaveSlot) {
  SetKeyList("ea", "d");      // the list before the outer user
  SetKeyList("+ea", "1b");    // outer user saves it
  SetKeyList("+ea", "4800");  // inner user: slot taken, nothing saved
  EXPECT_EQ(Lookup(0x1B), -1);
  EXPECT_EQ(Lookup(0x4800), 0x4800);
  SetKeyList("-", "");  // inner "-" restores the outer's saved list
  EXPECT_EQ(Lookup(0x0D), 0x0D);
  EXPECT_EQ(Lookup(0x1B), -1);
  SetKeyList("ea", "3b00");
  SetKeyList("-", "");  // outer "-": slot empty, nothing changes
  EXPECT_EQ(Lookup(0x3B00), 0x3B00);
  EXPECT_EQ(Lookup(0x0D), -1);
}

TEST_F(KeyTest, EchoCommands) {
  EXPECT_EQ(EchoChar(), 0);
  SetKeyList("h", "");
  EXPECT_EQ(EchoChar(), 88);
  SetKeyList("xyzV", "");
  EXPECT_EQ(EchoChar(), 0);
}

int16_t ReadOne() {
  int16_t key = 0, buttons = 0, row = 0, column = 0;
  ReadKey(key, buttons, row, column);
  return key;
}

InputEvent KeyEvent(uint8_t ch, uint8_t scanCode, uint8_t mods) {
  InputEvent e;
  e.character = ch;
  e.scan = scanCode;
  e.modifiers = mods;
  return e;
}

TEST_F(KeyTest, ReadKeyTranslatesConsoleEvents) {
  using namespace modifier;
  struct Case {
    const char* name;
    InputEvent event;
    uint16_t code;
  } cases[] = {
      {"a", KeyEvent('a', 0x1E, 0), 'a'},
      {"Shift+A", KeyEvent('A', 0x1E, kShift), 'A'},
      {"Enter", KeyEvent(13, 0x1C, 0), 0x0D},
      {"Ctrl+C", KeyEvent(3, 0x2E, kCtrl), 0x03},
      {"\xC7 typed", KeyEvent(0x80, 0, 0), 0x80},
      {"AltGr+e types euro", KeyEvent(0xD5, 0x12, kRightAlt | kCtrl), 0xD5},
      {"Up", KeyEvent(0, 0x48, 0), 0x4800},
      {"Shift+Up", KeyEvent(0, 0x48, kShift), 0x4800},
      {"Shift+Tab", KeyEvent(0, 0x0F, kShift), 0x0F00},
      {"Alt+X", KeyEvent('x', 0x2D, kLeftAlt), 0x2D00},
      {"Alt+Shift+C", KeyEvent('C', 0x2E, kLeftAlt | kShift), 0x2E00},
      {"Alt+E", KeyEvent('e', 0x12, kLeftAlt), 0xD5},
      {"right Alt+F", KeyEvent('f', 0x21, kRightAlt), 0x2100},
      {"F1", KeyEvent(0, 0x3B, 0), 0x3B00},
      {"Shift+F1", KeyEvent(0, 0x3B, kShift), 0x5400},
      {"Shift+F10", KeyEvent(0, 0x44, kShift), 0x5D00},
      {"Ctrl+F1", KeyEvent(0, 0x3B, kCtrl), 0x5E00},
      {"Ctrl+F4", KeyEvent(0, 0x3E, kCtrl), 0x6100},
      {"Ctrl+Shift+F4", KeyEvent(0, 0x3E, kCtrl | kShift), 0x6100},
      {"Alt+F1", KeyEvent(0, 0x3B, kLeftAlt), 0x6800},
      {"right Alt+F4", KeyEvent(0, 0x3E, kRightAlt), 0x6B00},
      {"Alt+Ctrl+F10", KeyEvent(0, 0x44, kLeftAlt | kCtrl), 0x7100},
      {"F11", KeyEvent(0, 0x85, 0), 0x8500},
      {"Shift+F12", KeyEvent(0, 0x86, kShift), 0x8800},
      {"Ctrl+F11", KeyEvent(0, 0x85, kCtrl), 0x8900},
      {"Alt+F12", KeyEvent(0, 0x86, kLeftAlt), 0x8C00},
      {"Ctrl+Home", KeyEvent(0, 0x47, kCtrl), 0x7700},
      {"Ctrl+Left", KeyEvent(0, 0x4B, kCtrl), 0x7300},
      {"Ctrl+Right", KeyEvent(0, 0x4D, kCtrl), 0x7400},
      {"Ctrl+End", KeyEvent(0, 0x4F, kCtrl), 0x4F00},
      {"Ctrl+Up", KeyEvent(0, 0x48, kCtrl), 0x4800},
  };
  for (const Case& c : cases) {
    console.PushEvent(c.event);
    EXPECT_EQ(static_cast<uint16_t>(ReadOne()), c.code) << c.name;
  }
  EXPECT_EQ(ReadOne(), 0) << "nothing pending";
}

TEST_F(KeyTest, PushKeyRoundTripsEveryKeyCode) {
  // Scripted keys (MemoryConsole::PushKey) come back as the same codes, except Alt+E.
  for (int code = 1; code <= 0xFFFF; code += (code < 0x100 ? 1 : 0x100)) {
    int16_t k = static_cast<int16_t>(static_cast<uint16_t>(code & 0xFF00 ? code & 0xFF00 : code));
    if (k < 0 && static_cast<uint16_t>(k) < 0x8500) continue;  // negative codes are clicks
    if (k < 0 && static_cast<uint16_t>(k) > 0x8C00) continue;
    if (k == 0x1200) continue;
    console.PushKey(k);
    EXPECT_EQ(ReadOne(), k) << std::hex << code;
    ASSERT_EQ(console.PendingInput(), 0u);
  }
  console.PushKey(key::kAltE);
  EXPECT_EQ(ReadOne(), 0xD5);
}

TEST_F(KeyTest, AltKeypadDigitsComposeACharacter) {
  auto altPad = [&](uint8_t scanCode) {
    console.PushEvent(KeyEvent(0, scanCode, modifier::kLeftAlt));
  };
  InputEvent altUp;
  altUp.kind = InputEvent::Kind::kKeyUp;
  altUp.scan = scan::kAlt;
  altPad(0x4F);  // 1
  altPad(0x51);  // 3
  altPad(0x52);  // 0
  console.PushEvent(altUp);
  console.PushKey('z');
  EXPECT_EQ(ReadOne(), 130);
  EXPECT_EQ(ReadOne(), 'z');
  // 3 digits over 255 wrap; another key ends the entry and is kept for the next read.
  altPad(0x4D);  // 6
  altPad(0x49);  // 9
  altPad(0x4C);  // 5
  console.PushKey(key::kF1);
  EXPECT_EQ(ReadOne(), 695 % 256);
  EXPECT_EQ(ReadOne(), key::kF1);
  // A console that runs dry ends the entry as well.
  altPad(0x50);  // 2
  altPad(0x4B);  // 4
  EXPECT_EQ(ReadOne(), 24);
}

TEST_F(KeyTest, TypeAheadAndHotKeys) {
  TypeAhead() = "ab";
  console.PushKey('z');
  EXPECT_EQ(ReadOne(), 'a');
  EXPECT_EQ(ReadOne(), 'b');
  EXPECT_EQ(ReadOne(), 'z');

  // No handler: the hot key passes through.
  console.PushKey(key::kAltX);
  EXPECT_EQ(ReadOne(), key::kAltX);

  std::vector<int16_t> opened;
  SetHotKeyHandler([&](int16_t hotKey) {
    opened.push_back(hotKey);
    // A second press of the same hot key while it is open does nothing; the other one opens.
    console.PushKey(hotKey);
    EXPECT_EQ(ReadOne(), hotKey);
    return std::string(hotKey == key::kAltX ? "12" : "d");
  });
  console.PushKey(key::kAltX);
  EXPECT_EQ(ReadOne(), key::kAltX);
  EXPECT_EQ(TypeAhead(), "12");
  EXPECT_EQ(ReadOne(), '1');
  EXPECT_EQ(ReadOne(), '2');
  console.PushKey(key::kAltC);
  EXPECT_EQ(ReadOne(), key::kAltC);
  EXPECT_EQ(ReadOne(), 'd');
  EXPECT_EQ(opened, (std::vector<int16_t>{key::kAltX, key::kAltC}));
}

TEST_F(KeyTest, WaitingForAKeyRunsTheIdleHandlerUntilTheKeyComes) {
  int calls = 0;
  SetIdleHandler([&] {
    if (++calls == 3) console.PushKey('s');
  });
  int16_t key = 0;
  WaitKey(key);
  EXPECT_EQ(key, 's');
  EXPECT_EQ(calls, 3);

  // The field editor's wait too.
  calls = 0;
  SetIdleHandler([&] {
    if (++calls == 2) console.PushKey(key::kEnter);
  });
  int16_t row = 1, column = 1, position = 1;
  std::string text = "ab";
  EditField(row, column, 0, text, position, key);
  EXPECT_EQ(key, key::kEnter);
  EXPECT_EQ(calls, 2);
  SetIdleHandler(nullptr);
  RunIdleHandler();  // nothing registered: nothing happens
}

TEST_F(KeyTest, MouseEventsAndWaitKey) {
  int16_t key = 0, buttons = 0, row = 0, column = 0;
  ReadKey(key, buttons, row, column);
  EXPECT_TRUE(console.MouseReporting()) << "reporting is on while waiting";
  console.PushClick(7, 30, mouse::kRight);
  ReadKey(key, buttons, row, column);
  EXPECT_EQ(key, 0);
  EXPECT_EQ(buttons, mouse::kRight);
  EXPECT_EQ(row, 7);
  EXPECT_EQ(column, 30);
  EXPECT_FALSE(console.MouseReporting()) << "off after an event";
  ReadKey(key, buttons, row, column);  // the release: nothing
  EXPECT_EQ(buttons, 0);

  console.PushClick(5, 12);
  WaitKey(key);
  EXPECT_EQ(key, 12 * 256 + 1 * 64 + 5);
  console.PushKey(key::kEsc);
  WaitKey(key);
  EXPECT_EQ(key, key::kEsc);

  // No mouse: reporting is never switched on.
  ResetScreenState();
  console.SetHasMouse(false);
  console.SetMouseReporting(false);
  ReadKey(key, buttons, row, column);
  EXPECT_FALSE(console.MouseReporting());
}

TEST_F(KeyTest, FlushKeysDropsPendingInput) {
  console.PushText("abc");
  FlushKeys();
  EXPECT_EQ(ReadOne(), 0);
}

// Expected folds, written from the letters' Unicode names rather than the byte tables.
std::string Cp(const std::string& utf8) { return Utf8ToCp850(utf8); }

TEST(FoldTextTest, PlainModeOverAllBytes) {
  ResetScreenState();
  SetFoldMode(false);
  // Lower-case letters whose capital code page 850 has, as the library's plain mode lists them.
  const std::string small =
      Cp("abcdefghijklmnopqrstuvwxyz\u00FC\u00E9\u00E2\u00E4\u00E0\u00E5\u00E7\u00EA\u00EB\u00E8"
         "\u00EF\u00EE\u00EC\u00E6\u00F4\u00F6\u00F2\u00FB\u00F9\u00E1\u00ED\u00F3\u00FA\u00F1"
         "\u00E3\u00F0\u00F5\u00FD");
  const std::string capital =
      Cp("ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00DC\u00C9\u00C2\u00C4\u00C0\u00C5\u00C7\u00CA\u00CB\u00C8"
         "\u00CF\u00CE\u00CC\u00C6\u00D4\u00D6\u00D2\u00DB\u00D9\u00C1\u00CD\u00D3\u00DA\u00D1"
         "\u00C3\u00D0\u00D5\u00DD");
  ASSERT_EQ(small.size(), capital.size());
  ASSERT_EQ(small.find('?'), std::string::npos);
  for (int b = 0; b < 256; ++b) {
    char expected = static_cast<char>(b);
    size_t at = small.find(static_cast<char>(b));
    if (at != std::string::npos) expected = capital[at];
    EXPECT_EQ(FoldText(std::string(1, static_cast<char>(b))), std::string(1, expected))
        << "byte " << b;
  }
}

TEST(FoldTextTest, FoldingModeOverAllBytes) {
  ResetScreenState();
  SetFoldMode(true);
  struct Group {
    char letter;
    const char* utf8;
  } groups[] = {
      {'A',
       "\u00E2\u00E4\u00E0\u00E5\u00C4\u00C5\u00E6\u00C6\u00E1\u00AA\u00C1\u00C2\u00C0\u00E3"
       "\u00C3"},
      {'C', "\u00C7\u00E7"},
      {'D', "\u00F0\u00D0"},
      {'E', "\u00E9\u00EA\u00EB\u00E8\u00C9\u00CA\u00CB\u00C8\u20AC"},
      {'I', "\u00EF\u00EE\u00EC\u00ED\u00CD\u00CE\u00CF\u00CC"},
      {'N', "\u00F1\u00D1"},
      {'O', "\u00F4\u00F6\u00F2\u00D6\u00F8\u00D8\u00F3\u00BA\u00D3\u00D4\u00D2\u00F5\u00D5"},
      {'S', "\u00DF"},
      {'T', "\u00FE\u00DE"},
      {'U', "\u00FC\u00FB\u00F9\u00DC\u00FA\u00DA\u00DB\u00D9"},
      {'Y', "\u00FF\u00FD\u00DD"},
  };
  std::string expected(256, '\0');
  for (int b = 0; b < 256; ++b) {
    if (b >= 'A' && b <= 'Z')
      expected[b] = static_cast<char>(b);
    else if (b >= 'a' && b <= 'z')
      expected[b] = static_cast<char>(b - 32);
    else
      expected[b] = b >= 0x40 && b <= 0xED ? ' ' : static_cast<char>(b);
  }
  for (const Group& g : groups)
    for (char c : Cp(g.utf8)) expected[static_cast<uint8_t>(c)] = g.letter;
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string folded = FoldText(all);
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(folded[b], expected[b])
        << "byte " << b << " (U+" << std::hex
        << static_cast<int>(Cp850ToUnicode(static_cast<uint8_t>(b))) << ")";
}

}  // namespace
}  // namespace kap::test
