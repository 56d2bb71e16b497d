// The Windows console's key records as the engine's console events, and through ReadKey's
// rules the suite's key codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "platform/windows_keys.h"

namespace kap {
namespace {

using namespace winkey;

constexpr uint32_t kNumLock = 0x20;

struct KeyCase {
  const char* what;
  WinKeyRecord record;
  Decoded decoded;
  uint8_t character, scan, modifiers;
};

// Records as the console reports them: virtual key, scan code, character, control state.
const KeyCase kKeyCases[] = {
    {"letter", {true, 'A', 0x1E, u'a', 0}, Decoded::kEvent, 'a', 0x1E, 0},
    {"capital with Shift",
     {true, 'A', 0x1E, u'A', kShift},
     Decoded::kEvent,
     'A',
     0x1E,
     modifier::kShift},
    {"accented letter to code page 850",
     {true, 0xBA, 0x1A, u'\u00E9', 0},
     Decoded::kEvent,
     0x82,
     0x1A,
     0},
    {"euro sign to 0xD5",
     {true, 'E', 0x12, u'\u20AC', kRightAlt | kLeftCtrl},
     Decoded::kEvent,
     0xD5,
     0x12,
     modifier::kCtrl | modifier::kRightAlt},
    {"character outside code page 850", {true, 0, 0, u'\u4E2D', 0}, Decoded::kIgnore, 0, 0, 0},
    {"Ctrl+C as character 3",
     {true, 'C', 0x2E, 3, kLeftCtrl},
     Decoded::kEvent,
     3,
     0x2E,
     modifier::kCtrl},
    {"Alt+X keeps the letter and its scan",
     {true, 'X', 0x2D, u'x', kLeftAlt},
     Decoded::kEvent,
     'x',
     0x2D,
     modifier::kLeftAlt},
    {"Alt+C with no character",
     {true, 'C', 0x2E, 0, kLeftAlt},
     Decoded::kEvent,
     'c',
     0x2E,
     modifier::kLeftAlt},
    {"Enter", {true, 0x0D, 0x1C, u'\r', 0}, Decoded::kEvent, 0x0D, 0x1C, 0},
    {"Esc", {true, 0x1B, 0x01, 0x1B, 0}, Decoded::kEvent, 0x1B, 0x01, 0},
    {"Tab", {true, kVkTab, 0x0F, u'\t', 0}, Decoded::kEvent, 9, 0x0F, 0},
    {"Shift+Tab is extended",
     {true, kVkTab, 0x0F, u'\t', kShift},
     Decoded::kEvent,
     0,
     0x0F,
     modifier::kShift},
    {"F1", {true, kVkF1, 0x3B, 0, 0}, Decoded::kEvent, 0, 0x3B, 0},
    {"Shift+F10", {true, kVkF1 + 9, 0x44, 0, kShift}, Decoded::kEvent, 0, 0x44, modifier::kShift},
    {"F11 by its BIOS code, not scan 0x57",
     {true, kVkF11, 0x57, 0, 0},
     Decoded::kEvent,
     0,
     0x85,
     0},
    {"Ctrl+F12", {true, kVkF12, 0x58, 0, kRightCtrl}, Decoded::kEvent, 0, 0x86, modifier::kCtrl},
    {"grey Up", {true, 0x26, 0x48, 0, kEnhanced}, Decoded::kEvent, 0, 0x48, 0},
    {"Up from a console without scan codes", {true, 0x26, 0, 0, 0}, Decoded::kEvent, 0, 0x48, 0},
    {"Ctrl+Home",
     {true, 0x24, 0x47, 0, kLeftCtrl | kEnhanced},
     Decoded::kEvent,
     0,
     0x47,
     modifier::kCtrl},
    {"Del", {true, 0x2E, 0x53, 0, kEnhanced}, Decoded::kEvent, 0, 0x53, 0},
    {"Ins", {true, 0x2D, 0x52, 0, kEnhanced}, Decoded::kEvent, 0, 0x52, 0},
    {"keypad centre", {true, 0x0C, 0x4C, 0, 0}, Decoded::kEvent, 0, 0x4C, 0},
    {"keypad 7 with NumLock is a digit",
     {true, 0x67, 0x47, u'7', kNumLock},
     Decoded::kEvent,
     '7',
     0x47,
     0},
    {"grey Home with Alt is no keypad digit",
     {true, 0x24, 0x47, 0, kLeftAlt | kEnhanced},
     Decoded::kEvent,
     0,
     0x47,
     modifier::kLeftAlt},
    {"Shift alone", {true, kVkShift, 0x2A, 0, kShift}, Decoded::kIgnore, 0, 0, 0},
    {"Ctrl alone", {true, kVkControl, 0x1D, 0, kLeftCtrl}, Decoded::kIgnore, 0, 0, 0},
    {"a release", {false, 'A', 0x1E, u'a', 0}, Decoded::kIgnore, 0, 0, 0},
    {"unknown key without a character",
     {true, 0x5D, 0x5D, 0, kEnhanced},
     Decoded::kIgnore,
     0,
     0,
     0},
};

TEST(WindowsKeys, RecordsBecomeConsoleEvents) {
  for (const KeyCase& c : kKeyCases) {
    AltKeypadState state;
    InputEvent e;
    ASSERT_EQ(TranslateWinKey(c.record, &state, &e), c.decoded) << c.what;
    if (c.decoded != Decoded::kEvent) continue;
    EXPECT_EQ(e.kind, InputEvent::Kind::kKeyDown) << c.what;
    EXPECT_EQ(e.character, c.character) << c.what;
    EXPECT_EQ(e.scan, c.scan) << c.what;
    EXPECT_EQ(e.modifiers, c.modifiers) << c.what;
  }
}

// Alt held, keypad 1 3 0, Alt released: the digits go to the engine, which composes them, and
// the release ends the entry; the console's own composed character on the release is dropped.
TEST(WindowsKeys, AltKeypadDigitsReachTheEngine) {
  const std::vector<WinKeyRecord> records = {
      {true, kVkMenu, 0x38, 0, kLeftAlt},
      {true, 0x23, 0x4F, 0, kLeftAlt},             // keypad 1 (NumLock off)
      {true, 0x61, 0x4F, 0, kLeftAlt | kNumLock},  // keypad 1 (NumLock on)
      {true, 0x2D, 0x52, 0, kLeftAlt},             // keypad 0
      {false, kVkMenu, 0x38, u'\u00E9', 0},        // the release, with what the console composed
  };
  AltKeypadState state;
  std::vector<InputEvent> events;
  for (const WinKeyRecord& r : records) {
    InputEvent e;
    if (TranslateWinKey(r, &state, &e) == Decoded::kEvent) events.push_back(e);
  }
  ASSERT_EQ(events.size(), 4u);
  const uint8_t scans[] = {0x4F, 0x4F, 0x52};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].kind, InputEvent::Kind::kKeyDown) << i;
    EXPECT_EQ(events[i].character, 0) << i;
    EXPECT_EQ(events[i].scan, scans[i]) << i;
    EXPECT_EQ(events[i].modifiers, modifier::kLeftAlt) << i;
  }
  EXPECT_EQ(events[3].kind, InputEvent::Kind::kKeyUp);
  EXPECT_EQ(events[3].scan, scan::kAlt);
}

// A console that composes Alt + keypad digits without passing the digit keys on (a paste of
// a character the keyboard lacks) delivers only the release: its character is typed.
TEST(WindowsKeys, CharacterComposedByTheConsoleIsTyped) {
  AltKeypadState state;
  InputEvent e;
  ASSERT_EQ(TranslateWinKey({true, kVkMenu, 0x38, 0, kLeftAlt}, &state, &e), Decoded::kIgnore);
  ASSERT_EQ(TranslateWinKey({false, kVkMenu, 0x38, u'\u00E7', 0}, &state, &e), Decoded::kEvent);
  EXPECT_EQ(e.kind, InputEvent::Kind::kKeyDown);
  EXPECT_EQ(e.character, 0x87);  // ç
  EXPECT_EQ(e.modifiers, 0);
  // A plain Alt release still ends a composition the engine may be waiting on.
  ASSERT_EQ(TranslateWinKey({false, kVkMenu, 0x38, 0, 0}, &state, &e), Decoded::kEvent);
  EXPECT_EQ(e.kind, InputEvent::Kind::kKeyUp);
}

}  // namespace
}  // namespace kap
