// The form table: process-wide storage of forms, fields and browse lists, with accessors that
// keep every index inside the table.
#include "formengine/form_driver.h"

namespace kap {
namespace {

FormTableState& State() {
  static FormTableState state;
  return state;
}

// Out-of-range indices land here. Each access starts from a clean item, so a stray read gives
// 0 or "" and a stray write is simply forgotten.
struct Scratch {
  FormDef form;
  FieldDef field;
  ListDef list;
  int16_t number = 0;
};

Scratch& FreshScratch() {
  static Scratch scratch;
  scratch = Scratch{};
  return scratch;
}

bool FormInRange(int16_t form) {
  const FormTableState& s = State();
  return form >= 1 && form <= s.FormCount && static_cast<size_t>(form) < s.Forms.size();
}

FieldDef* FieldOrNull(int16_t form, int16_t field) {
  if (!FormInRange(form)) return nullptr;
  FormDef& f = State().Forms[form];
  if (field < 1 || static_cast<size_t>(field) >= f.Fields.size()) return nullptr;
  return &f.Fields[field];
}

FieldDef& FieldRef(int16_t form, int16_t field) {
  FieldDef* f = FieldOrNull(form, field);
  return f ? *f : FreshScratch().field;
}

FormDef& FormRef(int16_t form) {
  return FormInRange(form) ? State().Forms[form] : FreshScratch().form;
}

ListDef& ListRef(int16_t list) {
  FormTableState& s = State();
  // Entry 0 exists in the table (the loader sizes it 0 .. ListCount) but is not a list.
  if (list >= 1 && list <= s.ListCount && static_cast<size_t>(list) < s.Lists.size()) {
    return s.Lists[list];
  }
  return FreshScratch().list;
}

}  // namespace

FormTableState& FormTable() { return State(); }

void CreateForms(int16_t formCount, int16_t maxFields) {
  FormTableState& s = State();
  if (formCount < 0) formCount = 0;
  if (maxFields < 0) maxFields = 0;
  s.FormCount = formCount;
  s.MaxFields = maxFields;
  s.Forms.assign(static_cast<size_t>(formCount) + 1, FormDef{});
  for (FormDef& f : s.Forms) f.Fields.assign(static_cast<size_t>(maxFields) + 1, FieldDef{});
}

void CreateLists(int16_t listCount) {
  FormTableState& s = State();
  if (listCount < 0) listCount = 0;
  s.ListCount = listCount;
  s.Lists.assign(static_cast<size_t>(listCount) + 1, ListDef{});
}

void ResetFormTable() { State() = FormTableState{}; }

std::string& FormKeys(int16_t form) { return FormRef(form).Keys; }
int16_t& FieldCount(int16_t form) { return FormRef(form).FieldCount; }
int16_t& NextForm(int16_t form) { return FormRef(form).NextForm; }

int16_t& FormWindow(int16_t form, int16_t side) {
  if (side < 1 || side > 4) return FreshScratch().number;
  return FormRef(form).Window[side - 1];
}

int16_t& FieldAttr(int16_t form, int16_t attribute, int16_t field) {
  if (attribute < 0 || attribute >= field_attr::kCount) return FreshScratch().number;
  return FieldRef(form, field).Attr[attribute];
}

std::string& FieldLabel(int16_t form, int16_t field) { return FieldRef(form, field).Label; }
std::string& FieldOptions(int16_t form, int16_t field) { return FieldRef(form, field).Options; }
std::string& FieldValue(int16_t form, int16_t field) { return FieldRef(form, field).Value; }

int16_t& ListAttr(int16_t list, int16_t attribute) {
  if (attribute < 0 || attribute >= list_attr::kCount) return FreshScratch().number;
  return ListRef(list).Attr[attribute];
}

std::string& ListTitle(int16_t list) { return ListRef(list).Title; }

}  // namespace kap
