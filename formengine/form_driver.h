// Forms layer of the console form engine: the form table, the form driver (RunForm), the
// browse list and the help viewer. The program reaches in through FormHooks.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kap {

// --- Form table (filled by the program's form file loader) ---

struct FieldDef {
  int16_t Attr[8] = {};  // row, label column, length, wrap, extra width, flags, type, list
  std::string Label;
  std::string Options;   // "|code,text|code,text"
  std::string Value;     // always as wide as the length
};

struct FormDef {
  std::string Keys;            // "d,1b,..." hexadecimal key list
  int16_t FieldCount = 0;
  int16_t NextForm = 0;
  int16_t Window[4] = {};      // top, left, bottom, right; top 0 = no window
  std::vector<FieldDef> Fields;  // index 1 .. MaxFields (0 unused)
};

struct ListDef {
  int16_t Attr[8] = {};  // file, key, top, left, bottom, right, search form, second list
  std::string Title;
};

struct FormTableState {
  int16_t FormCount = 0;
  int16_t MaxFields = 0;
  std::vector<FormDef> Forms;  // index 1 .. FormCount (0 unused)
  int16_t ListCount = 0;
  std::vector<ListDef> Lists;  // index 0 .. ListCount
};

FormTableState& FormTable();
// Sizes the table for `formCount` forms of up to `maxFields` fields (all empty).
void CreateForms(int16_t formCount, int16_t maxFields);
// Sizes the list table for entries 0 .. listCount.
void CreateLists(int16_t listCount);
void ResetFormTable();

// Accessors with the form table's names; forms, fields and lists count from 1. An index out of
// range reaches a scratch item (reads give 0 or ""), never memory outside the table.
std::string& FormKeys(int16_t form);
int16_t& FieldCount(int16_t form);
int16_t& NextForm(int16_t form);
int16_t& FormWindow(int16_t form, int16_t corner);  // corner 1 .. 4
int16_t& FieldAttr(int16_t form, int16_t attribute, int16_t field);  // attribute 0 .. 7
std::string& FieldLabel(int16_t form, int16_t field);
std::string& FieldOptions(int16_t form, int16_t field);
std::string& FieldValue(int16_t form, int16_t field);
int16_t& ListAttr(int16_t list, int16_t attribute);  // attribute 0 .. 7
std::string& ListTitle(int16_t list);

// --- Hooks supplied by the program ---

class FormHooks {
 public:
  virtual ~FormHooks() = default;
  virtual void ShowForm(int16_t form) = 0;
  virtual void ShowField(int16_t form, int16_t& field) = 0;
  // 0 accepts (the hook stores the value), anything else refuses.
  virtual int16_t CheckField(int16_t form, const std::string& text, int16_t& field,
                             int16_t& key) = 0;
  // 0 lets the operator leave the form.
  virtual int16_t CheckLeave(int16_t form, int16_t key) = 0;
  // 0 lets the list go on.
  virtual int16_t ListKeyRange(int16_t list, std::string& fromKey, std::string& toKey) = 0;
  virtual std::string ListRowText(int16_t list) = 0;
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

// Installs the program's hooks (not owned).
void SetFormHooks(FormHooks* hooks);
FormHooks* CurrentFormHooks();

// --- Form driver ---

void RunForm(int16_t& form, int16_t& pageUpLeaves, int16_t& pageDownLeaves, int16_t& key);
int16_t& ResumeForm();
std::string& CurrentText();
int16_t& CurrentForm();
int16_t& CurrentField();

// --- Browse list ---

// result: 0 chosen, -1 nothing chosen, else a status or the ListKeyRange result.
void BrowseList(int16_t list, int16_t& result);
int32_t& ListChoicePosition();
std::string& ListChoiceText();

// --- Help ---

void ShowHelp(const std::string& topic);

// Puts the driver's, the list's and the form table's process-wide state back to start (tests).
void ResetFormsState();

}  // namespace kap
