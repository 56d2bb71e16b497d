// The browse list over a real data file made through the data layer, on the in-memory
// console with scripted keys.
#include <cstring>
#include <memory>
#include <string>

#include "formengine/tests/form_test_support.h"

namespace kap::test {
namespace {

constexpr int16_t kFile = 77;
constexpr int kRecordLength = 40;
constexpr int kRecords = 3000;
const uint8_t kUnselected = 0x0F;  // scheme "h"
const uint8_t kSelected = 0x70;    // scheme "u"

std::string Code(int n) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%04d", n);
  return buffer;
}

std::string Le(uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return out;
}

// Dictionary of a 40-byte record with one key: a 4-character code at position 1.
std::string Dictionary() {
  std::string block = Le(kRecordLength, 2) + Le(4096, 2) + Le(1, 2) + std::string(10, '\0');
  block += Le(1, 2) + Le(4, 2) + Le(0, 2) + std::string(10, '\0');
  return Le(static_cast<uint32_t>(block.size()), 2) + block;
}

class BrowseListTest : public FormsTest {
 protected:
  // One data file of kRecords owners ("0001" ... ) shared by the tests of this suite.
  static void SetUpTestSuite() {
    root_ = new TempDir();
    MakeDirs(root_->file("ddf"));
    MakeDirs(root_->file("DADES"));
    WriteFile(root_->file("ddf/Owners.xdf"), Dictionary());
    std::string saved = GetOs().CurrentDir();
    GetOs().ChangeDir(root_->path());
    ResetSession();
    ResetDataState();
    CurrentSession().RootDir = root_->path() + "/";
    char record[kRecordLength];
    int16_t status = 0;
    OpenDataFile(kFile, CurrentSession().RootDir + "DADES\\Owners", record, status);
    ASSERT_EQ(status, 0);
    for (int i = 1; i <= kRecords; ++i) {
      std::string r = Code(i) + "Name " + Code(i);
      r.resize(kRecordLength, ' ');
      std::memcpy(record, r.data(), kRecordLength);
      InsertRecord(kFile, status);
      ASSERT_EQ(status, 0) << i;
    }
    ResetDataFiles(status);
    GetOs().ChangeDir(saved);
  }
  static void TearDownTestSuite() {
    delete root_;
    root_ = nullptr;
  }

  void SetUp() override {
    FormsTest::SetUp();
    savedDir_ = GetOs().CurrentDir();
    GetOs().ChangeDir(work.path());
    CurrentSession().RootDir = root_->path() + "/";
    int16_t status = 0;
    OpenDataFile(kFile, CurrentSession().RootDir + "DADES\\Owners", record_, status);
    ASSERT_EQ(status, 0);
    hooks.rowText = [this](int16_t) { return Row(); };
    CreateLists(3);
    DefineList(1, kFile, {3, 10, 12, 50}, "Code__Name");
  }
  void TearDown() override {
    int16_t status = 0;
    ResetDataFiles(status);
    GetOs().ChangeDir(savedDir_);
    FormsTest::TearDown();
  }

  static void DefineList(int16_t list, int16_t file, std::vector<int16_t> window,
                         const std::string& title, int16_t searchForm = 0, int16_t second = 0) {
    ListAttr(list, 0) = file;
    ListAttr(list, 1) = 0;
    for (int16_t i = 0; i < 4; ++i) ListAttr(list, static_cast<int16_t>(2 + i)) = window[i];
    ListAttr(list, 6) = searchForm;
    ListAttr(list, 7) = second;
    ListTitle(list) = title;
  }

  // The row text of the current record: code, two blanks, name.
  std::string Row() const {
    std::string r(record_, kRecordLength);
    return r.substr(0, 4) + "  " + r.substr(4);
  }
  std::string CodeInRecord() const { return std::string(record_, 4); }

  int32_t PositionOf(int n) {
    int16_t status = 0;
    FindRecord(kFile, 0, Code(n), 0, status);
    EXPECT_EQ(status, 0);
    return RecordPosition(kFile, 0);
  }

