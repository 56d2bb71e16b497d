// kaptool session and kaptool translate, run as programs on a real installation folder.
#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::ProcessOptions;
using test::RunProcess;
using test::TempDir;

class SessionCommandsTest : public ::testing::Test {
 protected:
  SessionCommandsTest() {
    test::MakeDirs(dir_.file("kap/LOCALE"));
    test::MakeDirs(dir_.file("kap/T01"));
    options_.env = {{"KAPROOT", dir_.file("kap/")},
                    {"KAPTMP", dir_.file("kap/T01")},
                    {"KAPTERM", dir_.file("kap/T01")},
                    {"KAPEXE", "/opt/kap/bin/"}};
    options_.unsetEnv = {"HTTP_USER_AGENT", "HTTP_ACCEPT", "WINDIR", "SYSTEMROOT"};
    options_.workingDir = dir_.path();
  }
  test::ProcessResult Kaptool(std::vector<std::string> args) {
    args.insert(args.begin(), test::BuildPath("tools/kaptool"));
    return RunProcess(args, options_);
  }
  TempDir dir_;
  ProcessOptions options_;
};

TEST_F(SessionCommandsTest, SessionPrintsEveryField) {
  test::WriteFile(dir_.file("kap/T01/Sessio.ini"),
                  "[Menu]\r\nTitol=Gesti\xA2 de finques\r\nNomMenu=PROPIET\r\nMenu=M01\r\n"
                  "ChnMenu=M02\r\nOperador=ANNA\r\nKapTipOper=2\r\n[Terminal]\r\nDir=T01\r\n");
  test::WriteFile(dir_.file("kap/T01/VoraTerm.ini"),
                  "[Pantalla]\r\nSeleccio=1\r\nCol1=14011501000700070004\r\n"
                  "[Sistema]\r\nData=20241231\r\nSortida=LPT1\r\nIdioma=\r\n");
  test::WriteFile(dir_.file("kap/Vora.ini"), "[Usuari]\r\nIdioma=GLG\r\n");
  const std::string t01 = dir_.file("kap/T01");
  auto r = Kaptool({"session"});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_EQ(r.output,
            "RootDir: [" + dir_.file("kap/") + "]\n"
            "ExeDir: [/opt/kap/bin/]\n"
            "WorkDir: [" + t01 + "\\]\n"
            "MenuTitle: [ Gesti\xC3\xB3 de finques ]\n"
            "MenuName: [PROPIET]\n"
            "MenuFile: [M01]\n"
            "ChainMenu: [M02]\n"
            "Operator: [ANNA]\n"
            "OperatorType: [2]\n"
            "TerminalDir: [T01\\]\n"
            "ScreenColours0: [14 1]\n"
            "ScreenColours1: [15 1]\n"
            "ScreenColours2: [0 7]\n"
            "ScreenColours3: [0 7]\n"
            "ScreenColours4: [0 4]\n"
            "WorkDate: [20241231]\n"
            "OutputDevice: [LPT1]\n"
            "Language: [GLG]\n"
            "RunMode: [DOS]\n"
            "BaseCurrency: [E]\n"
            "AltCurrency: []\n"
            "CurrentCurrency: [E]\n");
  EXPECT_NE(Kaptool({"session", "extra"}).exitCode, 0);
}

TEST_F(SessionCommandsTest, SessionShowsTheRunModeOfTheEnvironment) {
  options_.env["HTTP_ACCEPT"] = "text/html";
  auto r = Kaptool({"session"});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_NE(r.output.find("RunMode: [CGI]\n"), std::string::npos) << r.output;
}

TEST_F(SessionCommandsTest, TranslatePrintsEachText) {
  test::WriteFile(dir_.file("kap/T01/VoraTerm.ini"), "[Sistema]\r\nIdioma=SPA\r\n");
  test::WriteFile(dir_.file("kap/LOCALE/VOWNMAIN.LNG"),
                  "Propietari,Propietari G,Propietari O,Propietario\r\n"
                  "\"Codi, nom\",\"C\xA2" "digo G\",O,\"C\xA2" "digo, nombre\"\r\n");
  test::WriteFile(dir_.file("kap/LOCALE/ALTRE.LNG"), "Propietari,G,O,Due\xA4o\r\n");
  struct Case {
    std::vector<std::string> args;
    std::string output;
  } cases[] = {
      {{"Propietari", "Codi, nom", "Finca"}, "Propietario\nC\xC3\xB3" "digo, nombre\nFinca\n"},
      {{"--program", "altre", "Propietari"}, "Due\xC3\xB1o\n"},
      {{"--language", "GLG", "Codi, nom"}, "C\xC3\xB3" "digo G\n"},
      {{"--language", "CAT", "Propietari"}, "Propietari\n"},
      {{"--", "--program"}, "--program\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"translate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = Kaptool(args);
    EXPECT_EQ(r.exitCode, 0) << args[1] << ": " << r.errors;
    EXPECT_EQ(r.output, c.output) << args[1];
  }
  for (std::vector<std::string> bad : {std::vector<std::string>{"translate"},
                                       {"translate", "--program"},
                                       {"translate", "--bogus", "x"}}) {
    auto r = Kaptool(bad);
    EXPECT_EQ(r.exitCode, 2) << bad.back();
    EXPECT_NE(r.errors.find("usage: kaptool translate"), std::string::npos) << bad.back();
  }
}

TEST_F(SessionCommandsTest, TranslateCreatesTheMissingLanguageFile) {
  test::WriteFile(dir_.file("kap/T01/VoraTerm.ini"), "[Sistema]\r\nIdioma=OCI\r\n");
  auto r = Kaptool({"translate", "--program", "NOU", "Alta"});
  EXPECT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_EQ(r.output, "Alta\n");
  EXPECT_TRUE(test::FileExists(dir_.file("kap/LOCALE/NOU.LNG")));
}

}  // namespace
}  // namespace kap
