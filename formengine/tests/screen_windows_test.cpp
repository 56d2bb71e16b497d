// Windows, frames, message boxes, colours and text formatting on the in-memory console.
#include <vector>

#include "formengine/tests/screen_fixture.h"

namespace kap::test {
namespace {

using WindowTest = ScreenTest;

std::vector<Cell> Snapshot(const MemoryConsole& c) {
  std::vector<Cell> cells;
  for (int r = 1; r <= c.Rows(); ++r)
    for (int col = 1; col <= c.Columns(); ++col) cells.push_back(c.ReadCell(r, col));
  return cells;
}

TEST_F(WindowTest, PushPopRestoresCellsColoursAndCursor) {
  Paint();
  console.SetCursor(3, 7);
  auto before = Snapshot(console);
  PushWindow(5, 10, 8, 40);
  ASSERT_EQ(CurrentWindow().depth, 1);
  // Pushing leaves the screen alone; the record holds 4 x 31 cells.
  EXPECT_EQ(Snapshot(console), before);
  std::string stack = ReadFile(StackFile());
  ASSERT_EQ(stack.size(), 4u + 273u);
  EXPECT_EQ(stack.substr(4, 20), "03070000000005100840");
  EXPECT_EQ(stack.substr(stack.size() - 5), "00273");
  EXPECT_EQ(stack.substr(0, 4), std::string("\x16\x01\x00\x00", 4));  // next position 278

  SetColour("n");
  DrawFrame(2);
  LocateInWindow(1, 1);
  WriteText("inside");
  EXPECT_NE(Snapshot(console), before);
  PopWindow();
  EXPECT_EQ(Snapshot(console), before);
  EXPECT_EQ(console.CursorRow(), 3);
  EXPECT_EQ(console.CursorColumn(), 7);
  EXPECT_EQ(CurrentWindow().depth, 0);
  EXPECT_FALSE(FileExists(StackFile()));
  // The colour left in force is that of the last cell put back.
  EXPECT_EQ(console.Attribute(), console.ReadCell(8, 40).attribute);
}

TEST_F(WindowTest, NestedWindowsRestoreTheEnclosingRectangle) {
  Paint();
  auto before = Snapshot(console);
  PushWindow(2, 2, 20, 70);
  DrawFrame(1);
  auto middle = Snapshot(console);
  PushWindow(5, 10, 8, 40);
  EXPECT_EQ(CurrentWindow().depth, 2);
  DrawFrame(2);
  std::string stack = ReadFile(StackFile());
  // Second record names the first window as the enclosing one.
  size_t second = 4 + 20 + 2 * 19 * 69 + 5;
  EXPECT_EQ(stack.substr(second + 4, 16), "0202207005100840");
  PopWindow();
  EXPECT_EQ(CurrentWindow().depth, 1);
  EXPECT_EQ(CurrentWindow().rect.top, 2);
  EXPECT_EQ(CurrentWindow().rect.right, 70);
  EXPECT_EQ(Snapshot(console), middle);
  EXPECT_TRUE(FileExists(StackFile()));
  PopWindow();
  EXPECT_EQ(Snapshot(console), before);
  EXPECT_FALSE(FileExists(StackFile()));
}

TEST_F(WindowTest, RectangleOutsideTheScreenIsNotPushed) {
  PushWindow(2, 2, 10, 30);
  for (auto r : std::vector<std::vector<int16_t>>{
           {0, 1, 5, 5}, {1, 1, 26, 5}, {1, 0, 5, 5}, {1, 1, 5, 81}, {9, 1, 5, 5}, {1, 9, 5, 5}}) {
    PushWindow(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(CurrentWindow().depth, 1) << r[0] << "," << r[1] << "," << r[2] << "," << r[3];
  }
  // The caller's matching pop closes the enclosing window instead.
  PopWindow();
  EXPECT_EQ(CurrentWindow().depth, 0);
  EXPECT_FALSE(FileExists(StackFile()));
}

TEST_F(WindowTest, PopOnEmptyOrDamagedStackChangesNothing) {
  Paint();
  auto before = Snapshot(console);
  WriteFile(StackFile(), "ab");
  PopWindow();
  EXPECT_EQ(Snapshot(console), before);
  EXPECT_FALSE(FileExists(StackFile()));
  for (std::string junk : {std::string("\xff\xff\xff\x7fjunk", 8),
                           std::string("\x30\x00\x00\x00", 4) + std::string(44, '9')}) {
    WriteFile(StackFile(), junk);
    PushWindow(1, 1, 2, 2);  // a damaged header starts the stack again
    PopWindow();
    EXPECT_EQ(Snapshot(console), before);
    WriteFile(StackFile(), junk);
    PopWindow();
    EXPECT_EQ(Snapshot(console), before);
    EXPECT_FALSE(FileExists(StackFile()));
  }
}

TEST_F(WindowTest, LeftoverStackIsAppendedTo) {
  PushWindow(1, 1, 1, 2);
  ResetScreenState();  // a program that ended with a window open
  PushWindow(3, 3, 3, 3);
  std::string stack = ReadFile(StackFile());
  EXPECT_EQ(stack.size(), 4u + 29u + 27u);
  PopWindow();
  EXPECT_TRUE(FileExists(StackFile()));  // the old record is still there
}

TEST_F(WindowTest, WindowCoordinatesAndMeasures) {
  EXPECT_EQ(WindowOriginRow(), 1);
  EXPECT_EQ(LastWindowColumn(), 80);
  EXPECT_EQ(ScreenRows(), 25);
  PushWindow(4, 10, 12, 50);
  EXPECT_EQ(WindowOriginRow(), 5);
  EXPECT_EQ(WindowOriginColumn(), 11);
  EXPECT_EQ(LastWindowColumn(), 49);
  LocateInWindow(1, 1);
  EXPECT_EQ(console.CursorRow(), 5);
  EXPECT_EQ(console.CursorColumn(), 11);
  PopWindow();
}

TEST_F(WindowTest, FrameStylesDrawBordersAndClearTheInside) {
  Paint();
  DrawFrame(1);  // no window: nothing
  EXPECT_EQ(console.ReadCell(1, 1).character, 'A' + 8);
  struct Case {
    int style;
    std::string top, middle, bottom;
  } cases[] = {{1, "\xDA\xC4\xC4\xBF", "\xB3  \xB3", "\xC0\xC4\xC4\xD9"},
               {2, "\xC9\xCD\xCD\xBB", "\xBA  \xBA", "\xC8\xCD\xCD\xBC"},
               {0, "    ", "    ", "    "}};
  for (const Case& c : cases) {
    PushWindow(2, 3, 4, 6);
    SetColour("r");
    DrawFrame(static_cast<int16_t>(c.style));
    EXPECT_EQ(console.RowText(2, 3, 4), c.top) << c.style;
    EXPECT_EQ(console.RowText(3, 3, 4), c.middle) << c.style;
    EXPECT_EQ(console.RowText(4, 3, 4), c.bottom) << c.style;
    EXPECT_EQ(console.AttributeAt(3, 4), 0x70) << c.style;
    EXPECT_NE(console.RowText(3, 7, 1), " ") << "outside the frame";
    PopWindow();
  }
}

TEST_F(WindowTest, ColourCommandsAndTheirStack) {
  CurrentSession().ScreenColours[0] = {15, 1};
  CurrentSession().ScreenColours[1] = {7, 2};
  CurrentSession().ScreenColours[2] = {0, 3};
  CurrentSession().ScreenColours[3] = {4, 5};
  CurrentSession().ScreenColours[4] = {14, 6};
  struct Step {
    const char* command;
    uint8_t attribute;
  } steps[] = {{"n", 0x27}, {"+r", 0x30}, {"+U", 0x6E},  {"-", 0x30}, {"-", 0x27},
               {"-", 0x1F}, {"nr", 0x54}, {"   ", 0x54}, {"H", 0x1F}, {"+Rn", 0x54},
               {"x", 0x1F}, {"-", 0x1F},  {"u", 0x6E}};
  for (const Step& s : steps) {
    SetColour(s.command);
    EXPECT_EQ(console.Attribute(), s.attribute) << "after \"" << s.command << "\"";
  }
}

TEST_F(WindowTest, MessageBoxGeometry) {
  struct Case {
    int row;
    size_t length;
    int top, left, bottom, right;
  } cases[] = {
      {12, 30, 9, 24, 11, 57},  // the usual one-line message
      {12, 1, 9, 38, 11, 42},      {25, 30, 22, 24, 24, 57},
      {25, 76 * 4, 20, 1, 25, 80},  // four lines pushed up from the bottom edge
      {2, 30, 1, 24, 3, 57},        // held at row 1
      {12, 0, 9, 39, 11, 42},       // empty text still gets a box the caller can pop
  };
  for (const Case& c : cases) {
    Paint();
    console.SetAttribute(0x1E);
    std::string text(c.length, 'm');
    ShowMessage(static_cast<int16_t>(c.row), text);
    ASSERT_EQ(CurrentWindow().depth, 1) << c.row << " " << c.length;
    const WindowRect& w = CurrentWindow().rect;
    EXPECT_EQ(std::vector<int>({w.top, w.left, w.bottom, w.right}),
              std::vector<int>({c.top, c.left, c.bottom, c.right}))
        << "row " << c.row << " length " << c.length;
    EXPECT_EQ(console.ReadCell(c.top, c.left).character, 0xDA);
    if (c.length > 0 && c.length <= 76) {
      EXPECT_EQ(console.RowText(c.top + 1, c.left + 2, static_cast<int>(c.length)), text);
    }
    EXPECT_EQ(console.AttributeAt(c.top + 1, c.left + 1), 0x70);
    EXPECT_EQ(console.Attribute(), 0x0F) << "colour scheme restored";
    PopWindow();
  }
}

TEST_F(WindowTest, MessageWiderLinesAndTooTall) {
  ShowMessage(12, std::string(100, 'w'));  // two lines, 76 and 24 wide
  EXPECT_EQ(CurrentWindow().rect.top, 9);
  EXPECT_EQ(CurrentWindow().rect.bottom, 12);
  EXPECT_EQ(CurrentWindow().rect.left, 1);
  EXPECT_EQ(CurrentWindow().rect.right, 80);
  PopWindow();
  // 30 lines cannot fit anywhere: nothing shown, the colour still restored.
  SetColour("n");
  ShowMessage(12, std::string(76 * 30, 'w'));
  EXPECT_EQ(CurrentWindow().depth, 0);
  EXPECT_EQ(console.Attribute(), 0x07);
}

TEST(WrapTextTest, Modes) {
  struct Case {
    const char* text;
    int indent, width;
    const char* mode;
    const char* expected;
  } cases[] = {
      {"aa bb cc", 0, 5, "l", "aa bbcc   "},
      {"aa bb cc", 0, 5, "I", "aa bbcc   "},
      {"aa bb cc", 0, 5, "e", "aa bbcc   "},
      {"aa bb cc", 0, 5, "n", "aa bbcc---"},
      {"aa bb cc", 0, 5, "R", "aa bb   cc"},
      {"aa bb cc", 0, 5, "d", "aa bb   cc"},
      {"ab c", 0, 7, "c", " ab c  "},
      {"aa b cc eeeeee", 0, 10, "a", "aa   b  cceeeeee"},
      {"a b c d", 0, 9, "B", "a b c d"},
      {"a  b c ddd", 0, 7, "a", "a   b cddd"},
      {"aa bb cc", 0, 5, "?", "aa bbcc"},
      {"aa bb cc", 2, 6, "l", "  aa  bb cc "},
      {"aa bb cc dd", -2, 5, "l", "aa bb  cc   dd "},
      {"abcdefghij", 0, 4, "l", "abcdefghij  "},
      {"a   b", 0, 2, "l", "a b "},
      {"\x01"
       "abc de",
       0, 3, "l",
       "\x01"
       "abcde "},
      {"", 0, 5, "l", ""},
      {"abc", 0, 0, "l", "abc"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    WrapText(text, static_cast<int16_t>(c.indent), static_cast<int16_t>(c.width), c.mode);
    EXPECT_EQ(text, c.expected) << '"' << c.text << "\" indent " << c.indent << " width " << c.width
                                << " mode " << c.mode;
  }
  std::string longWord(100, 'x');
  WrapText(longWord, 0, 76, "i");
  EXPECT_EQ(longWord, std::string(100, 'x') + std::string(52, ' '));
}

TEST(ZeroPadTest, Digits) {
  EXPECT_EQ(ZeroPad(5, 2), "05");
  EXPECT_EQ(ZeroPad(273, 5), "00273");
  EXPECT_EQ(ZeroPad(1234, 2), "34");
  EXPECT_EQ(ZeroPad(0, 3), "000");
  EXPECT_EQ(ZeroPad(7, 0), "");
}

TEST_F(WindowTest, ScrollRegionMovesRowsAndBlanks) {
  for (int r = 1; r <= 5; ++r) {
    console.SetCursor(r, 1);
    console.Write(std::string(1, static_cast<char>('0' + r)) + "xyz");
  }
  SetColour("r");
  ScrollRegion(0, 0, 3, 1, 1);  // rows 1-4, columns 1-2, up one
  EXPECT_EQ(console.RowText(1, 1, 4), "2xyz");
  EXPECT_EQ(console.RowText(3, 1, 4), "4xyz");
  EXPECT_EQ(console.RowText(4, 1, 4), "  yz");
  EXPECT_EQ(console.AttributeAt(4, 1), 0x70);
  ScrollRegion(0, 0, 4, 0, -2);  // column 1 down two
  EXPECT_EQ(console.RowText(1, 1, 1), " ");
  EXPECT_EQ(console.RowText(3, 1, 1), "2");
  ScrollRegion(20, 70, 40, 100, 3);  // partly off the screen: clipped, no crash
}

TEST_F(WindowTest, SmallOrResizedConsoleDoesNotBreakWindows) {
  MemoryConsole small(10, 40);
  SetConsole(&small);
  PushWindow(5, 10, 12, 50);  // does not fit
  EXPECT_EQ(CurrentWindow().depth, 0);
  ShowMessage(5, "hello");  // centred on column 41: off this screen, not shown
  EXPECT_EQ(CurrentWindow().depth, 0);
  PopWindow();
  PushWindow(2, 2, 9, 39);
  DrawFrame(1);
  small.Resize(6, 20);  // the window now hangs off the screen
  LocateInWindow(7, 30);
  WriteText("abc");
  DrawFrame(2);
  PopWindow();
  EXPECT_EQ(CurrentWindow().depth, 0);
  small.Resize(30, 120);
  ClearScreen();
  EXPECT_EQ(small.CursorRow(), 1);
  // Coordinates past 99 cannot be recorded in the stack file: such a window is not pushed.
  PushWindow(1, 90, 5, 100);
  EXPECT_EQ(CurrentWindow().depth, 0);
  PushWindow(1, 90, 5, 99);
  EXPECT_EQ(CurrentWindow().depth, 1);
  PopWindow();
}

}  // namespace
}  // namespace kap::test
