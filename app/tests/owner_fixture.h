// Shared set-up of the owner program tests: an installation in a temporary folder with real
// data files (created from dictionaries by the data layer), the in-memory console fed with
// keys while the program waits, and helpers to write and read owners, estates and countries.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/owner_program.h"
#include "data/data_files.h"
#include "format/format.h"
#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "locking/lock_files.h"
#include "platform/console.h"
#include "platform/os.h"
#include "platform/tests/record_manager_support.h"
#include "session/session.h"
#include "testsupport/key_script.h"
#include "testsupport/test_support.h"

namespace kap::test {

// A dictionary file: the 2-byte length, then the record manager's creation block.
inline std::string Dictionary(const std::string& creationBlock) {
  std::string file(2, '\0');
  Put16(&file, 0, static_cast<uint16_t>(creationBlock.size()));
  return file + creationBlock;
}

constexpr int kEstateLength = 64;
constexpr int kCountryLength = 64;

inline std::string Packed(const std::string& digits) { return PackDigits(digits); }

// Steps the program through on the shared key script, with a key-first notation.
class KeyFeeder {
 public:
  explicit KeyFeeder(MemoryConsole& console) : script_(console) {}
  void Key(int16_t key, std::function<void()> check = nullptr) {
    script_.Add(CheckThen(std::move(check), key));
  }
  void Text(const std::string& text) { script_.Text(text); }
  bool Done() const { return script_.Done(); }

