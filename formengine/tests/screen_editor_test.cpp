// The field editor on free-text, hidden and option fields, driven by scripted keys.
#include <vector>

#include "formengine/tests/screen_fixture.h"

namespace kap::test {
namespace {

struct Result {
  std::string text;
  int position;
  int16_t key;
};

class EditorTest : public ScreenTest {
 protected:
  // Edits `text` at row 3, column 5 with the keys given; Esc is appended to end editing when
  // the caller's keys do not.
  Result Edit(std::string text, int16_t position, std::vector<int16_t> keys, int16_t wrap = 0) {
    for (int16_t k : keys) console.PushKey(k);
    int16_t row = 3, column = 5, key = 0;
    EditField(row, column, wrap, text, position, key);
    // Only button releases may be left over.
    int16_t k = 0, b = 0, r = 0, c = 0;
    ReadKey(k, b, r, c);
    EXPECT_EQ(k | b, 0) << "keys left over";
    return {text, position, key};
  }
};

constexpr int16_t E = key::kEsc;

TEST_F(EditorTest, FreeTextEditingKeys) {
  struct Case {
    const char* name;
    const char* text;
    int start;
    bool insert;
    std::vector<int16_t> keys;
    const char* expected;
    int position;
  } cases[] = {
      {"overwrite", "abcdef", 2, false, {'X', 'Y', E}, "aXYdef", 4},
      {"overwrite at the end does nothing", "abc", 4, false, {'X', E}, "abc", 4},
      {"insert shifts and drops the last blank", "abc  ", 2, true, {'X', E}, "aXbc ", 3},
      {"insert never lengthens", "abcde", 2, true, {'X', 'Y', E}, "abcde", 2},
      {"insert at the end", "ab ", 4, true, {'X', E}, "ab ", 4},
      {"backspace", "abcd", 3, false, {key::kBackspace, E}, "acd ", 2},
      {"backspace at 1", "abcd", 1, false, {key::kBackspace, E}, "abcd", 1},
      {"delete", "abcd", 2, false, {key::kDel, E}, "acd ", 2},
      {"delete at the end", "abcd", 5, false, {key::kDel, E}, "abcd", 5},
      {"home", "abcd", 3, false, {key::kHome, E}, "abcd", 1},
      {"end after the last non-blank", "ab   ", 1, false, {key::kEnd, E}, "ab   ", 3},
      {"end of a blank field", "     ", 4, false, {key::kEnd, E}, "     ", 1},
      {"end of a full field", "abcde", 1, false, {key::kEnd, E}, "abcde", 6},
      {"ctrl+home blanks", "abcd", 3, false, {key::kCtrlHome, E}, "    ", 1},
      {"ctrl+y blanks", "abcd", 3, false, {key::kCtrlY, E}, "    ", 1},
      {"left stops at 1", "ab", 1, false, {key::kLeft, E}, "ab", 1},
      {"right stops after the end",
       "ab",
       2,
       false,
       {key::kRight, key::kRight, key::kRight, E},
       "ab",
       3},
      {"ctrl+left to word start",
       "one two,three",
       11,
       false,
       {key::kCtrlLeft, E},
       "one two,three",
       9},
      {"ctrl+left to previous word",
       "one two,three",
       9,
       false,
       {key::kCtrlLeft, E},
       "one two,three",
       5},
      {"ctrl+left without a word", "   abc", 3, false, {key::kCtrlLeft, E}, "   abc", 1},
      {"ctrl+right to next word", "one. two", 1, false, {key::kCtrlRight, E}, "one. two", 6},
      {"ctrl+right past the end", "one  ", 2, false, {key::kCtrlRight, E}, "one  ", 6},
      {"position clamped", "abc", 99, false, {E}, "abc", 4},
      {"position below 1", "abc", -3, false, {'Z', E}, "Zbc", 2},
      {"typed beyond 126 and 255 refused", "abc", 1, false, {0x7F, E}, "abc", 1},
      {"code page letters typed",
       "abc",
       1,
       false,
       {0x80, 0xA4, E},
       "\x80\xA4"
       "c",
       3},
  };
  for (const Case& c : cases) {
    ResetScreenState();
    SetInsertToggle(c.insert);
    SetKeyList("ea", "1b");
    Result r = Edit(c.text, static_cast<int16_t>(c.start), c.keys);
    EXPECT_EQ(r.text, c.expected) << c.name;
    EXPECT_EQ(r.position, c.position) << c.name;
    EXPECT_EQ(r.key, E) << c.name;
    EXPECT_EQ(r.text.size(), std::string(c.text).size()) << c.name;
  }
}

TEST_F(EditorTest, ShowsTheFieldInTheInputColourAndPlacesTheCursor) {
  CurrentSession().ScreenColours[4] = {14, 1};
  PushWindow(2, 10, 10, 60);
  console.PushKey('Q');
  console.PushKey(key::kEsc);
  std::string text = "hello";
  int16_t row = 2, column = 3, position = 3, key = 0;
  EditField(row, column, 0, text, position, key);
  // Window-relative (2, 3) is screen (4, 13).
  EXPECT_EQ(console.RowText(4, 13, 5), "heQlo");
  EXPECT_EQ(console.AttributeAt(4, 13), 0x1E);
  EXPECT_EQ(console.CursorRow(), 4);
  EXPECT_EQ(console.CursorColumn(), 13);
  EXPECT_EQ(console.Attribute(), 0x0F) << "scheme h selected on leaving";
  EXPECT_FALSE(console.CursorVisible());
  // Row and column 0 take the cursor's place.
  console.PushKey(key::kEsc);
  row = 0;
  column = 0;
  LocateInWindow(5, 7);
  EditField(row, column, 0, text, position, key);
  EXPECT_EQ(row, 5);
  EXPECT_EQ(column, 7);
  EXPECT_EQ(console.RowText(7, 17, 5), "heQlo");
  PopWindow();
}

TEST_F(EditorTest, InsertToggleSurvivesAndShapesTheCursor) {
  std::vector<int> sizes;
  console.SetIdleHandler([&](MemoryConsole& c) {
    sizes.push_back(c.CursorSize());
    c.PushKey(key::kEsc);
  });
  SetInsertToggle(false);
  Result r = Edit("ab  ", 1, {key::kIns, 'X'});
  EXPECT_EQ(r.text, "Xab ");
  EXPECT_TRUE(InsertToggle());
  EXPECT_EQ(sizes, std::vector<int>{50});
  sizes.clear();
  r = Edit("ab  ", 1, {key::kIns, 'X'});
  EXPECT_EQ(r.text, "Xb  ");
  EXPECT_EQ(sizes, std::vector<int>{99});
  EXPECT_FALSE(InsertToggle());
}

TEST_F(EditorTest, MultiLineFieldMovesByLines) {
  // 12 characters in lines of 4: rows 3, 4, 5.
  Result r = Edit("aaaabbbbcccc", 2, {key::kDown, key::kDown, 'X', key::kUp, 'Y', key::kEsc}, 4);
  EXPECT_EQ(r.text, "aaaabbYbcXcc");
  EXPECT_EQ(console.RowText(4, 5, 4), "bbYb");
  EXPECT_EQ(console.RowText(5, 5, 4), "cXcc");
  // Down from the last line and Up from the first end editing.
  r = Edit("aaaabbbbcccc", 10, {key::kDown}, 4);
  EXPECT_EQ(r.key, key::kDown);
  EXPECT_EQ(r.position, 10);
  r = Edit("aaaabbbbcccc", 3, {key::kUp}, 4);
  EXPECT_EQ(r.key, key::kUp);
  // One past the end at the start of a new line shows after the previous line's end.
  console.SetIdleHandler([&](MemoryConsole& c) {
    EXPECT_EQ(c.CursorRow(), 5);
    EXPECT_EQ(c.CursorColumn(), 9);
    c.PushKey(key::kEsc);
  });
  Edit("aaaabbbbcccc", 13, {}, 4);
}

TEST_F(EditorTest, HiddenFieldEchoesNothing) {
  SetKeyList("h", "");
  Result r = Edit("    ", 1, {'s', 'e', 'c', key::kEnter});
  EXPECT_EQ(r.text, "sec ");
  EXPECT_EQ(console.RowText(3, 5, 5), "XXXX ");
  ClearScreen();
  r = Edit("        ", 1, {'a', key::kEnter}, 4);
  EXPECT_EQ(console.RowText(3, 5, 4), "XXX ");
  EXPECT_EQ(console.RowText(4, 5, 4), "XXX ");
  SetKeyList("v", "");
  r = Edit("    ", 1, {'o', key::kEnter});
  EXPECT_EQ(console.RowText(3, 5, 4), "o   ");
}

TEST_F(EditorTest, ClipboardCopyAndPaste) {
  Edit("  some text  ", 1, {key::kCtrlC, key::kEsc});
  EXPECT_EQ(clipboard.Text(), "some text");
  clipboard.Write("", std::string("  a\x01"
                                  "b\x7F"
                                  "c\xFF"
                                  "defghij  "));
  Result r = Edit("123456", 3, {key::kCtrlV, key::kEsc});
  EXPECT_EQ(r.text, "12abcd") << "cut at the field end";
  EXPECT_EQ(r.position, 3) << "the cursor does not move";
  MemoryClipboard empty;
  SetClipboard(&empty);
  r = Edit("123456", 3, {key::kCtrlV, key::kEsc});
  EXPECT_EQ(r.text, "123456");
  SetClipboard(&clipboard);
}

TEST_F(EditorTest, SystemClipboardFileRoundTrip) {
  ScopedEnv env;  // no desktop or tmux clipboard: the file is the clipboard
  env.Unset("TMUX").Unset("DISPLAY").Unset("WAYLAND_DISPLAY");
  SetClipboard(nullptr);
  Edit("  kept  ", 1, {key::kCtrlC, key::kEsc});
  EXPECT_EQ(ReadFile(dir.file("Clipboard.tmp")), "kept");
#ifndef _WIN32  // a terminal's own clipboard; Windows has the system one
  EXPECT_EQ(console.SentClipboard(), "kept") << "also handed to the terminal";
#endif
  Result r = Edit("......", 2, {key::kCtrlV, key::kEsc});
  EXPECT_EQ(r.text, ".kept.");
}

TEST_F(EditorTest, ExitTranslationsAndFilter) {
  struct Case {
    const char* name;
    const char* keyList;
    int16_t pressed;
    int16_t reported;
  } cases[] = {
      {"tab acts as enter", "d,1b", key::kTab, key::kEnter},
      {"shift+tab acts as up", "4800,1b", key::kShiftTab, key::kUp},
      {"enter acts as end when end is listed", "d,4f00,1b", key::kEnter, key::kEnd},
      {"tab acts as end too", "4f00", key::kTab, key::kEnd},
      {"ctrl+f4 acts as esc", "1b", key::kCtrlF4, key::kEsc},
      {"alt+f4 acts as esc", "1b", key::kAltF4, key::kEsc},
      {"reported under its code", "d=3b00,1b", key::kEnter, key::kF1},
      {"empty list passes all", "", key::kF10, key::kF10},
      {"F12 is negative and passes like a click", "1b", key::kF12, key::kF12},
  };
  for (const Case& c : cases) {
    ResetScreenState();
    SetKeyList("ea", c.keyList);
    Result r = Edit("abc", 1, {c.pressed});
    EXPECT_EQ(r.key, c.reported) << c.name;
  }
  // Keys outside the list are swallowed and editing goes on.
  ResetScreenState();
  SetKeyList("ea", "1b");
  Result r = Edit("abc", 1, {key::kF1, key::kEnter, key::kPgDn, 'Z', key::kEsc});
  EXPECT_EQ(r.text, "Zbc");
  EXPECT_EQ(console.Beeps(), 0);
}

TEST_F(EditorTest, MouseClicks) {
  SetKeyList("ea", "1b");
  // Inside the field (row 3, columns 5-10): the cursor moves there.
  Result r = Edit("abcdef", 1, {-(8 * 100 + 3), 'X', key::kEsc});
  EXPECT_EQ(r.text, "abcXef");
  // Outside: ends with the click, which passes the key list.
  r = Edit("abcdef", 1, {-(11 * 100 + 3)});
  EXPECT_EQ(r.key, -(11 * 100 + 3));
  r = Edit("aaaabbbb", 1, {-(6 * 100 + 4), 'X', -(40 * 100 + 20)}, 4);
  EXPECT_EQ(r.text, "aaaabXbb");
  EXPECT_EQ(r.key, -(40 * 100 + 20));
}

TEST_F(EditorTest, OptionFields) {
  const std::string options = "|S,S\xA1|N,No|E,Espera|\x90,\x90s|X,Ext";
  SetKeyList("ea", "d,1b");
  struct Case {
    const char* name;
    const char* text;
    std::vector<int16_t> keys;
    const char* expected;
  } cases[] = {
      {"unknown value shows the first", "Q", {key::kEnter}, "S"},
      {"right", "S", {key::kRight, key::kEnter}, "N"},
      {"right wraps", "X", {key::kRight, key::kEnter}, "S"},
      {"left wraps", "S", {key::kLeft, key::kEnter}, "X"},
      {"space as right", "N", {' ', key::kEnter}, "E"},
      {"typed letter finds the next code", "S", {'e', key::kEnter}, "E"},
      {"folded: e also finds \x90", "E", {'e', key::kEnter}, "\x90"},
      {"search starts again from the top", "\x90", {'e', key::kEnter}, "E"},
      {"no match, no change", "N", {'z', key::kEnter}, "N"},
      {"editing keys do nothing", "N", {key::kDel, key::kBackspace, key::kCtrlY, key::kEnter}, "N"},
      {"click on the left marker", "N", {-(4 * 100 + 3), key::kEnter}, "S"},
      {"click on the right marker", "N", {-(11 * 100 + 3), key::kEnter}, "E"},
      {"click inside ignored", "N", {-(7 * 100 + 3), key::kEnter}, "N"},
  };
  for (const Case& c : cases) {
    SetFieldOptions(options);
    Result r = Edit(c.text, 1, c.keys);
    EXPECT_EQ(r.text, c.expected) << c.name;
  }
  // Markers around the display width (6, "Espera") while editing, blanked afterwards.
  SetFieldOptions(options);
  console.SetIdleHandler([&](MemoryConsole& c) {
    EXPECT_EQ(c.ReadCell(3, 4).character, kMarkerLeft);
    EXPECT_EQ(c.ReadCell(3, 11).character, kMarkerRight);
    EXPECT_EQ(c.RowText(3, 5, 6), "No    ");
    c.PushKey(key::kEsc);
  });
  Edit("N", 1, {});
  EXPECT_EQ(console.RowText(3, 4, 1), " ");
  EXPECT_EQ(console.RowText(3, 11, 1), " ");
  console.SetIdleHandler(nullptr);
  // A click outside ends; Ctrl+C copies the display text; a wider field is padded.
  SetFieldOptions(options);
  Result r = Edit("N  ", 1, {key::kCtrlC, -(20 * 100 + 9)});
  EXPECT_EQ(r.key, -(20 * 100 + 9));
  EXPECT_EQ(r.text, "N  ");
  EXPECT_EQ(clipboard.Text(), "No");
  SetFieldOptions("");
}

TEST_F(EditorTest, HotKeyResultIsTypedIntoTheFieldWithTheFieldsKeyList) {
  // The pop-up sets its own list the usual way ("+e" ... "-"); the form had saved an empty one.
  SetHotKeyHandler([](int16_t) {
    SetKeyList("+e", "");
    SetKeyList("-", "");
    return std::string("42");
  });
  SetKeyList("+ea", "1b");
  Result r = Edit("     ", 2, {key::kAltX, key::kEsc});
  EXPECT_EQ(r.text, " 42  ");
  EXPECT_EQ(r.key, key::kEsc) << "Alt+X is still outside the field's list";
  int16_t reported = 0;
  EXPECT_FALSE(LookupKey(key::kAltX, &reported));
  SetKeyList("-", "");
  EXPECT_TRUE(LookupKey(key::kAltX, &reported)) << "the form's own save slot survives";
}

}  // namespace
}  // namespace kap::test
