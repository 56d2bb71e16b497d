// The removal cycle: key form, owner shown with the warning, confirmation, release of the
// owner's estates and deletion of the owner in one transaction, all under the owner's lock.
#include <cstring>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "format/format.h"
#include "formengine/screen.h"
#include "locking/lock_files.h"
#include "platform/bytes.h"
#include "platform/record_manager.h"
#include "platform/text.h"
#include "session/session.h"

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

// The record's numbers are signed little-endian integers.
int32_t Little32(const char* bytes) { return static_cast<int32_t>(LittleEndian32(bytes)); }
int16_t Little16(const char* bytes) { return static_cast<int16_t>(LittleEndian16(bytes)); }

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

enum class Removal { kDone, kEstatesKept, kOwnerKept };

bool Locked(int16_t status) { return status == rm::kRecordLocked || status == rm::kFileLocked; }

// The steps of one removal inside its transaction: releases every estate of the owner in the
// program's owner record, then deletes the owner. Stops at the first write that fails, saying
// in `failed` which part could not be done; a lock answered by another program comes back as is,
// for the transaction to be undone and run again.
int16_t ReleaseEstatesAndDeleteOwner(Removal* failed) {
  OwnerProgramState& program = OwnerProgram();
  const std::string ownerCode(program.OwnerRecord + owner::kCode, 2);
  const std::string waitMode = LockWaitMode();
  bool wrote = false;
  for (int slot = 0; slot < owner::kEstateSlots; ++slot) {
    const std::string code(program.OwnerRecord + owner::kEstates + slot * owner::kSlotSize, 2);
    std::memcpy(program.EstateRecord + estate::kCode, code.data(), 2);
    // Once the transaction holds the estates file, an estate another terminal holds is not
    // waited for here: that terminal may be waiting for the file. The removal is undone and
    // tried again instead.
    LockWaitMode() = wrote ? "s" : waitMode;
    const int16_t held = LockRecord("FinquesV", code);
    LockWaitMode() = waitMode;
    if (held != 0) return rm::kRecordLocked;
    int16_t status = 0, written = 0;
    FindRecord(kEstatesFile, 0, code, find_mode::kEqual, status);
    if (status == 0) {
      std::string holder(program.EstateRecord + estate::kOwner, 2);
      // An estate handed to another owner since is no longer this owner's to release.
      if (holder == ownerCode || holder == kNoOwner) {
        std::memcpy(program.EstateRecord + estate::kOwner, kNoOwner.data(), 2);
        UpdateRecord(kEstatesFile, written);
        wrote = wrote || written == 0;
      }
    }
    UnlockRecord("FinquesV");
    if (written != 0) {
      if (!Locked(written)) *failed = Removal::kEstatesKept;
      return written;
    }
  }
  int16_t status = 0;
  DeleteRecord(kOwnersFile, status);
  if (status != 0 && !Locked(status)) *failed = Removal::kOwnerKept;
  return status;
}

// The removal as one transaction: after a refusal or a crash at any moment either nothing has
// changed or the owner is gone and all its estates are released. Another program's lock on an
// estate or a file is waited for (with the message) outside the transaction, then the whole
// removal runs again on what is stored by then.
Removal RemoveOwner() {
  Removal failed = Removal::kOwnerKept;  // a commit that fails keeps everything as it was
  const int16_t status =
      RunTransaction([&failed] { return ReleaseEstatesAndDeleteOwner(&failed); });
  return status == 0 ? Removal::kDone : failed;
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
