// The form driver on the in-memory console: scripted keys against real forms of the form
// table, checked through the hook calls and the screen.
#include <string>
#include <vector>

#include "formengine/tests/form_test_support.h"

namespace kap::test {
namespace {

struct FieldSpec {
  // A constructor, not an aggregate, so the tests may name only the leading values.
  FieldSpec(int16_t row_ = 1, int16_t column_ = 1, std::string label_ = "", int16_t length_ = 4,
            int16_t wrap_ = 0, int16_t extra_ = 0, int16_t flags_ = 0, int16_t type_ = 0,
            int16_t list_ = 0, std::string value_ = "")
      : row(row_),
        column(column_),
        label(std::move(label_)),
        length(length_),
        wrap(wrap_),
        extra(extra_),
        flags(flags_),
        type(type_),
        list(list_),
        value(std::move(value_)) {}
  int16_t row, column;
  std::string label;
  int16_t length, wrap, extra, flags, type, list;
  std::string value;
};

void DefineForm(int16_t form, const std::string& keys, int16_t next, std::vector<int16_t> window,
                const std::vector<FieldSpec>& fields) {
  FormKeys(form) = keys;
  NextForm(form) = next;
  FieldCount(form) = static_cast<int16_t>(fields.size());
  for (int16_t c = 1; c <= 4; ++c) {
    FormWindow(form, c) = window.size() == 4 ? window[static_cast<size_t>(c - 1)] : 0;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& f = fields[i];
    int16_t j = static_cast<int16_t>(i + 1);
    int16_t attrs[8] = {f.row, f.column, f.length, f.wrap, f.extra, f.flags, f.type, f.list};
    for (int16_t k = 0; k < 8; ++k) FieldAttr(form, k, j) = attrs[k];
    FieldLabel(form, j) = f.label;
    std::string value = f.value;
    value.resize(static_cast<size_t>(f.length), ' ');
    FieldValue(form, j) = value;
  }
}

const std::string kKeys = "d,1b,4800,5000,4900,5100,3c00,3e00";

class FormDriverTest : public FormsTest {
 protected:
  // Runs form `form` and returns the key it was left with.
  int16_t Run(int16_t form, int16_t key = 0, int16_t pageUp = 0, int16_t pageDown = 0) {
    RunForm(form, pageUp, pageDown, key);
    EXPECT_TRUE(script.Done()) << "unused keys after step " << script.Used();
    return key;
  }
  // Three plain fields on rows 2 to 4 of the screen.
  void ThreeFields(int16_t next = 0) {
    DefineForm(1, kKeys, next, {}, {{2, 1, "Code ", 4}, {3, 1, "Name ", 10}, {4, 1, "Town ", 8}});
  }
};

TEST_F(FormDriverTest, DisplayOnlyFormPaintsThenLeavesWithTheKeyPassedIn) {
  CreateForms(1, 4);
  DefineForm(1, kKeys, 0, {5, 10, 10, 50},
             {{1, 2, "A ", 4, 0, 0, 4, 0, 0, "aaaa"}, {2, 2, "B ", 4, 0, 0, 4, 0, 0, "bbbb"}});
  hooks.checkLeave = [&](int16_t, int16_t) {
    EXPECT_EQ(At(5, 10, 1), "\xC9");
    EXPECT_EQ(At(10, 50, 1), "\xBC");
    return int16_t{0};
  };
  int16_t key = Run(1, 0x1234);
  EXPECT_EQ(key, 0x1234);
  EXPECT_EQ(Joined(hooks.log), "ShowForm 1\nCheckLeave 1 1234\n");
  // The window is gone again and the published field state is cleared.
  EXPECT_EQ(CurrentWindow().depth, 0);
  EXPECT_EQ(At(5, 10, 1), " ");
  EXPECT_EQ(CurrentForm(), 0);
  EXPECT_EQ(CurrentField(), 0);
  EXPECT_EQ(CurrentText(), "");
}

TEST_F(FormDriverTest, EscOnALaterFieldGoesToTheFirstAndOnTheFirstLeaves) {
  CreateForms(1, 3);
  ThreeFields();
  SetKeyList("ea", "d");
  script.Keys({key::kEnter, key::kEnter, key::kEsc, key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  // The caller's key list is in force again.
  int16_t reported = 0;
  EXPECT_TRUE(LookupKey(key::kEnter, &reported));
  EXPECT_FALSE(LookupKey(key::kEsc, &reported));
  EXPECT_EQ(Joined(hooks.log),
            "ShowForm 1\n"
            "CheckField 1 [    ] 1 d\n"
            "CheckField 1 [          ] 2 d\n"
            "ShowField 1 3\n"
            "ShowField 1 1\n"
            "CheckLeave 1 1b\n");
}

TEST_F(FormDriverTest, EnterOnTheLastFieldLeavesButDownStays) {
  CreateForms(1, 3);
  ThreeFields();
  script.Keys({key::kDown, key::kDown, key::kDown, key::kEnter});
  EXPECT_EQ(Run(1), key::kEnter);
  EXPECT_EQ(
      hooks.Calls("CheckField"),
      (std::vector<std::string>{"CheckField 1 [    ] 1 5000", "CheckField 1 [          ] 2 5000",
                                "CheckField 1 [        ] 3 5000", "CheckField 1 [        ] 3 d"}));
  EXPECT_EQ(hooks.Calls("CheckLeave"), std::vector<std::string>{"CheckLeave 1 d"});
}

TEST_F(FormDriverTest, BlankEntryInAStartsBlankOrHiddenFieldHandsOverTheStoredValue) {
  CreateForms(1, 3);
  DefineForm(1, kKeys, 0, {},
             {{2, 1, "Code ", 4, 0, 5, 1, 0, 0, "ABCD"},
              {3, 1, "Word ", 6, 0, 3, 2, 0, 0, "SECRET"},
              {4, 1, "Last ", 6, 0, 0, 2, 0, 0, "OLDPWD"}});
  console.SetCursor(2, 10);
  WriteText("descr");
  script.Add(CheckThen(
      [&] {
        EXPECT_EQ(At(2, 6, 4), "    ") << "flag 1 starts blank";
        EXPECT_EQ(At(2, 10, 5), "     ") << "extra width blanked before editing";
      },
      key::kEnter));
  script.Text("pw");
  script.Add(CheckThen(
      [&] {
        EXPECT_EQ(console.ScreenText().find("pw"), std::string::npos);
        EXPECT_EQ(console.ScreenText().find("SECRET"), std::string::npos);
      },
      key::kEnter));
  // Leaving a hidden field with extra width redraws it without giving the text away.
  script.Add(CheckThen(
      [&] {
        EXPECT_EQ(console.ScreenText().find("pw"), std::string::npos);
        EXPECT_EQ(At(3, 6, 9), "XXXXXX   ");
      },
      key::kEnter));
  Run(1);
  EXPECT_EQ(hooks.Calls("CheckField"),
            (std::vector<std::string>{"CheckField 1 [ABCD] 1 d", "CheckField 1 [pw    ] 2 d",
                                      "CheckField 1 [OLDPWD] 3 d"}));
  // The echo of hidden fields is switched off again afterwards.
  EXPECT_EQ(EchoChar(), 0);
}

TEST_F(FormDriverTest, RejectedValueBeepsAndReturnsToTheFieldWithTheTypedText) {
  CreateForms(1, 2);
  DefineForm(1, kKeys, 0, {}, {{2, 1, "Code ", 4}, {3, 1, "Name ", 4}});
  int calls = 0;
  hooks.checkField = [&](int16_t form, const std::string& text, int16_t& field, int16_t&) {
    // The field just edited is published to the hooks.
    EXPECT_EQ(CurrentForm(), 1);
    EXPECT_EQ(CurrentField(), field);
    EXPECT_EQ(CurrentText(), text);
    if (field == 1 && ++calls == 1) return int16_t{-1};
    FieldValue(form, field) = text;
    return int16_t{0};
  };
  script.Text("77");
  script.Add(Key(key::kEnter));
  script.Add(CheckThen([&] { EXPECT_EQ(At(2, 6, 4), "77  "); }, key::kEnter));
  script.Add(Key(key::kEsc));
  script.Add(Key(key::kEsc));
  Run(1);
  EXPECT_EQ(console.Beeps(), 1);
  EXPECT_EQ(hooks.Calls("CheckField"),
            (std::vector<std::string>{"CheckField 1 [77  ] 1 d", "CheckField 1 [77  ] 1 d"}));
  EXPECT_EQ(FieldValue(1, 1), "77  ");
}

TEST_F(FormDriverTest, PageUpFollowsThePageFlag) {
  struct Case {
    int16_t pageUpLeaves;
    std::vector<int16_t> keys;
    int16_t expectedKey;
    int16_t expectedResume;
    size_t expectedChecks;
  };
  const Case cases[] = {
      // PgUp always goes to the first field when PgUp may not leave.
      {0, {key::kDown, key::kDown, key::kPgUp, key::kPgUp, key::kEsc}, key::kEsc, 0, 4},
      // Allowed to leave: PgUp on a later field goes to the first, on the first it leaves.
      {1, {key::kDown, key::kPgUp, key::kPgUp}, key::kPgUp, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("pageUpLeaves " + std::to_string(c.pageUpLeaves));
    ResetFormsState();
    SetFormHooks(&hooks);
    hooks.log.clear();
    CreateForms(1, 3);
    ThreeFields();
    for (int16_t k : c.keys) script.Add(Key(k));
    EXPECT_EQ(Run(1, 0, c.pageUpLeaves, 0), c.expectedKey);
    EXPECT_EQ(ResumeForm(), c.expectedResume);
    EXPECT_EQ(hooks.Calls("CheckField").size(), c.expectedChecks) << Joined(hooks.log);
  }
}

TEST_F(FormDriverTest, ContinuationPagesAndResumeForm) {
  CreateForms(3, 2);
  for (int16_t f = 1; f <= 3; ++f) {
    DefineForm(
        f, kKeys, f < 3 ? static_cast<int16_t>(f + 1) : 0, {},
        {{static_cast<int16_t>(2 * f), 1, "A ", 2}, {static_cast<int16_t>(2 * f + 1), 1, "B ", 2}});
  }
  // Through pages 1 and 2 with Enter; PgDn on page 3 leaves every page.
  script.Keys({key::kEnter, key::kEnter, key::kEnter, key::kEnter, key::kPgDn, key::kPgDn});
  EXPECT_EQ(Run(1, 0, 1, 1), key::kPgDn);
  EXPECT_EQ(ResumeForm(), 3);
  EXPECT_EQ(Joined(hooks.log),
            "ShowForm 1\nCheckField 1 [  ] 1 d\nCheckField 1 [  ] 2 d\n"
            "ShowForm 2\nCheckField 2 [  ] 1 d\nCheckField 2 [  ] 2 d\n"
            "ShowForm 3\nCheckField 3 [  ] 1 5100\nCheckField 3 [  ] 2 5100\n"
            "CheckLeave 3 5100\nCheckLeave 2 5100\nCheckLeave 1 5100\n");

  // Calling page 1 again goes straight to page 3. Up on its first field returns to page 2,
  // which carries on at its first field.
  hooks.log.clear();
  script.Keys({key::kUp, key::kEsc, key::kEsc});
  EXPECT_EQ(Run(1, 0, 1, 1), key::kEsc);
  EXPECT_EQ(ResumeForm(), 0);
  EXPECT_EQ(Joined(hooks.log),
            "ShowForm 1\nShowForm 2\nShowForm 3\n"
            "CheckField 3 [  ] 1 4800\nCheckLeave 3 1b\n"
            "ShowField 2 1\nCheckLeave 2 1b\n"
            "ShowField 1 1\nCheckLeave 1 1b\n");
}

TEST_F(FormDriverTest, F2OpensTheNextPageFromAnyFieldAndUpOnAPlainFormStays) {
  CreateForms(2, 2);
  DefineForm(1, kKeys, 2, {}, {{2, 1, "A ", 2}, {3, 1, "B ", 2}});
  DefineForm(2, kKeys, 0, {}, {{5, 1, "C ", 2}});
  script.Keys({key::kUp, key::kF2, key::kF2, key::kEsc, key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(Joined(hooks.log),
            "ShowForm 1\nCheckField 1 [  ] 1 4800\nCheckField 1 [  ] 1 3c00\n"
            "ShowForm 2\nCheckField 2 [  ] 1 3c00\nShowField 2 1\nCheckLeave 2 1b\n"
            "ShowField 1 1\nCheckLeave 1 1b\n");
}

TEST_F(FormDriverTest, F4OnAFieldWithoutAListEditsTheFieldAgain) {
  CreateForms(1, 1);
  DefineForm(1, kKeys, 0, {}, {{2, 1, "Code ", 4}});
  script.Keys({key::kF4, key::kEnter});
  EXPECT_EQ(Run(1), key::kEnter);
  EXPECT_EQ(Joined(hooks.log), "ShowForm 1\nCheckField 1 [    ] 1 d\nCheckLeave 1 d\n");
  EXPECT_FALSE(FileExists(work.file("Browse.tmp")));
}

TEST_F(FormDriverTest, ASearchFormThatOpensItsOwnListStopsNestingAtTheListLimit) {
  // List 1's search form is form 1, whose field opens list 1 again: F4 held down used to nest
  // form, list, form, ... until the stack overflowed.
  CreateForms(1, 1);
  CreateLists(1);
  DefineForm(1, kKeys, 0, {}, {{2, 1, "Code ", 4, 0, 0, 0, 0, 1}});
  ListAttr(1, 6) = 1;
  constexpr int kPresses = 40;
  constexpr int kListLimit = 16;
  for (int i = 0; i < kPresses; ++i) script.Add(Key(key::kF4));
  // One Esc per search form leaves it and its list; the last leaves the outer form.
  for (int i = 0; i <= kListLimit; ++i) script.Add(Key(key::kEsc));
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(hooks.Calls("ShowForm").size(), static_cast<size_t>(kListLimit + 1));
  EXPECT_EQ(console.Beeps(), kPresses - kListLimit);
  EXPECT_TRUE(hooks.Calls("ListKeyRange").empty());
}

TEST_F(FormDriverTest, ClicksSelectEditableFieldsOnly) {
  // The same fields at screen offset (3, 5): once in the form's own window, once in a form
  // without a window drawn into an enclosing one.
  for (bool ownWindow : {true, false}) {
    SCOPED_TRACE(ownWindow ? "own window" : "enclosing window");
    ResetFormsState();
    SetFormHooks(&hooks);
    hooks.log.clear();
    CreateForms(1, 3);
    std::vector<int16_t> window;
    if (ownWindow) window = {3, 5, 12, 60};
    DefineForm(1, kKeys, 0, window,
               {{1, 2, "Code: ", 4}, {2, 2, "Info: ", 10, 0, 0, 4}, {3, 2, "Name: ", 10, 0, 3}});
    if (!ownWindow) PushWindow(3, 5, 12, 60);
    const int16_t onLabel3 = -(7 * 100 + 6);
    const int16_t onInfo = -(15 * 100 + 5);
    const int16_t outside = -(70 * 100 + 20);
    const int16_t onExtra3 = -(25 * 100 + 6);
    script.Add(
        {Click(6, 7), Click(5, 15), Click(20, 70), Key(key::kUp), Click(6, 25), Key(key::kEnter)});
    EXPECT_EQ(Run(1), key::kEnter);
    EXPECT_EQ(
        hooks.Calls("CheckField"),
        (std::vector<std::string>{
            "CheckField 1 [    ] 1 " + Hex(onLabel3), "CheckField 1 [          ] 3 " + Hex(onInfo),
            "CheckField 1 [          ] 3 " + Hex(outside),
            "CheckField 1 [          ] 3 4800",  // Up passes over the display-only field
            "CheckField 1 [    ] 1 " + Hex(onExtra3), "CheckField 1 [          ] 3 d"}));
    if (!ownWindow) PopWindow();
  }
}

TEST_F(FormDriverTest, CheckLeaveCanKeepTheOperatorInTheForm) {
  CreateForms(2, 3);
  ThreeFields();
  DefineForm(2, kKeys, 0, {}, {{2, 1, "X ", 2, 0, 0, 4}});
  int refusals = 0;
  hooks.checkLeave = [&](int16_t, int16_t) { return int16_t(++refusals == 1 ? -1 : 0); };
  script.Keys({key::kDown, key::kEsc, key::kEsc, key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(hooks.Calls("CheckLeave").size(), 2u);
  // Back at the first field after the refusal: Esc there leaves at once.
  EXPECT_EQ(hooks.Calls("ShowField"),
            (std::vector<std::string>{"ShowField 1 2", "ShowField 1 1", "ShowField 1 1"}));

  // A form without an editable field cannot keep anyone: a refusing hook must not hang it,
  // and the form is left as abandoned, never as accepted with the key passed in.
  refusals = 0;
  hooks.checkLeave = [&](int16_t, int16_t) { return int16_t{-1}; };
  EXPECT_EQ(Run(2, key::kEnter), key::kEsc);
}

TEST_F(FormDriverTest, BadTablesNeverReachOutsideTheTable) {
  CreateForms(2, 3);
  EXPECT_EQ(FieldValue(0, 1), "");
  EXPECT_EQ(FieldValue(3, 1), "");
  EXPECT_EQ(FieldValue(1, 4), "");
  FieldValue(1, 4) = "lost";
  FieldAttr(1, 9, 1) = 5;
  FormWindow(1, 0) = 7;
  EXPECT_EQ(FieldValue(1, 4), "");
  EXPECT_EQ(FieldAttr(1, 9, 1), 0);
  EXPECT_EQ(FormWindow(1, 0), 0);
  EXPECT_EQ(ListAttr(1, 0), 0);
  EXPECT_EQ(ListTitle(-3), "");

  // A field count beyond the table, a form number beyond it, and a circle of NextForm links
  // with a ResumeForm not in it.
  DefineForm(1, kKeys, 2, {}, {{2, 1, "A ", 2}});
  DefineForm(2, kKeys, 1, {}, {{3, 1, "B ", 2}});
  FieldCount(1) = 30000;
  ResumeForm() = 9;
  script.Keys({key::kEsc});
  EXPECT_EQ(Run(1), key::kEsc);
  EXPECT_EQ(ResumeForm(), 0);
  EXPECT_EQ(Run(40, 5), 5);
}

TEST_F(FormDriverTest, AFormWindowOutsideTheScreenLeavesTheEnclosingWindowOpen) {
  CreateForms(1, 1);
  DefineForm(1, kKeys, 0, {10, 10, 30, 90}, {{1, 1, "A ", 2}});
  PushWindow(2, 2, 20, 70);
  script.Keys({key::kEsc});
  Run(1);
  EXPECT_EQ(CurrentWindow().depth, 1);
  EXPECT_EQ(CurrentWindow().rect.top, 2);
  PopWindow();
}

}  // namespace
}  // namespace kap::test
