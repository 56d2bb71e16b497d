// Forms layer of the console form engine: the form table, the form driver (RunForm), the
// browse list and the help viewer. The program reaches in through FormHooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kap {

// --- Form table (filled by the program's form file loader) ---

// The attributes of a field, FieldAttr's second index.
namespace field_attr {
constexpr int16_t kRow = 0;          // window-relative row
constexpr int16_t kLabelColumn = 1;  // the value starts right after the label
constexpr int16_t kLength = 2;       // characters of the value
constexpr int16_t kWrap = 3;         // shown in lines this wide; 0 = one line
constexpr int16_t kExtraWidth = 4;   // cells after the value that belong to the field
constexpr int16_t kFlags = 5;        // field_flag bits
constexpr int16_t kType = 6;         // the program's field type (its checks)
constexpr int16_t kList = 7;         // browse list opened with F4, 0 for none
constexpr int16_t kCount = 8;
}  // namespace field_attr

// Bits of a field's flags.
namespace field_flag {
constexpr int16_t kStartsBlank = 1;  // edited from blanks; left blank keeps the stored value
constexpr int16_t kHidden = 2;       // starts blank too, typed characters echo as "X"
constexpr int16_t kDisplayOnly = 4;  // never edited, passed over
constexpr int16_t kCursorAtEnd = 8;  // cursor starts after the last non-blank character
}  // namespace field_flag

// The attributes of a browse list, ListAttr's second index.
namespace list_attr {
constexpr int16_t kFile = 0;  // data file number listed
constexpr int16_t kKey = 1;   // key number it is listed by
constexpr int16_t kTop = 2;   // the list window's frame, screen coordinates
constexpr int16_t kLeft = 3;
constexpr int16_t kBottom = 4;
constexpr int16_t kRight = 5;
constexpr int16_t kSearchForm = 6;  // form run first to ask where to start, 0 for none
constexpr int16_t kSecondList = 7;  // list F4 opens from this one, 0 for none
constexpr int16_t kCount = 8;
}  // namespace list_attr

struct FieldDef {
  int16_t Attr[field_attr::kCount] = {};
  std::string Label;
  std::string Options;  // "|code,text|code,text"
  std::string Value;    // always as wide as the length
};

struct FormDef {
  std::string Keys;  // the form's ending keys, SetKeyList's `keys` text
  int16_t FieldCount = 0;
  int16_t NextForm = 0;          // the continuation page, 0 for none
  int16_t Window[4] = {};        // top, left, bottom, right (screen); top 0 = no window
  std::vector<FieldDef> Fields;  // index 1 .. MaxFields (0 unused)
};

struct ListDef {
  int16_t Attr[list_attr::kCount] = {};
  std::string Title;
};

struct FormTableState {
  int16_t FormCount = 0;
  int16_t MaxFields = 0;
  std::vector<FormDef> Forms;  // index 1 .. FormCount (0 unused)
  int16_t ListCount = 0;
  std::vector<ListDef> Lists;  // index 0 .. ListCount
};

// The one form table of the process, filled by the program before any form runs.
FormTableState& FormTable();
// Sizes the table for `formCount` forms of up to `maxFields` fields (all empty).
void CreateForms(int16_t formCount, int16_t maxFields);
// Sizes the list table for entries 0 .. listCount.
void CreateLists(int16_t listCount);
// Empties the table (tests).
void ResetFormTable();

// Accessors with the form table's names; forms, fields and lists count from 1. An index out of
// range reaches a scratch item (reads give 0 or ""), never memory outside the table.
std::string& FormKeys(int16_t form);
int16_t& FieldCount(int16_t form);
int16_t& NextForm(int16_t form);

// The sides of a form's window, FormWindow's second index.
namespace form_window {
constexpr int16_t kTop = 1;  // 0: the form has no window of its own
constexpr int16_t kLeft = 2;
constexpr int16_t kBottom = 3;
constexpr int16_t kRight = 4;
}  // namespace form_window
int16_t& FormWindow(int16_t form, int16_t side);                     // side: form_window
int16_t& FieldAttr(int16_t form, int16_t attribute, int16_t field);  // attribute: field_attr
std::string& FieldLabel(int16_t form, int16_t field);
std::string& FieldOptions(int16_t form, int16_t field);
std::string& FieldValue(int16_t form, int16_t field);
int16_t& ListAttr(int16_t list, int16_t attribute);  // attribute: list_attr
std::string& ListTitle(int16_t list);

// --- Hooks supplied by the program ---

