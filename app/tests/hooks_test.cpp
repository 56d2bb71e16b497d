// The owner hooks on the in-memory console with real data files: field checks by type, their
// messages, the display of stored values, the key form's leave check and the owners list.
#include <chrono>
#include <cstring>
#include <thread>

#include "app/tests/owner_fixture.h"

namespace kap::test {
namespace {

constexpr int16_t kEstateForm = 4;

// Another terminal's program (terminal folder T2 of the installation at "root"): it holds
// owner "owner", says so in the "ready" file and lives on.
int HoldOwnerOnTerminalTwo(const ChildArgs& args) {
  ResetLockState();
  CurrentSession().RootDir = args.at("root") + "/";
  CurrentSession().WorkDir = args.at("root") + "/T2/";
  if (LockRecord("PropietV", Packed(args.at("owner"))) != 0) return 1;
  WriteFile(args.at("ready"), "1");
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

void DefineField(int16_t form, int16_t field, int16_t row, int16_t column, const std::string& label,
                 int16_t length, int16_t type, int16_t flags = 0, int16_t list = 0,
                 const std::string& options = "", int16_t wrap = 0, int16_t extra = 0) {
  FieldAttr(form, 0, field) = row;
  FieldAttr(form, 1, field) = column;
  FieldAttr(form, 2, field) = length;
  FieldAttr(form, 3, field) = wrap;
  FieldAttr(form, 4, field) = extra;
  FieldAttr(form, 5, field) = flags;
  FieldAttr(form, 6, field) = type;
  FieldAttr(form, 7, field) = list;
  FieldLabel(form, field) = label;
  FieldOptions(form, field) = options;
  FieldValue(form, field) = std::string(static_cast<size_t>(length), ' ');
}

class HooksTest : public OwnerTest {
 protected:
  void SetUp() override {
    OwnerTest::SetUp();
    RunChildRole({{"hold owner", HoldOwnerOnTerminalTwo}});
    CreateForms(4, 40);
    FieldCount(1) = 1;
    DefineField(1, 1, 3, 5, "CODI: ", 4, 83, 0, 1);
    FieldCount(2) = 8;
    DefineField(2, 1, 1, 2, "NOM: ", 30, 0);
    DefineField(2, 2, 2, 2, "RETENCI\xE0: ", 3, 5);
    DefineField(2, 3, 3, 2, "SALDO: ", 10, 6);
    DefineField(2, 4, 4, 2, "COMPTE: ", 8, 8);
    DefineField(2, 5, 10, 2, "NOTES: ", 12, 0, 0, 0, "", 4);
    DefineField(2, 6, 6, 2, "PA\xD6S: ", 2, 14);
    DefineField(2, 7, 6, 20, "NIF: ", 15, 7);
    DefineField(2, 8, 7, 2, "ANY: ", 4, 83);
    FieldCount(3) = 1;
    DefineField(3, 1, 1, 2, "CONFIRMEU: ", 1, 0, 0, 0, "|S,SI|N,NO", 0, 1);
    FieldCount(kEstateForm) = 40;
    for (int16_t f = 1; f <= 40; ++f) {
      if (f % 2) {
        DefineField(kEstateForm, f, static_cast<int16_t>(f / 2 + 1), 2, "FINCA: ", 3, 3);
      } else {
        DefineField(kEstateForm, f, static_cast<int16_t>(f / 2), 20, "%: ", 3, 5);
      }
    }
    AddCountry("ES", "UE");
    AddCountry("FR", "UE");
    AddCountry("US", "  ");
    AddEstate("0012", "0000");
    AddEstate("0013", "0007");  // this owner's
    AddEstate("0014", "0020");  // another owner's
    AddOwner("0007", "PERE PUIG I FERRER");
    AddOwner("0020", "ANNA SOLER");
    // The owner on screen is 0007.
    int16_t status = 0;
    FindRecord(kOwnersFile, 0, Packed("0007"), 0, status);
    ASSERT_EQ(status, 0);
  }

  // Runs CheckField, answering a message box (if one opens) with Enter; returns the result and
  // the text of the box in *message.
  int16_t Check(int16_t form, int16_t field, const std::string& text, std::string* message) {
    KeyFeeder feeder(console);
    message->clear();
    feeder.Key(key::kEnter, [&] { *message = BoxText(); });
    int16_t key = 0, f = field;
    int16_t result = OwnerProgram().Hooks.CheckField(form, text, f, key);
    EXPECT_EQ(f, field);
    EXPECT_EQ(key, 0);
    return result;
  }

  // The text of a one-line message box centred on row 12 (its frame takes rows 9 and 11).
  std::string BoxText() {
    std::string row = console.RowText(10);
    size_t first = row.find_first_not_of(" \xB3");
    size_t last = row.find_last_not_of(" \xB3");
    return first == std::string::npos ? "" : row.substr(first, last - first + 1);
  }

  OwnerHooks& hooks = OwnerProgram().Hooks;
};

TEST_F(HooksTest, EstateCodesAreCheckedAgainstTheFormAndTheEstatesFile) {
  struct Case {
    const char* name;
    int16_t field;
    const char* text;
    int16_t result;
    const char* message;
    const char* stored;
  };
  FieldValue(kEstateForm, 7) = " 12";
  FieldValue(kEstateForm, 39) = "  5";
  const Case cases[] = {
      {"zero needs no estate", 3, "  0", 0, "", "   "},
      {"letters refused silently", 3, "1a ", -1, "", nullptr},
      {"already in field 7", 3, "12 ", -1, "FINCA JA DEFINIDA EN AQUEST PROPIETARI", nullptr},
      {"already in field 39, the last estate field", 1, "5", -1,
       "FINCA JA DEFINIDA EN AQUEST PROPIETARI", nullptr},
      {"same code again in its own field", 7, "12 ", 0, "", "12 "},
      {"no such estate", 3, "99 ", -1, "FINCA INEXISTENT", nullptr},
      {"another owner's estate", 3, "14 ", -1,
       "AQUESTA FINCA EST\xB7 ASSIGNADA A UN ALTRE PROPIETARI", nullptr},
      {"this owner's estate", 3, " 13", 0, "", "13 "},
  };
  for (const Case& c : cases) {
    const std::string before = c.field == 7 ? " 12" : "   ";
    FieldValue(kEstateForm, c.field) = before;
    std::string message;
    EXPECT_EQ(Check(kEstateForm, c.field, c.text, &message), c.result) << c.name;
    EXPECT_EQ(message, c.message) << c.name;
    EXPECT_EQ(FieldValue(kEstateForm, c.field), c.stored ? c.stored : before) << c.name;
  }
  // A free estate ("0000") is accepted for any owner; estate 41 stands outside fields 1 to 39.
  FieldValue(kEstateForm, 40) = " 12";
  std::string message;
  FieldValue(kEstateForm, 7) = "   ";
  EXPECT_EQ(Check(kEstateForm, 1, "12", &message), 0);
  EXPECT_EQ(message, "");
}

TEST_F(HooksTest, NumberFieldsAcceptOnlyTheirValues) {
  struct Case {
    int16_t field;
    const char* text;
    int16_t result;
    const char* stored;
  };
  const Case cases[] = {
      {2, "100", 0, "100"},         {2, "101", -1, nullptr},
      {2, "-1 ", -1, nullptr},      {2, "2.5", -1, nullptr},
      {3, "1250", 0, "1250      "}, {3, "12,5", -1, nullptr},
      {4, "  77", 0, "  77    "},   {4, "7x", -1, nullptr},
      {8, "ab", 0, "ab  "},         {1, "LLIURE", 0, "LLIURE                        "},
  };
  for (const Case& c : cases) {
    std::string before = FieldValue(2, c.field);
    std::string message;
    EXPECT_EQ(Check(2, c.field, c.text, &message), c.result) << c.field << " [" << c.text << "]";
    EXPECT_EQ(message, "") << c.field << " [" << c.text << "]";
    EXPECT_EQ(FieldValue(2, c.field), c.stored ? c.stored : before)
        << c.field << " [" << c.text << "]";
  }
}

TEST_F(HooksTest, CountryIsLookedUpInUpperCaseAndTheTaxIdFollowsIt) {
  std::string message;
  FieldValue(2, 6) = "ES";
  FieldValue(2, 7) = "12345678Z      ";
  EXPECT_EQ(Check(2, 6, "es", &message), 0);
  EXPECT_EQ(FieldValue(2, 7), "12345678Z      ") << "the same country keeps the identifier";
  EXPECT_EQ(Check(2, 6, "fr", &message), 0);
  EXPECT_EQ(FieldValue(2, 6), "FR");
  EXPECT_EQ(FieldValue(2, 7), std::string(15, ' '));
  EXPECT_EQ(Check(2, 6, "US", &message), -1) << "not a member state";
  EXPECT_EQ(Check(2, 6, "XX", &message), -1) << "no such country";
  EXPECT_EQ(message, "");
  EXPECT_EQ(FieldValue(2, 6), "FR");

  // The tax identifier is checked for the country in the field before it and normalised.
  FieldValue(2, 6) = "ES";
  EXPECT_EQ(Check(2, 7, "12345678z      ", &message), 0);
  EXPECT_EQ(FieldValue(2, 7), "12345678Z      ");
  EXPECT_EQ(Check(2, 7, "12345678A      ", &message), -1);
  EXPECT_EQ(message, "");
  EXPECT_EQ(FieldValue(2, 7), "12345678Z      ");

  // Another member state's rule, read from the country field itself: a French number passes
  // and a Spanish one is refused.
  FieldValue(2, 6) = "FR";
  EXPECT_EQ(Check(2, 7, "0h303265045    ", &message), 0);
  EXPECT_EQ(FieldValue(2, 7), "0H303265045    ");
  EXPECT_EQ(Check(2, 7, "12345678Z      ", &message), -1);
}

TEST_F(HooksTest, ShowFieldWritesEachTypeInItsDisplayForm) {
  FieldValue(2, 1) = "PERE PUIG I FERRER            ";
  FieldValue(2, 2) = "7  ";
  FieldValue(2, 3) = "150       ";
  FieldValue(2, 4) = "42      ";
  FieldValue(2, 5) = "ABCDEFGHIJ  ";
  FieldValue(2, 8) = "0";
  FieldValue(3, 1) = "N";
  hooks.ShowForm(2);
  EXPECT_EQ(console.RowText(1, 2, 35), "NOM: PERE PUIG I FERRER            ");
  EXPECT_EQ(console.RowText(2, 2, 13), "RETENCI\xE0:   7");
  EXPECT_EQ(console.RowText(3, 9, 10).size(), 10u);
  EXPECT_NE(console.RowText(3, 9, 10).find("1"), std::string::npos);
  EXPECT_EQ(console.RowText(3, 9, 10).find_first_not_of(' '), 6u) << "cents shown as euros";
  EXPECT_EQ(console.RowText(4, 10, 8), "      42");
  // A wrapped field shows one piece per row.
  EXPECT_EQ(console.RowText(10, 9, 4), "ABCD");
  EXPECT_EQ(console.RowText(11, 9, 4), "EFGH");
  EXPECT_EQ(console.RowText(12, 9, 4), "IJ  ");
  EXPECT_EQ(console.RowText(7, 7, 4), "   0");

  // An option list shows the text of the matching code, and nothing without a match.
  int16_t field = 1;
  hooks.ShowField(3, field);
  EXPECT_EQ(console.RowText(1, 13, 2), "NO");
  console.PutCell(1, 13, Cell{'#', 7});
  FieldValue(3, 1) = "X";
  hooks.ShowField(3, field);
  EXPECT_EQ(console.RowText(1, 13, 1), "#");

  // Display-only fields are a line of dashes over value and extra cells; hidden ones nothing.
  FieldAttr(2, 5, 4) = 4;
  field = 4;
  hooks.ShowField(2, field);
  EXPECT_EQ(console.RowText(4, 10, 9), "-------- ");
  FieldAttr(2, 5, 1) = 2;
  console.PutCell(1, 7, Cell{'#', 7});
  field = 1;
  hooks.ShowField(2, field);
  EXPECT_EQ(console.RowText(1, 7, 1), "#");
}

TEST_F(HooksTest, KeyFormCentresTheMenuTitleOnRowOne) {
  hooks.ShowForm(1);
  // " BAIXA DE PROPIETARIS " is 22 long: it starts at column 41 - 11.
  EXPECT_EQ(console.RowText(1, 30, 22), " BAIXA DE PROPIETARIS ");
  EXPECT_EQ(console.RowText(3, 5, 10), "CODI:    0");
}

TEST_F(HooksTest, LeavingTheKeyFormFindsAndLocksTheOwner) {
  // Esc neither looks nor locks.
  FieldValue(1, 1) = "0099";
  EXPECT_EQ(hooks.CheckLeave(1, key::kEsc), 0);
  EXPECT_FALSE(FileExists(dir.file("LOCKS")));

  std::string message;
  KeyFeeder feeder(console);
  feeder.Key(key::kEnter, [&] { message = BoxText(); });
  EXPECT_EQ(hooks.CheckLeave(1, key::kEnter), -1);
  EXPECT_EQ(message, "PROPIETARI INEXISTENT");
  EXPECT_EQ(LockWaitMode(), "");
  EXPECT_EQ(HeldLocks("PropietV"), 0);

  FieldValue(1, 1) = "7   ";
  EXPECT_EQ(hooks.CheckLeave(1, key::kEnter), 0);
  EXPECT_EQ(std::string(OwnerProgram().OwnerRecord + owner::kCode, 2), Packed("0007"));
  EXPECT_EQ(std::string(OwnerProgram().OwnerRecord + owner::kText1, 9), "PERE PUIG");
  EXPECT_EQ(HeldLocks("PropietV"), 1);
  EXPECT_EQ(LockWaitMode(), "");
  EXPECT_EQ(hooks.CheckLeave(2, key::kEnter), 0);
}

TEST_F(HooksTest, KeyFormTakesOnlyDigitsAndBlanksAndLooksUpWhatItShows) {
  struct Case {
    const char* typed;
    int16_t result;
    const char* stored;  // the field's value afterwards
  };
  const Case cases[] = {
      {"-9  ", -1, "0020"}, {"x12 ", -1, "0020"}, {".5  ", -1, "0020"},
      {"5x  ", -1, "0020"}, {"+7  ", -1, "0020"}, {"1 2 ", 0, "12  "},
      {"  7 ", 0, "7   "},  {"0007", 0, "7   "},  {"    ", 0, "    "},
  };
  for (const Case& c : cases) {
    FieldValue(1, 1) = "0020";
    std::string message;
    EXPECT_EQ(Check(1, 1, c.typed, &message), c.result) << c.typed;
    EXPECT_EQ(message, "") << c.typed << ": refused as the field rules refuse, silently";
    EXPECT_EQ(FieldValue(1, 1), c.stored) << c.typed;
  }
  // What is shown is what is looked up: "1 2" shows as 12 and finds no owner 1020.
  AddOwner("0012", "DOTZE");
  FieldValue(1, 1) = "0020";
  std::string message;
  ASSERT_EQ(Check(1, 1, "1 2 ", &message), 0);
  int16_t field = 1;
  hooks.ShowField(1, field);
  EXPECT_EQ(console.RowText(3, 11, 4), "  12");
  EXPECT_EQ(hooks.CheckLeave(1, key::kEnter), 0);
  EXPECT_EQ(std::string(OwnerProgram().OwnerRecord + owner::kText1, 5), "DOTZE");
}

// Types Esc once the lock's waiting message is on the screen, as the operator would. Bounded:
// after many waits without the message the test gives up with Esc anyway.
class EscWhenWaiting : public OsWrapper {
 public:
  EscWhenWaiting(MemoryConsole& console) : OsWrapper(&PosixOs()), console_(console) {}
  void SleepMs(int ms) override {
    if (++sleeps_ > 50 && seen_.empty()) console_.PushKey(key::kEsc);
    for (int row = 1; seen_.empty() && row <= console_.Rows(); ++row) {
      if (console_.RowText(row).find("BLOQUEJAT") != std::string::npos) {
        seen_ = console_.RowText(row);
        console_.PushKey(key::kEsc);
      }
    }
    OsWrapper::SleepMs(ms);
  }
  const std::string& seen() const { return seen_; }

 private:
  MemoryConsole& console_;
  std::string seen_;
  int sleeps_ = 0;
};

TEST_F(HooksTest, OwnerHeldByAnotherTerminalWaitsUntilEsc) {
  MakeDirs(dir.file("T2"));
  // The other terminal's program lives on: a dead holder's entry would be cleared at once.
  const std::string ready = dir.file("ready");
  ChildProcess child("hold owner", {{"root", dir.path()}, {"owner", "0020"}, {"ready", ready}},
                     HoldOwnerOnTerminalTwo);
  ASSERT_TRUE(Eventually([&] { return FileExists(ready); }, std::chrono::seconds(30)));

  EscWhenWaiting os(console);
  SetOs(&os);
  FieldValue(1, 1) = "0020";
  int16_t result = hooks.CheckLeave(1, key::kEnter);
  SetOs(nullptr);
  EXPECT_EQ(result, -1);
  EXPECT_NE(os.seen().find("FITXER BLOQUEJAT. ESPEREU UN MOMENT O POLSEU [ESC] PER A EIXIR."),
            std::string::npos)
      << os.seen();
  EXPECT_EQ(LockWaitMode(), "");
  EXPECT_EQ(HeldLocks("PropietV"), 1) << "only the other terminal's entry";
}

TEST_F(HooksTest, OwnersListRowsAndChoice) {
  std::string from = "x", to = "y";
  EXPECT_EQ(hooks.ListKeyRange(1, from, to), 0);
  EXPECT_EQ(from, "");
  EXPECT_EQ(to, "");

  char* record = OwnerProgram().OwnerRecord;
  record[0] = static_cast<char>(128);
  record[1] = static_cast<char>(135);
  EXPECT_EQ(hooks.ListRowText(1), "0007  PERE PUIG I FERRER            ");
  EXPECT_EQ(hooks.ListRowText(2), "");

  int16_t list = 1, field = 1;
  hooks.ListChosen(list, 1, field);
  EXPECT_EQ(list, 1);
  EXPECT_EQ(FieldValue(1, 1), "7   ");
  EXPECT_EQ(console.RowText(3, 11, 4), "   7");

  // A choice from a list opened by another list names no field: nothing changes.
  FieldValue(1, 1) = "    ";
  field = 0;
  hooks.ListChosen(list, 0, field);
  EXPECT_EQ(FieldValue(1, 1), "    ");
}

}  // namespace
}  // namespace kap::test
