// Translate against real language files in a real installation folder.
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/os.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

class TranslateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSession();
    test::MakeDirs(dir_.file("LOCALE"));
    CurrentSession().RootDir = dir_.path() + "\\";
    CurrentSession().ProgramName = "VOWNMAIN";
  }
  void TearDown() override { ResetSession(); }
  void WriteLng(const std::string& content) {
    test::WriteFile(dir_.file("LOCALE/VOWNMAIN.LNG"), content);
  }
  std::string In(const std::string& language, const std::string& text) {
    CurrentSession().Language = language;
    return Translate(text);
  }
  test::TempDir dir_;
};

TEST_F(TranslateTest, Lookups) {
  WriteLng(
      "\"Codi\",\"C\xA2\"\"digo\",\"C\xA2"
      "dic\",\"C\xA2"
      "digo\"\r\n"
      "Propietari,Propietario G, Proprietari ,Propietario\r\n"
      "\"Nom, cognoms\",\"Nome, apelidos\",\"Nom O\",\"Nombre, apellidos\"\r\n"
      "\"  Sagnat\",G,O,\"  Sangrado\"\r\n"
      "Curt,nomes dos\r\n"  // incomplete: not a record
      "\r\n"
      "Propietari,second,second,second\r\n"
      "Baixa,Baixa G,Baixa O,Baixa S\r\n"
      "Final,Final G");  // cut off at the end of the file
  struct Case {
    std::string language, text, expected;
  } cases[] = {
      {"SPA", "Propietari", "Propietario"},  // the first record wins
      {"GLG", "Propietari", "Propietario G"},
      {"OCI", "Propietari", "Proprietari"},  // bare fields lose outer spaces
      {"SPA", "Nom, cognoms", "Nombre, apellidos"},
      {"SPA", "  Sagnat", "  Sangrado"},
      {"GLG", "Codi", "C\xA2\"digo"},  // "" inside quotes is one quote
      {"SPA", "Baixa", "Baixa S"},
      {"SPA", "Curt", "Curt"},
      {"GLG", "Final", "Final"},
      {"SPA", "Finca", "Finca"},
      {"ENG", "Propietari", "Propietari"},
      {"   ", "Propietari", "Propietari"},
      {"SPA", "Propietari ", "Propietari "},  // the key is compared exactly
      {"SPA", "propietari", "propietari"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(In(c.language, c.text), c.expected) << c.language << " [" << c.text << "]";
  }
  WriteLng("Sense final,G,O,S");  // a complete last record needs no line end
  EXPECT_EQ(In("SPA", "Sense final"), "S");
  // The file name's case does not matter; no second file is made.
  ::unlink(dir_.file("LOCALE/VOWNMAIN.LNG").c_str());
  test::WriteFile(dir_.file("LOCALE/vownmain.lng"), "Alta,G,O,S\n");
  EXPECT_EQ(In("SPA", "Alta"), "S");
#ifndef _WIN32  // Windows names ignore case: both names are the one file there
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
#endif
}

TEST_F(TranslateTest, TheFileIsCreatedOnlyWhenNeededAndPossible) {
  EXPECT_EQ(In("CAT", "Alta"), "Alta");
  EXPECT_FALSE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
  EXPECT_EQ(In("SPA", "Alta"), "Alta");
  EXPECT_EQ(CurrentSession().MessageFileName, "VOWNMAIN");
  EXPECT_TRUE(test::FileExists(dir_.file("LOCALE/VOWNMAIN.LNG")));
  EXPECT_EQ(test::ReadFile(dir_.file("LOCALE/VOWNMAIN.LNG")), "");
  CurrentSession().RootDir = dir_.file("elsewhere\\");  // no LOCALE folder: none is made
  EXPECT_EQ(In("OCI", "Alta"), "Alta");
  EXPECT_FALSE(test::FileExists(dir_.file("elsewhere")));
}

// An installation on read-only storage: nothing can be created or written.
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

TEST_F(TranslateTest, ReadOnlyInstallationsAndBadFiles) {
  {
    ReadOnlyOs os;
    EXPECT_EQ(In("SPA", "Alta"), "Alta");
    WriteLng("Alta,G,O,S\n");
    EXPECT_EQ(In("SPA", "Alta"), "S");
  }
  std::string binary;
  for (int i = 0; i < 50000; ++i) binary.push_back(static_cast<char>((i * 91 + i / 256) & 0xFF));
  WriteLng(binary);
  EXPECT_EQ(In("SPA", "Alta"), "Alta");
  const std::string huge(100000, 'k');
  WriteLng("\"" + std::string(150000, 'q') + "\n" + huge + ",G,O," + huge + "\nAlta,G,O,S\n");
  EXPECT_EQ(In("SPA", huge), huge);
  EXPECT_EQ(In("SPA", "Alta"), "S");
}

}  // namespace
}  // namespace kap
