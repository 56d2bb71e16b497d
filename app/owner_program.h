// The owner-removal program: its start-up, the loader of its form file, the removal cycle and
// the hooks through which the form engine reaches the owner data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formengine/form_driver.h"

namespace kap {

// --- Forms of the program's form file ---

// The key form asks for the owner code; the owner form (and the pages continuing it) shows the
// owner with the warning; the confirmation asks "S" or "N".
constexpr int16_t kKeyForm = 1;
constexpr int16_t kOwnerForm = 2;
constexpr int16_t kConfirmForm = 3;
constexpr int16_t kOwnerCodeField = 1;     // of the key form
constexpr int16_t kOwnerCountryField = 6;  // of the owner form
constexpr int16_t kAnswerField = 1;        // of the confirmation

// --- Files and record layouts ---

constexpr int16_t kOwnersFile = 505;
constexpr int16_t kEstatesFile = 506;
constexpr int16_t kCountriesFile = 293;

constexpr size_t kOwnerRecordLength = 321;
// The estates and countries files belong to other programs of the suite: their buffers hold
// the largest record the data layer moves, so any site's record length fits.
constexpr size_t kLargestRecord = 1536;

namespace owner {
constexpr size_t kCode = 0;       // 2 bytes, packed digits
constexpr size_t kText1 = 2;      // 30
constexpr size_t kText2 = 32;     // 20
constexpr size_t kText3 = 52;     // 30
constexpr size_t kText4 = 82;     // 30
constexpr size_t kText5 = 112;    // 30
constexpr size_t kShort14 = 154;  // 16-bit
constexpr size_t kLong11 = 156;   // 32-bit
constexpr size_t kLong12 = 160;
constexpr size_t kLong13 = 164;
constexpr size_t kLong15 = 168;
constexpr size_t kLong10 = 172;
constexpr size_t kDate8 = 176;  // 4 bytes, packed YYYYMMDD
constexpr size_t kDate9 = 180;
constexpr size_t kEstates = 184;  // 20 slots of (2-byte packed code, 16-bit integer)
constexpr int kEstateSlots = 20;
constexpr size_t kSlotSize = 4;
constexpr size_t kCountry = 264;  // 2
constexpr size_t kTaxId = 266;    // 15
}  // namespace owner

namespace estate {
constexpr size_t kCode = 0;   // 2 bytes, packed digits
constexpr size_t kOwner = 6;  // 2 bytes, packed digits; "0000" = no owner
}  // namespace estate

namespace country {
constexpr size_t kCode = 0;     // 2 letters
constexpr size_t kMember = 47;  // "UE" for member states of the European Union
}  // namespace country

// Packed "0000": an owner code that names nobody.
inline const std::string kNoOwner("\x80\x80", 2);

// --- Form file ---

// Problems of a form file, in the program's own language (translated when shown).
namespace form_file {
inline constexpr char kUnreadable[] = "NO ES POT LLEGIR EL FITXER DE FORMULARIS";
inline constexpr char kTooLarge[] = "EL FITXER DE FORMULARIS \x90S MASSA GRAN";
inline constexpr char kEndsInsideGroup[] = "EL FITXER S'ACABA A MITJAN D'UN GRUP DE VALORS";
inline constexpr char kNumberExpected[] = "S'ESPERAVA UN NOMBRE";
inline constexpr char kOutOfRange[] = "NOMBRE FORA DE L\xD6MITS";
inline constexpr char kTooMany[] = "MASSA FORMULARIS, CAMPS O LLISTES";
inline constexpr char kMissingForm[] = "FALTA UN DELS FORMULARIS 1 A 3";
inline constexpr char kLine[] = "L\xD6NIA";
}  // namespace form_file

struct FormFileError {
  std::string file;
  int line = 0;  // 1-based; 0 when the file could not be read at all
  std::string problem;
  // The file, the line and the problem, translated, for the operator.
  std::string Text() const;
};

// Fills the form table from RootDir + "FORMS\" + ProgramName + ".JPN", translating labels,
// option lists and list titles. 0 on success; -1 when the file cannot be read, ends inside a
// group or holds values the table cannot take, with `error` saying where.
int16_t LoadFormFile(FormFileError& error);
// The same from an explicit path (written the suite's way or as a plain path).
int16_t LoadFormFileFrom(const std::string& path, FormFileError& error);

// --- Hooks ---

class OwnerHooks : public FormHooks {
 public:
  void ShowForm(int16_t form) override;
  void ShowField(int16_t form, int16_t& field) override;
  int16_t CheckField(int16_t form, const std::string& text, int16_t& field, int16_t& key) override;
  int16_t CheckLeave(int16_t form, int16_t key) override;
  int16_t ListKeyRange(int16_t list, std::string& fromKey, std::string& toKey) override;
  std::string ListRowText(int16_t list) override;
  void ListChosen(int16_t& list, int16_t form, int16_t& field) override;
};

// --- Process-wide state of the program ---

struct OwnerProgramState {
  char OwnerRecord[kOwnerRecordLength] = {};
  char EstateRecord[kLargestRecord] = {};
  char CountryRecord[kLargestRecord] = {};
  OwnerHooks Hooks;
};
OwnerProgramState& OwnerProgram();
// Clears the record buffers (tests).
void ResetOwnerProgram();

// Shows `text` in a message box on row 12, beeps, discards typed keys, waits for one key and
// removes the box: how the program tells the operator that something was refused.
void RefuseWithMessage(const std::string& text);

// Numeric value of a typed number text: optional sign, digits and one "."; spaces are
// ignored, anything else ends the number; "" is 0.
double NumberValue(const std::string& text);

// Opens the three data files (a file that cannot be opened ends the program).
void OpenOwnerFiles(int16_t& status);

// Runs the removal cycle until the operator leaves the key form with Esc.
void RunOwnerCycle();

// Why the program cannot start here, "" when it can: no terminal folder (its identity for the
// lock files and its temporary files live there), or one that does not exist. Reads the
// session; called before the terminal is taken and before any lock.
std::string StartupRefusal();

// What a record-manager status means, in words for the administrator's stderr.
std::string StatusCause(int16_t status);

// The whole program after the console is installed: session, form file, files, cycle and
// release. Returns the exit code; a form file that cannot be loaded is shown to the operator
// and its text left in *fatal.
int RunOwnerProgram(std::string* fatal = nullptr);

}  // namespace kap
