// StartSession and SetCurrency against real INI files, with the environment held in a fake Os.
#include <gtest/gtest.h>

#include "format/format.h"
#include "session/session.h"
#include "session/tests/fake_env.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::EnvOs;
using test::InDir;
using test::TempDir;

std::string Colours(const Session& s) {
  std::string out;
  for (const ColourPair& p : s.ScreenColours) {
    out += std::to_string(p.foreground) + "/" + std::to_string(p.background) + " ";
  }
  return out;
}

TEST(StartSession, NothingConfiguredGivesTheDefaults) {
  TempDir dir;
  InDir in(dir.path());
  EnvOs os;
  StartSession();
  const Session& s = CurrentSession();
  EXPECT_EQ(s.RootDir, "");
  EXPECT_EQ(s.ExeDir, "");
  EXPECT_EQ(s.WorkDir, "");
  EXPECT_EQ(s.TerminalDir, "");
  EXPECT_EQ(s.MenuTitle, "  ");
  EXPECT_EQ(s.MenuName, "");
  EXPECT_EQ(s.MenuFile, "");
  EXPECT_EQ(s.ChainMenu, "");
  EXPECT_EQ(s.Operator, "");
  EXPECT_EQ(s.OperatorType, 0);
  EXPECT_EQ(Colours(s), "15/0 7/0 0/7 0/7 0/7 ");
  EXPECT_EQ(s.WorkDate, "");
  EXPECT_EQ(s.OutputDevice, "");
  EXPECT_EQ(s.Language, "   ");
  EXPECT_EQ(s.RunMode, "DOS");
  EXPECT_EQ(s.BaseCurrency, "E");
  EXPECT_EQ(s.AltCurrency, "");
  EXPECT_EQ(s.CurrentCurrency, "E");
}

TEST(StartSession, WorkDirGetsOneSeparator) {
  TempDir dir;
  InDir in(dir.path());
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\TMP", "C:\\TMP\\"}, {"C:\\TMP\\", "C:\\TMP\\"}, {"D:", "D:"},
      {"/srv/kap/t01/", "/srv/kap/t01/"}, {"/srv/kap/t01", "/srv/kap/t01\\"}, {"", ""},
  };
  for (const auto& [tmp, expected] : cases) {
    EnvOs os;
    os.env["KAPTMP"] = tmp;
    StartSession();
    EXPECT_EQ(CurrentSession().WorkDir, expected) << "KAPTMP=" << tmp;
  }
}

TEST(StartSession, TerminalFolderFromSessioIniOrKapterm) {
  TempDir dir;
  InDir in(dir.path());
  test::MakeDirs(dir.file("T01"));
  test::WriteFile(dir.file("T01/VoraTerm.ini"), "[Sistema]\nSortida=LPT1\n");
  {
    // No KAPTMP: Sessio.ini of the current folder names the terminal folder, which then
    // becomes the working folder too (written "t01", found as T01).
    test::WriteFile(dir.file("Sessio.ini"), "[Terminal]\nDir=t01\n");
    EnvOs os;
    os.env["TERM"] = "ignored";
    StartSession();
    EXPECT_EQ(CurrentSession().TerminalDir, "t01\\");
    EXPECT_EQ(CurrentSession().WorkDir, "t01\\");
    EXPECT_EQ(CurrentSession().OutputDevice, "LPT1");
  }
  {
    test::WriteFile(dir.file("Sessio.ini"), "[Terminal]\nDir=\n");
    EnvOs os;
    os.env["TERM"] = dir.file("T01");
    StartSession();
    EXPECT_EQ(CurrentSession().TerminalDir, dir.file("T01") + "\\");
    EXPECT_EQ(CurrentSession().WorkDir, dir.file("T01") + "\\");
    EXPECT_EQ(CurrentSession().OutputDevice, "LPT1");
  }
  {
    // With KAPTMP the terminal folder does not move the working folder.
    test::MakeDirs(dir.file("tmp"));
    test::WriteFile(dir.file("tmp/Sessio.ini"), "[Terminal]\nDir=" + dir.file("T01/") + "\n");
    EnvOs os;
    os.env["KAPTMP"] = dir.file("tmp");
    StartSession();
    EXPECT_EQ(CurrentSession().TerminalDir, dir.file("T01/"));
    EXPECT_EQ(CurrentSession().WorkDir, dir.file("tmp") + "\\");
    EXPECT_EQ(CurrentSession().OutputDevice, "");
  }
}

