// The help viewer over real help files on disk, driven by scripted keys.
#include <sys/stat.h>

#include <string>

#include "formengine/tests/form_test_support.h"

namespace kap::test {
namespace {

// A help file of fixed 80-byte lines; each text is padded with blanks and ends in CR LF.
std::string HelpFile(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) {
    std::string line = l.substr(0, 78);
    line.resize(78, ' ');
    out += line + "\r\n";
  }
  return out;
}

std::string LineText(int n) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "Line %02d", n);
  return buffer;
}

std::vector<std::string> NumberedLines(int count) {
  std::vector<std::string> lines;
  for (int i = 1; i <= count; ++i) lines.push_back(LineText(i));
  return lines;
}

class HelpViewerTest : public FormsTest {
 protected:
  void SetUp() override {
    FormsTest::SetUp();
    savedDir_ = GetOs().CurrentDir();
    ASSERT_TRUE(GetOs().ChangeDir(work.path()));
    // Stored in other letter cases than the engine asks for: the path maps.
    MakeDirs(work.file("Ajuda"));
  }
  void TearDown() override {
    GetOs().ChangeDir(savedDir_);
    FormsTest::TearDown();
  }
  void WriteHelp(const std::string& name, const std::vector<std::string>& lines) {
    WriteFile(work.file("Ajuda/" + name), HelpFile(lines));
  }
  // The 17 rows of the viewer (screen rows 5 to 21, text from column 3) show lines
  // first ... first + 16; `last` lines exist, rows past them are blank.
  void ExpectPage(int first, int last = 40) {
    for (int r = 1; r <= 17; ++r) {
      int line = first + r - 1;
      std::string expected = line <= last ? LineText(line) : "       ";
      EXPECT_EQ(At(4 + r, 3, 7), expected) << "window row " << r << ", page from " << first;
    }
  }
  Step Expect(int first, int16_t then, int last = 40) {
    return CheckThen([=, this] { ExpectPage(first, last); }, then);
  }

 private:
  std::string savedDir_;
};