// What the program decides while RunForm and BrowseList run. Forms, fields and lists are
// the form table's numbers.
class FormHooks {
 public:
  virtual ~FormHooks() = default;
  // Draws the form's labels and values; called once as RunForm enters the form.
  virtual void ShowForm(int16_t form) = 0;
  // Shows the field's stored value again (after Esc dropped what was typed).
  virtual void ShowField(int16_t form, int16_t& field) = 0;
  // Judges the text typed into `field`, which ended with `key`: 0 accepts (the hook stores the
  // value in FieldValue), anything else refuses and the operator edits again. The hook may
  // move to another field (`field`) or change the key that moves on (`key`).
  virtual int16_t CheckField(int16_t form, const std::string& text, int16_t& field,
                             int16_t& key) = 0;
  // Asked as the form is left with `key`: 0 lets the operator leave, anything else brings
  // them back to the first editable field.
  virtual int16_t CheckLeave(int16_t form, int16_t key) = 0;
  // Sets the keys the list runs from and to ("" for the file's first and last); 0 lets the
  // list go on, anything else ends BrowseList with that result.
  virtual int16_t ListKeyRange(int16_t list, std::string& fromKey, std::string& toKey) = 0;
  // The row text of the record just read into the list file's record buffer; "" leaves the
  // record out of the list.
  virtual std::string ListRowText(int16_t list) = 0;
  // A row of `list` was chosen (F4 from `field` of `form`, or form 0 and field 0 from a second
  // list): the hook copies it into the form. Setting `list` to 0 opens the list again;
  // changing `field` moves there.
  virtual void ListChosen(int16_t& list, int16_t form, int16_t& field) = 0;
};
// Hooks that do nothing and accept everything: the driver's stand-in while no program has
// installed its own, and a base for hooks that need only a few of the calls.
class NoFormHooks : public FormHooks {
 public:
  void ShowForm(int16_t) override {}
  void ShowField(int16_t, int16_t&) override {}
  int16_t CheckField(int16_t, const std::string&, int16_t&, int16_t&) override { return 0; }
  int16_t CheckLeave(int16_t, int16_t) override { return 0; }
  int16_t ListKeyRange(int16_t, std::string& fromKey, std::string& toKey) override {
    fromKey.clear();
    toKey.clear();
    return 0;
  }
  std::string ListRowText(int16_t) override { return {}; }
  void ListChosen(int16_t&, int16_t, int16_t&) override {}
};

// Installs the program's hooks; the caller keeps them alive while forms and lists run (not
// owned). nullptr puts back the do-nothing set.
void SetFormHooks(FormHooks* hooks);
// The installed hooks, nullptr when none.
FormHooks* CurrentFormHooks();

// --- Form driver ---

// Lets the operator fill `form` field by field through EditField and the hooks, in its own
// window when it has one, until a key leaves it; `key` returns that key (End, Ctrl+B, Esc,
// PgUp, PgDn, Enter past the last field, or any other key of the form's list). Enter, Down
// and F2 on the last field run the continuation form (NextForm) first. PgUp (PgDn) on the
// first (last) field leaves the form only when pageUpLeaves (pageDownLeaves) is not 0, and
// then remembers the page in ResumeForm so that the next RunForm of the chain returns to
// it. A negative `form` runs it as a continuation (Up on its first field leaves with Esc);
// `form` returns positive.
void RunForm(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key);
// The page of a chain of forms left with PgUp or PgDn, 0 for none.
int16_t& ResumeForm();
// What the operator typed, and in which form and field, while a hook runs (cleared when
// RunForm ends).
std::string& CurrentText();
int16_t& CurrentForm();
int16_t& CurrentField();

// --- Browse list ---

// Shows `list`'s rows in its window and lets the operator move (arrows, PgUp, PgDn, Left and
// Right scroll sideways) and choose with Enter; a search form (list_attr::kSearchForm) runs
// first. For a list of a data file, choosing reads the chosen record into the file's record
// buffer; for a list without a file (file 0), ListChoicePosition and ListChoiceText hold the
// chosen row. result: 0 chosen, -1 nothing chosen (Esc, or the search form left with Esc),
// else a status or the ListKeyRange result. The file's lock mode is "no lock" meanwhile.
void BrowseList(int16_t list, int16_t& result);
// The row chosen last in a list without a file: its data position and its text.
int32_t& ListChoicePosition();
std::string& ListChoiceText();

// --- Help ---

// Shows the help file "AJUDA\<topic>.HLP" of the current folder in a window until Esc; in
// run mode WIN opens "AJUDA\<topic>.HTM" through the command interpreter instead.
void ShowHelp(const std::string& topic);

// Puts the driver's, the list's and the form table's process-wide state back to start (tests).
void ResetFormsState();

}  // namespace kap