TEST(StartSession, MenuValuesFromSessioIni) {
  TempDir dir;
  InDir in(dir.path());
  test::WriteFile(dir.file("Sessio.ini"),
                  "[Menu]\nTitol=Gesti\xA2 de finques\nNomMenu=PROPIET\nMenu=MENU01\n"
                  "ChnMenu=MENU02\nOperador=ANNA\nKapTipOper=3\n");
  EnvOs os;
  os.env["KAPROOT"] = "/srv/kap/";
  os.env["KAPEXE"] = "/srv/kap/bin/";
  StartSession();
  const Session& s = CurrentSession();
  EXPECT_EQ(s.RootDir, "/srv/kap/");
  EXPECT_EQ(s.ExeDir, "/srv/kap/bin/");
  EXPECT_EQ(s.MenuTitle, " Gesti\xA2 de finques ");
  EXPECT_EQ(s.MenuName, "PROPIET");
  EXPECT_EQ(s.MenuFile, "MENU01");
  EXPECT_EQ(s.ChainMenu, "MENU02");
  EXPECT_EQ(s.Operator, "ANNA");
  EXPECT_EQ(s.OperatorType, 3);
}

TEST(StartSession, OperatorTypeIsTheNumericValue) {
  TempDir dir;
  InDir in(dir.path());
  const std::pair<std::string, int> cases[] = {
      {"7", 7}, {" 12", 12}, {"12x", 12}, {"-3", -3}, {"abc", 0}, {"", 0},
      {"32767", 32767}, {"40000", 0}, {"99999999999999999999999", 0},
  };
  for (const auto& [text, expected] : cases) {
    test::WriteFile(dir.file("Sessio.ini"), "[Menu]\nKapTipOper=" + text + "\n");
    EnvOs os;
    StartSession();
    EXPECT_EQ(CurrentSession().OperatorType, expected) << "KapTipOper=" << text;
  }
}

TEST(StartSession, ColourPairs) {
  TempDir dir;
  InDir in(dir.path());
  struct Case {
    std::string pantalla, expected;
  } cases[] = {
      {"Seleccio=2\nCol2=07010100000000000000", "7/1 1/0 0/0 0/0 0/0 "},
      {"Seleccio=2\nCol0=01010101010101010101", "15/0 7/0 0/7 0/7 0/7 "},
      {"Col0=\"14011501000700070007\"", "14/1 15/1 0/7 0/7 0/7 "},
      {"Seleccio=1\nCol1=", "15/0 7/0 0/7 0/7 0/7 "},
      {"Seleccio=x\nCol0=02030405060708091011", "2/3 4/5 6/7 8/9 10/11 "},
      // Characters that are not digits count as 0; a short string leaves the rest 0.
      {"Col0=1a0b0705", "10/0 7/5 0/0 0/0 0/0 "},
      {"Col0=99", "99/0 0/0 0/0 0/0 0/0 "},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir.file("VoraTerm.ini"), "[Pantalla]\n" + c.pantalla + "\n");
    EnvOs os;
    StartSession();
    EXPECT_EQ(Colours(CurrentSession()), c.expected) << c.pantalla;
  }
}

TEST(StartSession, WorkDateIsPacked) {
  TempDir dir;
  InDir in(dir.path());
  test::WriteFile(dir.file("VoraTerm.ini"), "[Sistema]\nData=20241231\n");
  EnvOs os;
  StartSession();
  EXPECT_EQ(CurrentSession().WorkDate, "\x94\x98\x8C\x9F");
  EXPECT_EQ(UnpackDigits(CurrentSession().WorkDate), "20241231");
}