  // Window rows of list 1 are screen rows 4 to 11, text from column 11.
  std::string ListRow(int row, int length = 15) const { return At(3 + row, 11, length); }
  // The list shows rows first ... from window row 1 on (blank past `last`), with the cursor
  // on window row `cursor`.
  void ExpectPage(int first, int cursor, int last = kRecords, int rows = 8) {
    for (int r = 1; r <= rows; ++r) {
      int n = first + r - 1;
      std::string expected = n <= last ? Code(n) + "  Name " + Code(n) : std::string(15, ' ');
      EXPECT_EQ(ListRow(r), expected) << "window row " << r;
      if (n <= last) {
        EXPECT_EQ(console.AttributeAt(3 + r, 11), r == cursor ? kSelected : kUnselected)
            << "window row " << r;
      }
    }
  }
  Step Page(int first, int cursor, int16_t then, int last = kRecords) {
    return CheckThen([=, this] { ExpectPage(first, cursor, last); }, then);
  }

  int16_t Browse(int16_t list = 1) {
    int16_t result = 99;
    BrowseList(list, result);
    EXPECT_TRUE(script.Done()) << "unused keys after step " << script.Used();
    return result;
  }

  char record_[kRecordLength] = {};
  std::string savedDir_;
  static TempDir* root_;
};

TempDir* BrowseListTest::root_ = nullptr;

TEST_F(BrowseListTest, OpensWithOnePageReadAndCachesItsRowsByteForByte) {
  const int32_t first = PositionOf(1), second = PositionOf(2), third = PositionOf(3);
  script.Add(CheckThen(
      [&] {
        ExpectPage(1, 1);
        // Only the rows on display were read from the data file.
        EXPECT_EQ(hooks.rowTextCalls, 8);
        std::string title =
            "\xC9"
            "Code  Name" +
            std::string(29, '\xCD') + "\xBB";
        EXPECT_EQ(At(3, 10, 41), title);
        std::string cache = ReadFile(work.file("Browse.tmp"));
        std::string expected = Le(0, 4) + Le(static_cast<uint32_t>(first), 4) + Le(15, 2) +
                               "0001  Name 0001" + Le(1, 4) + Le(static_cast<uint32_t>(second), 4) +
                               Le(15, 2) + "0002  Name 0002" + Le(26, 4) +
                               Le(static_cast<uint32_t>(third), 4) + Le(15, 2) + "0003  Name 0003";
        ASSERT_EQ(cache.size(), 8u * 25u);
        EXPECT_EQ(cache.substr(0, 75), expected);
      },
      key::kEsc));
  SetKeyList("ea", "d");
  EXPECT_EQ(Browse(), -1);
  EXPECT_FALSE(FileExists(work.file("Browse.tmp")));
  EXPECT_EQ(CurrentWindow().depth, 0);
  EXPECT_EQ(At(3, 10, 1), " ");
  int16_t reported = 0;
  EXPECT_TRUE(LookupKey(key::kEnter, &reported));
  EXPECT_FALSE(LookupKey(key::kUp, &reported));
}

TEST_F(BrowseListTest, ScrollsWithinTheWholeFileAndChoosesTheCurrentRow) {
  script.Add({Page(1, 1, key::kPgUp), Page(1, 1, key::kUp), Page(1, 1, key::kPgDn),
              Page(9, 1, key::kDown), Page(9, 2, key::kDown), Page(9, 3, key::kPgUp),
              Page(1, 3, key::kDown)});
  for (int i = 0; i < 4; ++i) script.Add(Key(key::kDown));
  // The cursor on the bottom row: Down scrolls the page by one row.
  script.Add({Page(1, 8, key::kDown), Page(2, 8, key::kDown), Page(3, 8, key::kUp)});
  for (int i = 0; i < 6; ++i) script.Add(Key(key::kUp));
  // At the top row Up shows the page from the new current row; PgUp then is missing a row.
  script.Add({Page(3, 1, key::kUp), Page(2, 1, key::kDown), Page(2, 2, key::kPgUp),
              Page(1, 1, key::kEnter)});
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0001");

  // PgUp from a page that starts on row 3, cursor on row 8: the page can only move back two
  // rows, and the cursor moves up by the six that were missing.
  for (int i = 0; i < 9; ++i) script.Add(Key(key::kDown));
  script.Add({Page(3, 8, key::kPgUp), Page(1, 2, key::kEnter)});
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0002");
}

TEST_F(BrowseListTest, KeepsWithinTheKeyRangeAndStopsAtBothEnds) {
  hooks.keyRange = [](int16_t, std::string& from, std::string& to) {
    from = "0100";
    to = "0120";
    return int16_t{0};
  };
  auto page = [&](int first, int cursor, int16_t then) {
    return CheckThen([=, this] { ExpectPage(first, cursor, 120); }, then);
  };
  script.Add({page(100, 1, key::kDown), Key(key::kDown), page(100, 3, key::kPgDn),
              page(108, 3, key::kPgDn),
              // The short last page: rows past 0120 are never shown.
              page(116, 3, key::kPgDn), page(116, 3, key::kDown), Key(key::kDown),
              page(116, 5, key::kDown),
              CheckThen(
                  [&] {
                    ExpectPage(116, 5, 120);
                    EXPECT_EQ(hooks.rowTextCalls, 21);
                    EXPECT_EQ(ReadFile(work.file("Browse.tmp")).size(), 21u * 25u);
                  },
                  key::kPgUp),
              page(108, 5, key::kEnter)});
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0112");
}

TEST_F(BrowseListTest, RecordsWithoutARowTextAreLeftOut) {
  hooks.rowText = [this](int16_t) {
    int n = std::stoi(CodeInRecord());
    return n % 3 == 0 ? Row() : std::string("   ");
  };
  script.Add(CheckThen(
      [&] {
        for (int r = 1; r <= 8; ++r) EXPECT_EQ(ListRow(r, 4), Code(3 * r)) << r;
        EXPECT_EQ(hooks.rowTextCalls, 24);
      },
      key::kDown));
  script.Add(Key(key::kEnter));
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0006");

  // Nothing has a text: an empty window, and Enter chooses nothing.
  hooks.rowText = [](int16_t) { return std::string(); };
  hooks.keyRange = [](int16_t, std::string& from, std::string& to) {
    from = "0001";
    to = "0040";
    return int16_t{0};
  };
  script.Add(CheckThen([&] { ExpectPage(1, 1, 0); }, key::kDown));
  script.Add(Key(key::kEnter));
  EXPECT_EQ(Browse(), -1);
}

TEST_F(BrowseListTest, RightScrollsByEightOnlyWhileARowOverflows) {
  // Window inside 19 columns wide; rows of 30 characters.
  DefineList(1, kFile, {3, 10, 12, 30}, "Code");
  hooks.rowText = [this](int16_t) { return CodeInRecord() + " abcdefghijklmnopqrstuvwxy"; };
  auto view = [&](const std::string& row, char left, char right, int16_t then) {
    return CheckThen(
        [=, this] {
          EXPECT_EQ(At(4, 11, 19), row);
          EXPECT_EQ(At(3, 10, 1), std::string(1, left));
          EXPECT_EQ(At(3, 30, 1), std::string(1, right));
        },
        then);
  };
  const char markLeft = static_cast<char>(kMarkerLeft);
  const char markRight = static_cast<char>(kMarkerRight);
  script.Add({view("0001 abcdefghijklmn", '\xC9', markRight, key::kRight),
              view("defghijklmnopqrstuv", markLeft, markRight, key::kRight),
              view("lmnopqrstuvwxy     ", markLeft, '\xBB', key::kRight),
              view("lmnopqrstuvwxy     ", markLeft, '\xBB', key::kLeft),
              view("defghijklmnopqrstuv", markLeft, markRight, key::kLeft),
              view("0001 abcdefghijklmn", '\xC9', markRight, key::kLeft),
              view("0001 abcdefghijklmn", '\xC9', markRight, key::kEsc)});
  EXPECT_EQ(Browse(), -1);
}

TEST_F(BrowseListTest, EscPressedWhileReadingEndsTheList) {
  console.PushKey(key::kEsc);
  script.Add({CheckThen(
                  [&] {
                    ExpectPage(1, 1, 1);
                    EXPECT_EQ(hooks.rowTextCalls, 1);
                  },
                  key::kDown),
              Key(key::kPgDn), Key(key::kEnter)});
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0001");
}

TEST_F(BrowseListTest, ReadsWithoutLocksAndPutsTheLockModeBack) {
  int16_t status = 0;
  SetLockMode(kFile, "a", status);
  auto lockMode = [] {
    for (int e = 1; e <= kFileTableSize; ++e) {
      if (FileTable(e).FileNumber == kFile) return FileTable(e).LockMode;
    }
    return int16_t{-1};
  };
  std::vector<int16_t> seen;
  hooks.rowText = [&](int16_t) {
    seen.push_back(lockMode());
    return Row();
  };
  script.Keys({key::kEsc});
  Browse();
  ASSERT_FALSE(seen.empty());
  for (int16_t m : seen) EXPECT_EQ(m, 0);
  EXPECT_EQ(lockMode(), 1);
}

TEST_F(BrowseListTest, SearchFormOrKeyRangeCanEndTheListBeforeItIsDrawn) {
  CreateForms(1, 1);
  FormKeys(1) = "d,1b";
  FieldCount(1) = 1;
  FieldAttr(1, 0, 1) = 20;
  FieldAttr(1, 1, 1) = 1;
  FieldAttr(1, 2, 1) = 4;
  FieldValue(1, 1) = "    ";
  ListAttr(1, 6) = 1;
  script.Keys({key::kEsc});
  EXPECT_EQ(Browse(), -1);
  EXPECT_TRUE(hooks.Calls("ListKeyRange").empty());

  hooks.keyRange = [](int16_t, std::string&, std::string&) { return int16_t{5}; };
  script.Keys({key::kEnter});
  EXPECT_EQ(Browse(), 5);
  EXPECT_EQ(hooks.rowTextCalls, 0);
  EXPECT_EQ(At(3, 10, 1), " ");
}

TEST_F(BrowseListTest, AListOfCachedRowsReportsItsChoice) {
  DefineList(2, 0, {3, 10, 12, 50}, "Cached");
  std::string rows = Le(0, 4) + Le(501, 4) + Le(5, 2) + "alpha" + Le(1, 4) + Le(502, 4) + Le(4, 2) +
                     "beta" + Le(16, 4) + Le(503, 4) + Le(5, 2) + "gamma";
  WriteFile(work.file("Browse.tmp"), rows);
  script.Keys({key::kDown, key::kEnter});
  EXPECT_EQ(Browse(2), 0);
  EXPECT_EQ(ListChoicePosition(), 502);
  EXPECT_EQ(ListChoiceText(), "beta");
  EXPECT_FALSE(FileExists(work.file("Browse.tmp")));

  // Empty: still a choice, of nothing.
  script.Keys({key::kEnter});
  EXPECT_EQ(Browse(2), 0);
  EXPECT_EQ(ListChoicePosition(), 0);
  EXPECT_EQ(ListChoiceText(), "");

  // A damaged cache (a length running past the end, a "previous" pointing forward) shows the
  // rows that are whole and never loops.
  WriteFile(work.file("Browse.tmp"), Le(0, 4) + Le(7, 4) + Le(3, 2) + "one" + Le(9999, 4) +
                                         Le(8, 4) + Le(3, 2) + "two" + Le(0, 4) + Le(9, 4) +
                                         Le(500, 2) + "three");
  script.Add({CheckThen(
                  [&] {
                    EXPECT_EQ(At(4, 11, 3), "one");
                    EXPECT_EQ(At(5, 11, 3), "two");
                    EXPECT_EQ(At(6, 11, 5), "     ");
                  },
                  key::kDown),
              Key(key::kDown), Key(key::kUp), Key(key::kUp), Key(key::kEnter)});
  EXPECT_EQ(Browse(2), 0);
  EXPECT_EQ(ListChoiceText(), "two");

  // A row naming itself as the row before it: Up stops there instead of going round it.
  WriteFile(work.file("Browse.tmp"),
            Le(0, 4) + Le(7, 4) + Le(3, 2) + "one" + Le(14, 4) + Le(8, 4) + Le(3, 2) + "two");
  script.Add({Key(key::kDown), Key(key::kUp), Key(key::kUp),
              CheckThen(
                  [&] {
                    EXPECT_EQ(At(4, 11, 3), "one");
                    EXPECT_EQ(At(5, 11, 3), "two");
                  },
                  key::kEnter)});
  EXPECT_EQ(Browse(2), 0);
  EXPECT_EQ(ListChoiceText(), "two");
}

TEST_F(BrowseListTest, F4OpensTheSecondListOverTheFirst) {
  DefineList(1, kFile, {3, 10, 12, 50}, "First", 0, 3);
  DefineList(3, kFile, {6, 20, 15, 60}, "Second");
  script.Add({Key(key::kDown), CheckThen([&] { EXPECT_EQ(CurrentWindow().depth, 1); }, key::kF4),
              CheckThen(
                  [&] {
                    EXPECT_EQ(CurrentWindow().depth, 2);
                    EXPECT_EQ(At(7, 21, 4), "0001");
                  },
                  key::kDown),
              Key(key::kDown), Key(key::kEnter)});
  EXPECT_EQ(Browse(), 0);
  EXPECT_EQ(CodeInRecord(), "0003");
  EXPECT_EQ(hooks.Calls("ListChosen"), std::vector<std::string>{"ListChosen 3 0 0"});
  EXPECT_EQ(CurrentWindow().depth, 0);

  // F4 in a list without a second list leaves it with nothing chosen.
  script.Keys({key::kF4});
  EXPECT_EQ(Browse(3), -1);
}

TEST_F(BrowseListTest, F4InAFieldTakesTheChoiceThroughListChosen) {
  CreateForms(1, 2);
  FormKeys(1) = "d,1b,4800,5000,3e00";
  FieldCount(1) = 2;
  const int16_t attrs[2][8] = {{20, 1, 4, 0, 0, 0, 0, 1}, {21, 1, 4, 0, 0, 0, 0, 1}};
  for (int16_t j = 1; j <= 2; ++j) {
    for (int16_t k = 0; k < 8; ++k) FieldAttr(1, k, j) = attrs[j - 1][k];
    FieldValue(1, j) = "    ";
  }
  // The first choice is refused (the list opens again); the second is taken into the field.
  int chosenCalls = 0;
  hooks.chosen = [&](int16_t& list, int16_t form, int16_t& field) {
    if (++chosenCalls == 1) {
      list = 0;
      return;
    }
    FieldValue(form, field) = CodeInRecord();
  };
  script.Keys({key::kF4, key::kDown, key::kEnter, key::kDown, key::kDown, key::kEnter,
               // Field 2 is the form's last field: the choice there ends the form with Enter.
               key::kF4, key::kEnter});
  int16_t form = 1, up = 0, down = 0, key = 0;
  RunForm(form, up, down, key);
  EXPECT_TRUE(script.Done());
  EXPECT_EQ(key, key::kEnter);
  EXPECT_EQ(FieldValue(1, 1), "0003");
  EXPECT_EQ(FieldValue(1, 2), "0001");
  EXPECT_EQ(Joined(hooks.log),
            "ShowForm 1\nListKeyRange 1\nListChosen 1 1 1\nListKeyRange 1\nListChosen 1 1 1\n"
            "ListKeyRange 1\nListChosen 1 1 2\nCheckLeave 1 d\n");
}

TEST_F(BrowseListTest, AChoiceMovesOnFromWhereverListChosenLeavesTheField) {
  // Fields: 1 opens the list, 2 editable, 3 display only, 4 editable.
  struct Case {
    int16_t movedTo;     // the field ListChosen leaves current
    int16_t editedNext;  // the field the operator edits next
  } cases[] = {
      {1, 2},  // no move: on to the next field
      {2, 2},  // moved to an editable field: edited there
      {3, 4},  // moved to a display-only field: passed on, never stuck there
  };
  for (const Case& c : cases) {
    CreateForms(1, 4);
    FormKeys(1) = KeyList({key::kEnter, key::kEsc, key::kEnd, key::kF4});
    FieldCount(1) = 4;
    for (int16_t j = 1; j <= 4; ++j) {
      FieldAttr(1, field_attr::kRow, j) = static_cast<int16_t>(19 + j);
      FieldAttr(1, field_attr::kLabelColumn, j) = 1;
      FieldAttr(1, field_attr::kLength, j) = 4;
      FieldValue(1, j) = "    ";
    }
    FieldAttr(1, field_attr::kList, 1) = 1;
    FieldAttr(1, field_attr::kFlags, 3) = field_flag::kDisplayOnly;
    hooks.log.clear();
    hooks.chosen = [&](int16_t&, int16_t, int16_t& field) { field = c.movedTo; };
    // Enter in the field ends it as End, End being in the form's list.
    script.Keys({key::kF4, key::kEnter, key::kEnter});
    int16_t form = 1, up = 0, down = 0, key = 0;
    RunForm(form, up, down, key);
    EXPECT_TRUE(script.Done()) << "moved to " << c.movedTo;
    EXPECT_EQ(
        hooks.Calls("CheckField"),
        std::vector<std::string>{"CheckField 1 [    ] " + std::to_string(c.editedNext) + " 4f00"})
        << "moved to " << c.movedTo << "\n"
        << Joined(hooks.log);
  }
}

}  // namespace
}  // namespace kap::test