 private:
  Script script_;
};

// Forks a process that opens the owner files under the session's RootDir, holds estate `code`
// with a record lock of the record manager, writes the file `held`, waits (up to a minute) for
// the file `release`, runs `beforeRelease` and ends with its status. Returns the child's pid
// once the lock is held, -1 when the child could not take it. The caller's files must be closed
// around the fork, so that the child opens its own.
inline int HoldEstateInChild(
    const std::string& code, const std::string& held, const std::string& release,
    const std::function<int16_t()>& beforeRelease = [] { return int16_t{0}; }) {
  int child = ForkChild([&] {
    ResetDataState();
    int16_t s = 0;
    OpenOwnerFiles(s);
    SetLockMode(kEstatesFile, "B", s);
    FindRecord(kEstatesFile, 0, PackDigits(code), 0, s);
    if (s != 0) return 1;
    WriteFile(held, "1");
    for (int i = 0; i < 6000 && !FileExists(release); ++i) usleep(10000);
    s = beforeRelease();
    int16_t ignored = 0;
    ResetDataFiles(ignored);
    return static_cast<int>(s);
  });
  for (int i = 0; i < 3000 && !FileExists(held); ++i) usleep(10000);
  return FileExists(held) ? child : -1;
}

// Through the open data files of this process.
inline bool OwnerExists(const std::string& code) {
  int16_t status = 0;
  FindRecord(kOwnersFile, 0, Packed(code), 0, status);
  return status == 0;
}
// The estate's owner code as digits; "" when the estate does not exist.
inline std::string EstateOwner(const std::string& code) {
  int16_t status = 0;
  FindRecord(kEstatesFile, 0, Packed(code), 0, status);
  if (status != 0) return "";
  return UnpackDigits(std::string(OwnerProgram().EstateRecord + estate::kOwner, 2));
}
// Entries held by some terminal (number field not blank) in a lock file of `root`; a missing
// lock file is created with its name in capitals.
inline int HeldLocks(const std::string& root, const std::string& name) {
  std::string bytes = LockFileBytes(root, name + ".lck");
  int held = 0;
  for (size_t at = 0; at + 121 <= bytes.size(); at += 121) {
    if (bytes.substr(at + 15, 11) != std::string(11, ' ')) ++held;
  }
  return held;
}

// Opens the owner program's files of the installation at `root` in this process (to look at
// or prepare records), and closes them again with everything the test's session held.
inline void OpenInstallationFiles(const std::string& root) {
  ResetSession();
  ResetDataState();
  CurrentSession().RootDir = root + "/";
  int16_t status = 0;
  OpenOwnerFiles(status);
  ASSERT_EQ(status, 0);
}
inline void CloseInstallationFiles() {
  int16_t status = 0;
  ResetDataFiles(status);
  ResetDataState();
  ResetLockState();
  ResetSession();
}

class OwnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) oldDir_ = cwd;
    MakeDirs(dir.file("ddf"));
    MakeDirs(dir.file("DADES"));
    MakeDirs(dir.file("TAULES"));
    MakeDirs(dir.file("T1"));
    WriteFile(dir.file("ddf/PropietV.xdf"), Dictionary(CreationBlock(321, {{{1, 2}}}, 1024)));
    WriteFile(dir.file("ddf/FinquesV.xdf"),
              Dictionary(CreationBlock(kEstateLength, {{{1, 2}}, {{7, 2, 3}}}, 1024)));
    WriteFile(dir.file("ddf/UPaisos.xdf"),
              Dictionary(CreationBlock(kCountryLength, {{{1, 2}}}, 1024)));
    // db.log goes to the current directory, as in the installation's root.
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    ResetSession();
    ResetDataState();
    ResetScreenState();
    ResetFormsState();
    ResetLockState();
    ResetOwnerProgram();
    Session& session = CurrentSession();
    session.RootDir = dir.path() + "/";
    session.WorkDir = dir.path() + "/T1/";
    session.ProgramName = "VOWNMAIN";
    session.Language = "CAT";
    session.MenuTitle = " BAIXA DE PROPIETARIS ";
    SetConsole(&console);
    SetClipboard(&clipboard);
    SetFatalHandler([](const std::string& message, int16_t status) {
      std::fprintf(stderr, "fatal open error: %s (%d)\n", message.c_str(), status);
      std::_Exit(3);
    });
    int16_t status = 0;
    OpenOwnerFiles(status);
    ASSERT_EQ(status, 0);
    SetFormHooks(&OwnerProgram().Hooks);
  }

  void TearDown() override {
    SetFormHooks(nullptr);
    int16_t status = 0;
    ResetDataFiles(status);
    ResetDataState();
    ResetScreenState();
    ResetFormsState();
    ResetLockStateAndMarks();
    SetConsole(nullptr);
    SetClipboard(nullptr);
    SetFatalHandler(nullptr);
    ResetSession();
    if (!oldDir_.empty()) (void)chdir(oldDir_.c_str());
  }

  // --- Records ---

  void AddOwner(const std::string& code, const std::string& name,
                const std::map<int, std::string>& estates = {}, const std::string& country = "ES",
                const std::string& taxId = "12345678Z") {
    char* r = OwnerProgram().OwnerRecord;
    std::memset(r, ' ', kOwnerRecordLength);
    std::memcpy(r + owner::kCode, Packed(code).data(), 2);
    std::string text = name;
    text.resize(30, ' ');
    std::memcpy(r + owner::kText1, text.data(), 30);
    for (int slot = 0; slot < owner::kEstateSlots; ++slot) {
      char* s = r + owner::kEstates + slot * owner::kSlotSize;
      auto it = estates.find(slot + 1);
      std::string packed = it == estates.end() ? kNoOwner : Packed(it->second);
      std::memcpy(s, packed.data(), 2);
      s[2] = s[3] = 0;
    }
    std::memcpy(r + owner::kCountry, country.data(), 2);
    std::string tax = taxId;
    tax.resize(15, ' ');
    std::memcpy(r + owner::kTaxId, tax.data(), 15);
    int16_t status = 0;
    InsertRecord(kOwnersFile, status);
    ASSERT_EQ(status, 0) << "owner " << code;
  }

  void AddEstate(const std::string& code, const std::string& ownerCode) {
    char* r = OwnerProgram().EstateRecord;
    std::memset(r, ' ', kEstateLength);
    std::memcpy(r + estate::kCode, Packed(code).data(), 2);
    std::memcpy(r + estate::kOwner, Packed(ownerCode).data(), 2);
    int16_t status = 0;
    InsertRecord(kEstatesFile, status);
    ASSERT_EQ(status, 0) << "estate " << code;
  }

  void AddCountry(const std::string& code, const std::string& member) {
    char* r = OwnerProgram().CountryRecord;
    std::memset(r, ' ', kCountryLength);
    std::memcpy(r + country::kCode, code.data(), 2);
    std::memcpy(r + country::kMember, member.data(), 2);
    int16_t status = 0;
    InsertRecord(kCountriesFile, status);
    ASSERT_EQ(status, 0) << "country " << code;
  }

  int HeldLocks(const std::string& name) { return test::HeldLocks(dir.path(), name); }

  std::vector<std::string> LogLines() {
    std::string text = ReadFile(dir.file("db.log"));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  TempDir dir;
  MemoryConsole console;
  MemoryClipboard clipboard;

 private:
  std::string oldDir_;
};

}  // namespace kap::test