TEST_F(HelpViewerTest, FortyLinesWithEveryKey) {
  WriteHelp("topic.hlp", NumberedLines(40));
  console.SetCursor(4, 1);
  WriteText("before");
  // The frame spans rows 4 to 22, columns 1 to 80; other keys are ignored.
  script.Add(CheckThen(
      [&] {
        EXPECT_EQ(At(4, 1, 1), "\xC9");
        EXPECT_EQ(At(22, 80, 1), "\xBC");
      },
      'x'));
  script.Add({Expect(1, key::kEnd), Expect(24, key::kPgUp), Expect(8, key::kPgUp),
              Expect(1, key::kDown),
              // Scrolling moves the inside only: the frame stays where it is.
              CheckThen(
                  [&] {
                    ExpectPage(2);
                    EXPECT_EQ(At(5, 1, 1), "\xBA");
                    EXPECT_EQ(At(21, 80, 1), "\xBA");
                    EXPECT_EQ(At(22, 2, 1), "\xCD");
                  },
                  key::kUp),
              Expect(1, key::kUp), Expect(1, key::kHome), Expect(1, key::kPgDn),
              Expect(18, key::kPgDn), Expect(24, key::kDown), Expect(24, key::kEnd),
              Expect(24, key::kHome), Expect(1, key::kEsc)});
  ShowHelp("TOPIC");
  EXPECT_EQ(At(4, 1, 6), "before");
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(HelpViewerTest, ControlBytesSwitchColoursAndTakeNoCell) {
  std::string mixed =
      "\x1E"
      "Bold"
      "\x1E"
      " plain \x1F"
      "in"
      "\x1E"
      "put"
      "\x1F"
      " \x10"
      "rev"
      "\x10";
  std::string longLine =
      "\x1E"
      "a"
      "\x1E" +
      std::string(80, 'b');
  // Four control bytes leave room for the record's CR LF among the 76 characters shown.
  std::string fullLine =
      "\x1E"
      "x"
      "\x1E"
      "\x1E"
      "y"
      "\x1E" +
      std::string(72, 'c');
  WriteHelp("colours.hlp", {mixed, "no controls here", longLine, fullLine});
  script.Add(CheckThen(
      [&] {
        EXPECT_EQ(At(5, 3, 21), "Bold plain input rev ");
        struct Cell {
          int column;
          uint8_t attribute;
        };
        const Cell cells[] = {{3, 0x0F},  {6, 0x0F},  {7, 0x07},  {8, 0x07},  {14, 0x70},
                              {16, 0x70}, {18, 0x70}, {19, 0x07}, {20, 0x70}, {22, 0x70}};
        for (const Cell& c : cells) {
          EXPECT_EQ(console.AttributeAt(5, c.column), c.attribute) << "column " << c.column;
        }
        EXPECT_EQ(At(6, 3, 16), "no controls here");
        EXPECT_EQ(console.AttributeAt(6, 3), 0x07);
        // 76 characters at most: 'a' and 75 of the 'b's.
        EXPECT_EQ(At(7, 3, 76), "a" + std::string(75, 'b'));
        EXPECT_EQ(At(7, 79, 1), " ");
        EXPECT_EQ(At(8, 3, 74), "xy" + std::string(72, 'c'));
        EXPECT_EQ(At(8, 77, 2), "  ") << "the record's line end is not drawn";
      },
      key::kEsc));
  ShowHelp("COLOURS");
}

TEST_F(HelpViewerTest, AShortFileIgnoresTheKeysThatWouldGoForward) {
  WriteHelp("short.hlp", NumberedLines(5));
  script.Add({Expect(1, key::kDown, 5), Expect(1, key::kPgDn, 5), Expect(1, key::kEnd, 5),
              Expect(1, key::kUp, 5), Expect(1, key::kEsc, 5)});
  ShowHelp("SHORT");
}

TEST_F(HelpViewerTest, AMissingFileShowsAnEmptyViewer) {
  script.Add({Expect(1, key::kDown, 0), Expect(1, key::kEsc, 0)});
  ShowHelp("NOSUCH");
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(HelpViewerTest, F1OpensTheGeneralTopicOnceOverTheCurrentOne) {
  WriteHelp("topic.hlp", NumberedLines(40));
  WriteHelp("UAUXMENU.HLP", {"Using the suite"});
  script.Add({Expect(1, key::kF1),
              CheckThen(
                  [&] {
                    EXPECT_EQ(At(5, 3, 15), "Using the suite");
                    EXPECT_EQ(CurrentWindow().depth, 2);
                  },
                  key::kF1),
              CheckThen([&] { EXPECT_EQ(CurrentWindow().depth, 2); }, key::kEsc),
              CheckThen(
                  [&] {
                    EXPECT_EQ(CurrentWindow().depth, 1);
                    ExpectPage(1);
                  },
                  key::kEsc)});
  ShowHelp("TOPIC");
  EXPECT_EQ(CurrentWindow().depth, 0);
}

TEST_F(HelpViewerTest, F1InAFieldOpensTheHelpOfTheMenuName) {
  WriteHelp("topic.hlp", NumberedLines(40));
  CreateForms(1, 1);
  FormKeys(1) = "d,1b";
  FieldCount(1) = 1;
  FieldAttr(1, 0, 1) = 2;
  FieldAttr(1, 1, 1) = 1;
  FieldAttr(1, 2, 1) = 4;
  FieldValue(1, 1) = "    ";
  int16_t form = 1, up = 0, down = 0, key = 0;

  // Without a menu name F1 shows nothing and edits the field again.
  script.Add({Key(key::kF1), CheckThen([&] { EXPECT_EQ(CurrentWindow().depth, 0); }, key::kEsc)});
  RunForm(form, up, down, key);

  CurrentSession().MenuName = "TOPIC   ";
  script.Add({Key(key::kF1), Expect(1, key::kEsc),
              CheckThen([&] { EXPECT_EQ(CurrentWindow().depth, 0); }, key::kEsc)});
  RunForm(form, up, down, key);
  EXPECT_TRUE(script.Done());
  EXPECT_TRUE(hooks.Calls("CheckField").empty()) << Joined(hooks.log);
}

TEST_F(HelpViewerTest, AWindowsSessionHandsTheDocumentToTheLauncher) {
#ifdef _WIN32
  GTEST_SKIP() << "the stand-in interpreter is a shell script";
#endif
  // A stand-in command interpreter that records the command it was given.
  const std::string recorder = work.file("comspec.sh");
  WriteFile(recorder, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + work.file("args.txt") + "'\n");
  ASSERT_EQ(::chmod(recorder.c_str(), 0755), 0);
  ScopedEnv env;
  env.Set("COMSPEC", recorder);
  CurrentSession().RunMode = "WIN";
  ShowHelp("TOPIC");
  EXPECT_EQ(ReadFile(work.file("args.txt")), "/C\nUOPEN\nAJUDA\\TOPIC.HTM\n");
  EXPECT_EQ(console.ScreenText(), MemoryConsole(25, 80).ScreenText());
  EXPECT_EQ(CurrentWindow().depth, 0);

  // A topic that the interpreter would read as more than a name never reaches it.
  std::remove(work.file("args.txt").c_str());
  ShowHelp("X;touch pwned");
  ShowHelp("X&Y");
  EXPECT_FALSE(FileExists(work.file("args.txt")));
  EXPECT_FALSE(FileExists(work.file("pwned")));
}

}  // namespace
}  // namespace kap::test
