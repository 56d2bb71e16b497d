// The removal cycle: key form, owner shown with the warning, confirmation, release of the
// owner's estates and deletion of the owner, all under the owner's lock.
#include <cstring>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "format/format.h"
#include "formengine/screen.h"
#include "locking/lock_files.h"
#include "session/session.h"
#include "platform/text.h"

namespace kap {

namespace {

const char kWarning[] =
    "SI DONEU DE BAIXA UN PROPIETARI, HAUREU D'ASSIGNAR LES SEVES FINQUES A UN ALTRE "
    "PROPIETARI O DONAR-LES TAMB\x90 DE BAIXA.";
const char kNoOwnerText[] = "PROPIETARI INEXISTENT";
const char kEstatesNotReleased[] =
    "NO S'HAN POGUT ALLIBERAR TOTES LES FINQUES DEL PROPIETARI. EL PROPIETARI NO S'HA DONAT "
    "DE BAIXA.";
const char kOwnerNotDeleted[] = "NO S'HA POGUT DONAR DE BAIXA EL PROPIETARI.";

std::string Fit(const std::string& text, int16_t length) {
  return PadOrCut(text, length > 0 ? static_cast<size_t>(length) : 0);
}

void SetField(int16_t form, int16_t field, const std::string& text) {
  FieldValue(form, field) = Fit(text, FieldAttr(form, field_attr::kLength, field));
}

int32_t Little32(const char* bytes) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
  return static_cast<int32_t>(value);
}

int16_t Little16(const char* bytes) {
  return static_cast<int16_t>(static_cast<uint8_t>(bytes[0]) |
                              static_cast<uint8_t>(bytes[1]) << 8);
}

std::string NumberText(double value) { return FormatFixed(value, ""); }

// Blanks form 2 and the pages that continue it (a damaged chain cannot loop for ever).
void BlankOwnerForms() {
  int16_t form = kOwnerForm;
  for (int steps = 0; form > 0 && form <= FormTable().FormCount && steps <= FormTable().FormCount;
       ++steps, form = NextForm(form)) {
    for (int16_t field = 1; field <= FieldCount(form); ++field) SetField(form, field, "");
  }
}

void FillOwnerForm(const char* record) {
  auto show = [](int16_t field, const std::string& text) { SetField(kOwnerForm, field, text); };
  show(1, std::string(record + owner::kText1, 30));
  show(2, std::string(record + owner::kText2, 20));
  show(3, std::string(record + owner::kText3, 30));
  show(4, std::string(record + owner::kText4, 30));
  show(5, std::string(record + owner::kText5, 30));
  show(kOwnerCountryField, std::string(record + owner::kCountry, 2));
  show(7, std::string(record + owner::kTaxId, 15));
  show(8, NumberText(NumberValue(UnpackDigits(std::string(record + owner::kDate8, 4)))));
  show(9, NumberText(NumberValue(UnpackDigits(std::string(record + owner::kDate9, 4)))));
  show(10, NumberText(Little32(record + owner::kLong10)));
  show(11, NumberText(Little32(record + owner::kLong11)));
  show(12, NumberText(Little32(record + owner::kLong12)));
  show(13, NumberText(Little32(record + owner::kLong13)));
  show(14, NumberText(Little16(record + owner::kShort14)));
  show(15, NumberText(Little32(record + owner::kLong15)));
}

// A write of the removal in the waiting lock mode: while another program holds the record in
// the record manager the write waits, telling the operator, instead of failing the removal.
void WriteWaiting(int16_t file, void (*write)(int16_t, int16_t&), int16_t& status) {
  int16_t ignored = 0;
  SetLockMode(file, "+a", ignored);
  write(file, status);
  SetLockMode(file, "-", ignored);
}

enum class Removal { kDone, kEstatesKept, kOwnerKept };

// Releases every estate of the owner in `record` (the current record of the owners file), then
// deletes the owner. An estate that cannot be rewritten keeps the owner, so no estate is left
// naming an owner that no longer exists.
Removal RemoveOwner() {
  OwnerProgramState& program = OwnerProgram();
  const std::string ownerCode(program.OwnerRecord + owner::kCode, 2);
  bool estateFailed = false;
  for (int slot = 0; slot < owner::kEstateSlots; ++slot) {
    const std::string code(program.OwnerRecord + owner::kEstates + slot * owner::kSlotSize, 2);
    std::memcpy(program.EstateRecord + estate::kCode, code.data(), 2);
    LockRecord("FinquesV", code);
    int16_t status = 0;
    FindRecord(kEstatesFile, 0, code, find_mode::kEqual, status);
    if (status == 0) {
      std::string holder(program.EstateRecord + estate::kOwner, 2);
      // An estate handed to another owner since is no longer this owner's to release.
      if (holder == ownerCode || holder == kNoOwner) {
        std::memcpy(program.EstateRecord + estate::kOwner, kNoOwner.data(), 2);
        WriteWaiting(kEstatesFile, UpdateRecord, status);
        if (status != 0) estateFailed = true;
      }
    }
    UnlockRecord("FinquesV");
  }
  if (estateFailed) return Removal::kEstatesKept;
  int16_t status = 0;
  WriteWaiting(kOwnersFile, DeleteRecord, status);
  return status == 0 ? Removal::kDone : Removal::kOwnerKept;
}

}  // namespace

void RunOwnerCycle() {
  OwnerProgramState& program = OwnerProgram();
  for (;;) {
    SetColour("n");
    ClearScreen();
    int16_t form = kKeyForm, pageUp = 0, pageDown = 0, key = 0;
    RunForm(form, pageUp, pageDown, key);
    if (key == key::kEsc) return;

    const std::string code(program.OwnerRecord + owner::kCode, 2);
    BlankOwnerForms();
    SetField(kOwnerForm, kOwnerCountryField, "ES");
    int16_t status = 0;
    FindRecord(kOwnersFile, 0, code, find_mode::kEqual, status);
    if (status != 0) {
      // Deleted by another terminal since the key form found it: nothing left to remove.
      RefuseWithMessage(Translate(kNoOwnerText));
      UnlockRecord("PropietV");
      continue;
    }
    FillOwnerForm(program.OwnerRecord);

    auto side = [](int16_t which) { return FormWindow(kOwnerForm, which); };
    const bool window = side(form_window::kTop) != 0;
    if (window) {
      SetColour("+n");
      PushWindow(side(form_window::kTop), side(form_window::kLeft), side(form_window::kBottom),
                 side(form_window::kRight));
      DrawFrame(kFrameDouble);
      SetColour("-");
    }
    program.Hooks.ShowForm(kOwnerForm);
    ShowMessage(20, Translate(kWarning));

    SetField(kConfirmForm, kAnswerField, "N");
    form = kConfirmForm;
    key = 0;
    RunForm(form, pageUp, pageDown, key);
    const std::string& answer = FieldValue(kConfirmForm, kAnswerField);
    const bool confirmed =
        answer.substr(0, 1) == "S" && answer.find_first_not_of(' ', 1) == std::string::npos;
    Removal removal = Removal::kDone;
    if (confirmed) removal = RemoveOwner();
    // The removed owner no longer exists: a code left in the field would only invite typing
    // over it and opening another owner.
    if (confirmed && removal == Removal::kDone) SetField(kKeyForm, kOwnerCodeField, "");
    UnlockRecord("PropietV");

    PopWindow();
    if (window) PopWindow();
    if (removal == Removal::kEstatesKept) RefuseWithMessage(Translate(kEstatesNotReleased));
    if (removal == Removal::kOwnerKept) RefuseWithMessage(Translate(kOwnerNotDeleted));
  }
}

}  // namespace kap
