// The form hooks of the owner program: painting forms and fields, checking typed values by
// field type, the key form's existence check and lock, and the owners list.
#include <cmath>
#include <cstring>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "format/format.h"
#include "formengine/screen.h"
#include "locking/lock_files.h"
#include "platform/text.h"
#include "session/session.h"
#include "taxid/taxid.h"

namespace kap {

namespace {

// Field types the rules know.
constexpr int16_t kEstateCode = 3;
constexpr int16_t kPercentage = 5;
constexpr int16_t kAmount = 6;
constexpr int16_t kTaxId = 7;
constexpr int16_t kNumber = 8;
constexpr int16_t kCountry = 14;
constexpr int16_t kShortNumber = 83;

// Estate codes of a form stand in its odd-numbered fields up to this one.
constexpr int16_t kLastEstateField = 39;

constexpr int16_t kOwnersList = 1;

const char kDuplicateEstate[] = "FINCA JA DEFINIDA EN AQUEST PROPIETARI";
const char kNoEstate[] = "FINCA INEXISTENT";
const char kEstateTaken[] = "AQUESTA FINCA EST\xB7 ASSIGNADA A UN ALTRE PROPIETARI";
const char kNoOwnerText[] = "PROPIETARI INEXISTENT";

std::string Fit(const std::string& text, int16_t length) {
  return PadOrCut(text, length > 0 ? static_cast<size_t>(length) : 0);
}

bool DigitsOnly(const std::string& text) { return CheckNumberSyntax(text, "") == 0; }

const char* PictureOf(int16_t type) {
  switch (type) {
    case kEstateCode:
      return "ZZZ";
    case kPercentage:
      return "ZZ9";
    case kNumber:
      return "ZZZZZZZ9";
    case kShortNumber:
      return "ZZZ9";
    default:
      return nullptr;
  }
}

// The text of the option whose code equals `value`; false when none does.
bool OptionText(const std::string& options, const std::string& value, std::string& text) {
  size_t start = options.find('|');
  while (start != std::string::npos) {
    size_t next = options.find('|', start + 1);
    std::string entry =
        options.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
    size_t comma = entry.find(',');
    std::string code = entry.substr(0, comma);
    if (code == value) {
      text = comma == std::string::npos ? "" : entry.substr(comma + 1);
      return true;
    }
    start = next;
  }
  return false;
}

// The estate code field `field` may hold `value`; 0, or a refusal already shown.
int16_t CheckEstate(int16_t form, int16_t field, double value) {
  for (int16_t other = 1; other <= kLastEstateField; other += 2) {
    if (other == field) continue;
    if (NumberValue(FieldValue(form, other)) == value) {
      RefuseWithMessage(Translate(kDuplicateEstate));
      return -1;
    }
  }
  OwnerProgramState& program = OwnerProgram();
  // Packed from the number the field will hold (four digits), so inner blanks cannot name
  // another estate.
  std::string digits = FormatFixed(value, "");
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  std::string key = PackDigits(digits);
  std::memcpy(program.EstateRecord + estate::kCode, key.data(), std::min<size_t>(2, key.size()));
  int16_t status = 0;
  FindRecord(kEstatesFile, 0, std::string(program.EstateRecord + estate::kCode, 2),
             find_mode::kEqual, status);
  if (status != 0) {
    RefuseWithMessage(Translate(kNoEstate));
    return -1;
  }
  std::string holder(program.EstateRecord + estate::kOwner, 2);
  if (holder != kNoOwner && holder != std::string(program.OwnerRecord + owner::kCode, 2)) {
    RefuseWithMessage(Translate(kEstateTaken));
    return -1;
  }
  return 0;
}

}  // namespace

double NumberValue(const std::string& text) {
  double value = 0;
  double scale = 0;  // 0 while in the integer part
  bool negative = false, started = false;
  for (char c : text) {
    if (c == ' ') continue;
    if ((c == '-' || c == '+') && !started) {
      negative = c == '-';
      started = true;
    } else if (c == '.' && scale == 0) {
      scale = 0.1;
      started = true;
    } else if (c >= '0' && c <= '9') {
      started = true;
      if (scale == 0) {
        value = value * 10 + (c - '0');
      } else {
        value += (c - '0') * scale;
        scale /= 10;
      }
    } else {
      break;
    }
  }
  return negative ? -value : value;
}

void RefuseWithMessage(const std::string& text) { ShowMessageAndWait(12, text); }

void OwnerHooks::ShowForm(int16_t form) {
  SetColour("rh");
  if (form == kKeyForm) {
    const std::string& title = CurrentSession().MenuTitle;
    // Halves round to the even neighbour, as the suite centres titles.
    int column = 41 - static_cast<int>(std::nearbyint(title.size() / 2.0));
    // Screen row 1 expressed in the coordinates of whatever window is open.
    LocateInWindow(static_cast<int16_t>(2 - WindowOriginRow()),
                   static_cast<int16_t>(column - WindowOriginColumn() + 1));
    WriteText(title);
  }
  SetColour("n");
  for (int16_t field = 1; field <= FieldCount(form); ++field) {
    LocateInWindow(FieldAttr(form, field_attr::kRow, field),
                   FieldAttr(form, field_attr::kLabelColumn, field));
    WriteText(FieldLabel(form, field));
  }
  SetColour("h");
  for (int16_t field = 1; field <= FieldCount(form); ++field) {
    int16_t shown = field;
    ShowField(form, shown);
  }
}

void OwnerHooks::ShowField(int16_t form, int16_t& field) {
  const int16_t row = FieldAttr(form, field_attr::kRow, field);
  const int16_t column = static_cast<int16_t>(FieldAttr(form, field_attr::kLabelColumn, field) +
                                              FieldLabel(form, field).size());
  const int16_t length = FieldAttr(form, field_attr::kLength, field);
  const int16_t wrap = FieldAttr(form, field_attr::kWrap, field);
  const int16_t extra = FieldAttr(form, field_attr::kExtraWidth, field);
  const int16_t flags = FieldAttr(form, field_attr::kFlags, field);
  const int16_t type = FieldAttr(form, field_attr::kType, field);
  const std::string& value = FieldValue(form, field);
  LocateInWindow(row, column);

  if (flags & field_flag::kDisplayOnly) {
    WriteText(std::string(static_cast<size_t>(std::max(0, length + extra)), '-'));
    return;
  }
  if (flags & field_flag::kHidden) return;
  if (type == kAmount) {
    WriteText(FormatMoney("ZZ,ZZZ,ZZ9", NumberValue(value)));
    return;
  }
  if (const char* picture = PictureOf(type)) {
    WriteText(FormatNumber(picture, NumberValue(value)));
    return;
  }
  if (!FieldOptions(form, field).empty()) {
    std::string text;
    if (OptionText(FieldOptions(form, field), value, text))
      WriteText(Fit(text, static_cast<int16_t>(std::max(0, length + extra))));
    return;
  }
  if (wrap > 0) {
    for (size_t start = 0, piece = 0; start < value.size(); start += wrap, ++piece) {
      LocateInWindow(static_cast<int16_t>(row + piece), column);
      WriteText(value.substr(start, wrap));
    }
    return;
  }
  WriteText(value);
}

int16_t OwnerHooks::CheckField(int16_t form, const std::string& text, int16_t& field,
                               int16_t& key) {
  (void)key;
  const int16_t length = FieldAttr(form, field_attr::kLength, field);
  std::string stored = text;
  if (form == kKeyForm && field == kOwnerCodeField) {
    // The owner code: digits and blanks only, stored as the number it shows, so the code that
    // CheckLeave looks up is exactly the one on the screen ("1 2" is 12, not 1020).
    if (!DigitsOnly(text)) return -1;
    if (!TrimSpaces(text).empty()) stored = FormatFixed(NumberValue(text), "");
    FieldValue(form, field) = Fit(stored, length);
    ShowField(form, field);
    return 0;
  }
  switch (FieldAttr(form, field_attr::kType, field)) {
    case kEstateCode: {
      if (!DigitsOnly(text)) return -1;
      double value = NumberValue(text);
      if (value != 0 && CheckEstate(form, field, value) != 0) return -1;
      stored = FormatFixed(value, "");
      break;
    }
    case kPercentage:
      if (ValidateNumber(text, 0, 100, 0) != 0) return -1;
      break;
    case kAmount:
    case kNumber:
      if (!DigitsOnly(text)) return -1;
      break;
    case kTaxId: {
      std::string country = TrimSpaces(FieldValue(form, static_cast<int16_t>(field - 1)));
      if (ValidateTaxId(stored, country) != 0) return -1;
      break;
    }
    case kCountry: {
      OwnerProgramState& program = OwnerProgram();
      int16_t status = 0;
      FindRecord(kCountriesFile, 0, UpperAscii(text), find_mode::kEqual, status);
      if (status != 0 || std::string(program.CountryRecord + country::kMember, 2) != "UE")
        return -1;
      std::string found = Fit(std::string(program.CountryRecord + country::kCode, 2), length);
      if (FieldValue(form, field) != found) {
        FieldValue(form, field) = found;
        // A tax identifier is only valid for its country: it must be entered again.
        int16_t next = static_cast<int16_t>(field + 1);
        if (next <= FieldCount(form)) {
          FieldValue(form, next) = Fit("", FieldAttr(form, field_attr::kLength, next));
          ShowField(form, next);
        }
      }
      ShowField(form, field);
      return 0;
    }
    default:
      break;
  }
  FieldValue(form, field) = Fit(stored, length);
  ShowField(form, field);
  return 0;
}

int16_t OwnerHooks::CheckLeave(int16_t form, int16_t key) {
  if (key == key::kEsc) return 0;
  LockWaitMode() = "p";
  int16_t result = 0;
  if (form == kKeyForm) {
    OwnerProgramState& program = OwnerProgram();
    std::string code = PackDigits(FieldValue(kKeyForm, kOwnerCodeField));
    code.resize(2, static_cast<char>(0x80));
    std::memcpy(program.OwnerRecord + owner::kCode, code.data(), 2);
    int16_t status = 0;
    FindRecord(kOwnersFile, 0, code, find_mode::kEqual, status);
    if (status != 0) {
      RefuseWithMessage(Translate(kNoOwnerText));
      result = -1;
    } else {
      result = LockRecord("PropietV", code);
    }
  }
  LockWaitMode() = "";
  return result;
}

int16_t OwnerHooks::ListKeyRange(int16_t list, std::string& fromKey, std::string& toKey) {
  (void)list;
  fromKey.clear();
  toKey.clear();
  return 0;
}

std::string OwnerHooks::ListRowText(int16_t list) {
  if (list != kOwnersList) return "";
  const char* record = OwnerProgram().OwnerRecord;
  return UnpackDigits(std::string(record + owner::kCode, 2)) + "  " +
         std::string(record + owner::kText1, 30);
}

void OwnerHooks::ListChosen(int16_t& list, int16_t form, int16_t& field) {
  // A choice made in a list opened from another list names no field (form 0): nothing to fill.
  if (list != kOwnersList || form < 1 || form > FormTable().FormCount || field < 1 ||
      field > FieldCount(form))
    return;
  std::string code = UnpackDigits(std::string(OwnerProgram().OwnerRecord + owner::kCode, 2));
  int16_t key = 0;
  CheckField(form, code, field, key);
}

OwnerProgramState& OwnerProgram() {
  static OwnerProgramState state;
  return state;
}

void ResetOwnerProgram() {
  OwnerProgramState& state = OwnerProgram();
  std::memset(state.OwnerRecord, 0, sizeof state.OwnerRecord);
  std::memset(state.EstateRecord, 0, sizeof state.EstateRecord);
  std::memset(state.CountryRecord, 0, sizeof state.CountryRecord);
}

}  // namespace kap
