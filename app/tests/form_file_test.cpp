// The form file loader: values, comment rules, early ends and translation at load.
#include <gtest/gtest.h>

#include "app/owner_program.h"
#include "session/session.h"
#include "testsupport/failing_os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::TempDir;

// Joins lines with CR LF, as the suite writes its files.
std::string Crlf(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

class FormFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    ResetFormsState();
    test::MakeDirs(dir_.file("FORMS"));
    Session& session = CurrentSession();
    session.RootDir = dir_.path() + "/";
    session.ProgramName = "VOWNMAIN";
    session.Language = "CAT";
  }
  void TearDown() override {
    ResetFormsState();
    ResetSession();
  }
  int16_t Load(const std::string& text) {
    test::WriteFile(dir_.file("FORMS/VOWNMAIN.JPN"), text);
    return LoadFormFile(error_);
  }

  TempDir dir_;
  FormFileError error_;
};

const std::string kTwoForms = Crlf({
    "  ' owner removal forms",
    "2,40",
    "'form 1",
    "\"d,1b,3e00\",1,0,0,0,0,0",
    "2,3,\"CODI, PROPIETARI: \",4,0,0,0,83,1,\"\"",
    "   'form 2, with a window",
    "\"d,1b\",2,0,3,1,16,80",
    "1,2,NOM:   ,30,0,0,0,0,0,\"\"",
    "2,2,\"CONFIRMEU: \",1,0,5,0,0,0,",
    "\"|S,SI|N,NO\"",
    "' the lists",
    "1",
    "'owners",
    "505,0,3,15,20,65,0,\"CODI__NOM\",0",
    "this line is past the last list and never read",
});

// Each OS call of the load failed in turn: the load refuses the file with its message and
// leaves no forms behind; the run in which nothing failed loads it whole.
TEST_F(FormFileTest, AFailingOsCallRefusesTheFileAndLeavesNoForms) {
  test::WriteFile(dir_.file("FORMS/VOWNMAIN.JPN"), kTwoForms);
  test::FailingOs failing(&GetOs());
  SetOs(&failing);
  for (int n = 1;; ++n) {
    failing.FailCall(n);
    const int16_t loaded = LoadFormFile(error_);
    if (!failing.failed()) {
      EXPECT_EQ(loaded, 0) << error_.Text();
      EXPECT_EQ(FormTable().FormCount, 2);
      break;
    }
    EXPECT_EQ(loaded, -1) << "call " << n;
    EXPECT_EQ(error_.problem, form_file::kUnreadable) << "call " << n;
    EXPECT_EQ(FormTable().FormCount, 0) << "call " << n;
  }
  SetOs(nullptr);
}

TEST_F(FormFileTest, LoadsEveryValueAndSkipsCommentsWhereGroupsBegin) {
  ASSERT_EQ(Load(kTwoForms), 0) << error_.Text();
  EXPECT_EQ(FormTable().FormCount, 2);
  EXPECT_EQ(FormTable().MaxFields, 40);
  EXPECT_EQ(FormKeys(1), "d,1b,3e00");
  EXPECT_EQ(FieldCount(1), 1);
  EXPECT_EQ(NextForm(1), 0);
  EXPECT_EQ(FormWindow(1, 1), 0);  // no window of its own
  EXPECT_EQ(FieldLabel(1, 1), "CODI, PROPIETARI: ");
  EXPECT_EQ(FieldAttr(1, 2, 1), 4);
  EXPECT_EQ(FieldAttr(1, 6, 1), 83);
  EXPECT_EQ(FieldAttr(1, 7, 1), 1);
  EXPECT_EQ(FieldValue(1, 1), "    ");

  EXPECT_EQ(FieldCount(2), 2);
  EXPECT_EQ(FormWindow(2, 1), 3);
  EXPECT_EQ(FormWindow(2, 4), 80);
  EXPECT_EQ(FieldLabel(2, 1), "NOM:");  // bare strings lose their outer blanks
  EXPECT_EQ(FieldValue(2, 1), std::string(30, ' '));
  EXPECT_EQ(FieldAttr(2, 4, 2), 5);
  // The options stood on the next line after a trailing comma.
  EXPECT_EQ(FieldOptions(2, 2), "|S,SI|N,NO");
  EXPECT_EQ(FieldOptions(2, 1), "");

  EXPECT_EQ(FormTable().ListCount, 1);
  EXPECT_EQ(ListAttr(1, 0), 505);
  EXPECT_EQ(ListAttr(1, 5), 65);
  EXPECT_EQ(ListTitle(1), "CODI__NOM");
  EXPECT_EQ(ListAttr(1, 7), 0);
}

TEST_F(FormFileTest, EndsBetweenGroupsKeepWhatWasRead) {
  struct Case {
    const char* name;
    std::string text;
    int16_t forms, fieldsOfLast, lists;
  };
  const Case cases[] = {
      {"empty file", "", 0, 0, 0},
      {"after the first of two forms", Crlf({"2,5", "\"d\",1,0,0,0,0,0", "1,1,A,3,0,0,0,0,0,\"\""}),
       2, 0, 0},
      {"list count 0 at the very end",
       Crlf({"1,5", "\"d\",1,0,0,0,0,0", "1,1,A,3,0,0,0,0,0,\"\"", "0"}), 1, 1, 0},
      {"comment after the forms", Crlf({"1,5", "\"d\",0,0,0,0,0,0", "' no lists"}), 1, 0, 0},
      {"first of two lists", Crlf({"1,5", "\"d\",0,0,0,0,0,0", "2", "1,0,1,1,9,9,0,T,0"}), 1, 0, 2},
  };
  for (const Case& c : cases) {
    ResetFormsState();
    ASSERT_EQ(Load(c.text), 0) << c.name << ": " << error_.Text();
    EXPECT_EQ(FormTable().FormCount, c.forms) << c.name;
    EXPECT_EQ(FieldCount(FormTable().FormCount), c.fieldsOfLast) << c.name;
    EXPECT_EQ(FormTable().ListCount, c.lists) << c.name;
  }
}

