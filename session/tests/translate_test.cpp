// Translate against real language files in a real installation folder.
#include <gtest/gtest.h>

#include "session/session.h"
#include "session/tests/fake_env.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::TempDir;

class TranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    test::MakeDirs(dir_.file("LOCALE"));
    Session& s = CurrentSession();
    s.RootDir = dir_.path() + "\\";
    s.ProgramName = "VOWNMAIN";
  }
  void TearDown() override { ResetSession(); }

  void WriteLng(const std::string& content) {
    test::WriteFile(dir_.file("LOCALE/VOWNMAIN.LNG"), content);
  }
  std::string In(const std::string& language, const std::string& text) {
    CurrentSession().Language = language;
    return Translate(text);
  }
  TempDir dir_;
};

TEST_F(TranslateTest, PicksTheColumnOfTheLanguage) {
  WriteLng(
      "\"Codi\",\"C\xA2\"\"digo\",\"C\xA2" "dic\",\"C\xA2" "digo\"\r\n"
      "Propietari,Propietario,Proprietari,Propietario\r\n"
      "\"Nom, cognoms\",\"Nome, apelidos\",\"Nom, cognoms\",\"Nombre, apellidos\"\r\n"
      "\"  Sagnat\",\"  Sangrado G\",\"  Sagnat O\",\"  Sangrado\"\r\n");
  struct Case {
    std::string language, text, expected;
  } cases[] = {
      {"SPA", "Propietari", "Propietario"},
      {"GLG", "Propietari", "Propietario"},
      {"OCI", "Propietari", "Proprietari"},
      {"SPA", "Nom, cognoms", "Nombre, apellidos"},
      {"GLG", "Nom, cognoms", "Nome, apelidos"},
      {"SPA", "  Sagnat", "  Sangrado"},
      {"OCI", "  Sagnat", "  Sagnat O"},
      {"GLG", "Codi", "C\xA2\"digo"},  // a doubled quote stands for one
      {"SPA", "Codi", "C\xA2" "digo"},
      // Not found, or not one of the three languages: the Catalan text.
      {"SPA", "Finca", "Finca"},
      {"ENG", "Propietari", "Propietari"},
      {"   ", "Propietari", "Propietari"},
      {"spa", "Propietari", "Propietari"},
      // The key is compared exactly.
      {"SPA", "Propietari ", "Propietari "},
      {"SPA", "propietari", "propietari"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(In(c.language, c.text), c.expected) << c.language << " [" << c.text << "]";
  }
}

TEST_F(TranslateTest, TheFirstRecordWinsAndBrokenRecordsAreSkipped) {
  WriteLng(
      "Alta,Alta G1,Alta O1,Alta S1\n"
      "Alta,Alta G2,Alta O2,Alta S2\n"
      "Curt,nomes dos\n"
      "\n"
      "Baixa,Baixa G,Baixa O,Baixa S\n"
      "Final,Final G");  // cut off: ends the scan
  EXPECT_EQ(In("SPA", "Alta"), "Alta S1");
  EXPECT_EQ(In("SPA", "Curt"), "Curt");
  EXPECT_EQ(In("SPA", "Baixa"), "Baixa S");
  EXPECT_EQ(In("GLG", "Final"), "Final");
  WriteLng("Una,Un G,Un O,Un S\nSola");
  EXPECT_EQ(In("SPA", "Sola"), "Sola");
  EXPECT_EQ(In("SPA", "Una"), "Un S");
  WriteLng("Sense final,G,O,S");  // a complete last record without a line end
  EXPECT_EQ(In("SPA", "Sense final"), "S");
}

TEST_F(TranslateTest, CatalanTouchesNoFile) {
  CurrentSession().Language = "CAT";
  EXPECT_EQ(Translate("Propietari"), "Propietari");
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
  EXPECT_EQ(CurrentSession().MessageFileName, "");
}

TEST_F(TranslateTest, AMissingFileIsCreatedEmpty) {
  EXPECT_EQ(In("SPA", "Propietari"), "Propietari");
  EXPECT_EQ(CurrentSession().MessageFileName, "VOWNMAIN");
  ASSERT_TRUE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
  EXPECT_EQ(test::ReadFile(dir_.file("LOCALE/VOWNMAIN.LNG")), "");
}

TEST_F(TranslateTest, TheFileNameIsFoundWithoutRegardToCase) {
  test::WriteFile(dir_.file("LOCALE/vownmain.lng"), "Alta,G,O,S\n");
  EXPECT_EQ(In("SPA", "Alta"), "S");
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
}

TEST_F(TranslateTest, MessageFileNameOnceSetIsKept) {
  test::WriteFile(dir_.file("LOCALE/COMU.LNG"), "Alta,G,O,S comu\n");
  CurrentSession().MessageFileName = "COMU";
  EXPECT_EQ(In("SPA", "Alta"), "S comu");
  EXPECT_EQ(CurrentSession().MessageFileName, "COMU");
}

TEST_F(TranslateTest, BinaryFilesAndHugeLinesDoNotBreakIt) {
  std::string binary;
  for (int round = 0; round < 200; ++round) {
    for (int b = 0; b < 256; ++b) binary.push_back(static_cast<char>((b * 91 + round) & 0xFF));
  }
  WriteLng(binary);
  EXPECT_EQ(In("SPA", "Alta"), "Alta");
  const std::string huge(100000, 'k');
  WriteLng("\"" + std::string(150000, 'q') + "\n" + huge + ",G,O," + huge + "\nAlta,G,O,S\n");
  EXPECT_EQ(In("SPA", huge), huge);
  EXPECT_EQ(In("SPA", "Alta"), "S");
}

// An installation on read-only storage: nothing can be created.
class ReadOnlyOs : public OsWrapper {
 public:
  ReadOnlyOs() : OsWrapper(&PosixOs()) { SetOs(this); }
  ~ReadOnlyOs() override { SetOs(nullptr); }
  std::unique_ptr<File> OpenFile(const std::string& p, bool create, bool readOnly, Sharing s,
                                 OpenResult* result) override {
    if (create || !readOnly) {
      *result = OpenResult::kFailed;
      return nullptr;
    }
    return OsWrapper::OpenFile(p, create, readOnly, s, result);
  }
};

TEST_F(TranslateTest, AReadOnlyInstallationLeavesTextsInCatalan) {
  ReadOnlyOs os;
  EXPECT_EQ(In("SPA", "Propietari"), "Propietari");
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
  // An existing file is still read.
  WriteLng("Propietari,G,O,Propietario\n");
  EXPECT_EQ(In("SPA", "Propietari"), "Propietario");
}

TEST_F(TranslateTest, AMissingLocaleFolderIsNotCreated) {
  CurrentSession().RootDir = dir_.file("elsewhere\\");
  EXPECT_EQ(In("OCI", "Propietari"), "Propietari");
  EXPECT_FALSE(test::FileExists(dir_.file("elsewhere")));
}

}  // namespace
}  // namespace kap