TEST(StartSession, LanguageFromVoraTermElseVoraIni) {
  TempDir dir;
  InDir in(dir.path());
  test::MakeDirs(dir.file("root"));
  test::WriteFile(dir.file("root/Vora.ini"), "[Usuari]\nIdioma=GLG\n");
  struct Case {
    std::string idioma, expected;
  } cases[] = {
      {"Idioma=SPA", "SPA"},
      {"Idioma=SPANISH", "SPA"},
      {"Idioma = SPA", " SP"},
      {"Idioma=ES", "ES "},
      {"Idioma=", "GLG"},
      {"Idioma=   ", "GLG"},
      {"", "GLG"},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir.file("VoraTerm.ini"), "[Sistema]\n" + c.idioma + "\n");
    EnvOs os;
    os.env["KAPROOT"] = dir.file("root/");
    StartSession();
    EXPECT_EQ(CurrentSession().Language, c.expected) << c.idioma;
  }
  // Vora.ini is taken from KAPROOT with nothing inserted between.
  test::WriteFile(dir.file("VoraTerm.ini"), "");
  test::WriteFile(dir.file("rootVora.ini"), "[Usuari]\nIdioma=OCITAN\n");
  EnvOs os;
  os.env["KAPROOT"] = dir.file("root");
  StartSession();
  EXPECT_EQ(CurrentSession().Language, "OCI");
}

TEST(StartSession, RunModeFromTheEnvironment) {
  TempDir dir;
  InDir in(dir.path());
  struct Case {
    std::map<std::string, std::string> env;
    std::string expected;
  } cases[] = {
      {{}, "DOS"},
      {{{"HTTP_USER_AGENT", "x"}}, "CGI"},
      {{{"HTTP_ACCEPT", "text/html"}, {"WINDIR", "C:\\WINDOWS"}}, "CGI"},
      {{{"WINDIR", "C:\\WINDOWS"}}, "WIN"},
      {{{"SYSTEMROOT", "C:\\WINNT"}}, "WIN"},
      {{{"HTTP_ACCEPT", ""}, {"WINDIR", ""}}, "DOS"},
  };
  for (const Case& c : cases) {
    EnvOs os;
    os.env = c.env;
    StartSession();
    std::string names;
    for (const auto& [k, v] : c.env) names += k + "=" + v + " ";
    EXPECT_EQ(CurrentSession().RunMode, c.expected) << names;
  }
}

TEST(SetCurrency, SwitchesTheLetters) {
  struct Step {
    std::string spec, base, alt, current;
  };
  // Each list runs on a fresh session after StartSession's "a,E".
  const std::vector<std::vector<Step>> scripts = {
      {{"a,", "E", "", "E"}},
      {{"A, p ", "P", "", "P"}},
      {{"p", "E", "", "E"}},
      {{"x,P", "E", "P", "E"}, {"P", "E", "P", "P"}, {"", "E", "P", "E"}},
      {{"b,", "E", "E", "E"}, {"p", "E", "E", "E"}},
      {{"x,pta", "E", "P", "E"}, {"a,", "E", "P", "E"}, {"p", "E", "P", "P"}},
      {{",Q", "E", "Q", "E"}},
  };
  for (const auto& script : scripts) {
    ResetSession();
    SetCurrency("a,E");
    std::string done;
    for (const Step& step : script) {
      SetCurrency(step.spec);
      done += "[" + step.spec + "]";
      const Session& s = CurrentSession();
      EXPECT_EQ(s.BaseCurrency, step.base) << done;
      EXPECT_EQ(s.AltCurrency, step.alt) << done;
      EXPECT_EQ(s.CurrentCurrency, step.current) << done;
    }
  }
  ResetSession();
}

class NamedOs : public OsWrapper {
 public:
  explicit NamedOs(std::string name) : OsWrapper(&PosixOs()), name_(std::move(name)) {
    SetOs(this);
  }
  ~NamedOs() override { SetOs(nullptr); }
  std::string ComputerName() override { return name_; }

 private:
  std::string name_;
};

TEST(ComputerName, ComesFromTheOsAndIsCut) {
  {
    NamedOs os("TERMINAL01");
    EXPECT_EQ(ComputerName(), "TERMINAL01");
  }
  {
    NamedOs os("A-VERY-LONG-COMPUTER-NAME");
    EXPECT_EQ(ComputerName(), "A-VERY-LONG-COM");
  }
  {
    NamedOs os("");
    EXPECT_EQ(ComputerName(), "");
  }
}

}  // namespace
}  // namespace kap