TEST_F(FormFileTest, BrokenFilesNameTheLine) {
  struct Case {
    const char* name;
    std::string text;
    int line;
    const char* problem;
  };
  const Case cases[] = {
      {"ends inside a field entry", Crlf({"1,5", "\"d\",1,0,0,0,0,0", "1,1,A,3,0"}), 3,
       form_file::kEndsInsideGroup},
      {"ends inside the form header", Crlf({"1,5", "\"d\",1,0"}), 2, form_file::kEndsInsideGroup},
      {"ends inside a list entry", Crlf({"1,5", "\"d\",0,0,0,0,0,0", "1", "505,0,3"}), 4,
       form_file::kEndsInsideGroup},
      {"comment between field entries",
       Crlf({"1,5", "\"d\",2,0,0,0,0,0", "1,1,A,3,0,0,0,0,0,\"\"", "' not here",
             "2,1,B,3,0,0,0,0,0,\"\""}),
       4, form_file::kNumberExpected},
      {"number out of range", Crlf({"1,5", "\"d\",1,0,0,0,0,0", "1,1,A,40000,0,0,0,0,0,\"\""}), 3,
       form_file::kOutOfRange},
      {"negative length", Crlf({"1,5", "\"d\",1,0,0,0,0,0", "1,1,A,-3,0,0,0,0,0,\"\""}), 3,
       form_file::kOutOfRange},
      {"more fields than the header allows", Crlf({"1,2", "\"d\",3,0,0,0,0,0"}), 2,
       form_file::kTooMany},
      {"table too large to create", Crlf({"30000,30000"}), 1, form_file::kTooMany},
      {"negative list count", Crlf({"1,5", "\"d\",0,0,0,0,0,0", "-1"}), 3, form_file::kTooMany},
  };
  for (const Case& c : cases) {
    ResetFormsState();
    EXPECT_EQ(Load(c.text), -1) << c.name;
    EXPECT_EQ(error_.line, c.line) << c.name;
    EXPECT_EQ(error_.problem, c.problem) << c.name;
    EXPECT_NE(error_.Text().find("VOWNMAIN.JPN"), std::string::npos) << c.name;
  }
}

TEST_F(FormFileTest, FieldWidthsBeyondTheTotalBoundRefuseTheFileAsTooLarge) {
  // Each width is in range and the field count within the caps, but every value is allocated
  // at its width: 520 fields of 32,767 ask for 17 MB (200 such forms for gigabytes).
  auto file = [](int fields) {
    std::string text = "1,1000\r\n\"d\"," + std::to_string(fields) + ",0,0,0,0,0\r\n";
    for (int j = 0; j < fields; ++j) text += "1,1,L,32767,0,0,0,0,0,\"\"\r\n";
    return text;
  };
  EXPECT_EQ(Load(file(500)), 0);
  ResetFormsState();
  EXPECT_EQ(Load(file(520)), -1);
  EXPECT_EQ(error_.problem, form_file::kTooLarge);
  EXPECT_EQ(error_.line, 2 + 513);
  EXPECT_EQ(FormTable().Forms[1].FieldCount, 512);
}

TEST_F(FormFileTest, MissingFileIsReportedWithoutALine) {
  EXPECT_EQ(LoadFormFile(error_), -1);
  EXPECT_EQ(error_.line, 0);
  EXPECT_EQ(error_.problem, form_file::kUnreadable);
  EXPECT_NE(error_.Text().find("FORMS\\VOWNMAIN.JPN"), std::string::npos);
}

TEST_F(FormFileTest, TranslatesLabelsOptionsAndTitlesAtLoad) {
  test::MakeDirs(dir_.file("LOCALE"));
  test::WriteFile(dir_.file("LOCALE/VOWNMAIN.LNG"),
                  Crlf({"\"CODI, PROPIETARI: \",\"C\xE0"
                        "DIGO, PROPIETARIO: \",\"C\xE0"
                        "DI: \","
                        "\"C\xE0"
                        "DIGO, PROPIETARIO: \"",
                        "\"|S,SI|N,NO\",\"|S,SI|N,NON\",\"|S,OC|N,NON\",\"|S,S\xD6"
                        "|N,NO\"",
                        "CODI__NOM,C\xE0"
                        "DIGO__NOME,C\xE0"
                        "DI__NOM,C\xE0"
                        "DIGO__NOMBRE"}));
  CurrentSession().Language = "SPA";
  ASSERT_EQ(Load(kTwoForms), 0) << error_.Text();
  EXPECT_EQ(FieldLabel(1, 1),
            "C\xE0"
            "DIGO, PROPIETARIO: ");
  EXPECT_EQ(FieldLabel(2, 1), "NOM:");  // no record: stays in Catalan
  EXPECT_EQ(ListTitle(1),
            "C\xE0"
            "DIGO__NOMBRE");
  EXPECT_EQ(FieldOptions(2, 2),
            "|S,S\xD6"
            "|N,NO");
}

TEST_F(FormFileTest, CatalanSessionNeverTouchesTheLanguageFile) {
  ASSERT_EQ(Load(kTwoForms), 0) << error_.Text();
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
}

}  // namespace
}  // namespace kap
