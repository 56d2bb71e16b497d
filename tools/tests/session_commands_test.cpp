// kaptool session and kaptool translate, run as programs on a real installation folder.
#include <gtest/gtest.h>

#include "testsupport/test_support.h"

namespace kap {
namespace {

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
    return test::RunProcess(args, options_);
  }
  test::TempDir dir_;
  test::ProcessOptions options_;
};

TEST_F(SessionCommandsTest, SessionPrintsEveryField) {
  test::WriteFile(dir_.file("kap/T01/Sessio.ini"),
                  "[Menu]\r\nTitol=Gesti\xA2\r\nNomMenu=PROPIET\r\nMenu=M01\r\nChnMenu=M02\r\n"
                  "Operador=ANNA\r\nKapTipOper=2\r\n[Terminal]\r\nDir=T01\r\n");
  test::WriteFile(dir_.file("kap/T01/VoraTerm.ini"),
                  "[Pantalla]\r\nSeleccio=1\r\nCol1=14011501000700070004\r\n"
                  "[Sistema]\r\nData=20241231\r\nSortida=LPT1\r\nIdioma=\r\n");
  test::WriteFile(dir_.file("kap/Vora.ini"), "[Usuari]\r\nIdioma=GLG\r\n");
  options_.env["HTTP_ACCEPT"] = "text/html";
  auto r = Kaptool({"session"});
  ASSERT_EQ(r.exitCode, 0) << r.errors;
  EXPECT_EQ(r.output, "RootDir: [" + dir_.file("kap/") + "]\nExeDir: [/opt/kap/bin/]\nWorkDir: [" +
                          dir_.file("kap/T01") +
                          "\\]\nMenuTitle: [ Gesti\xC3\xB3 ]\nMenuName: [PROPIET]\n"
                          "MenuFile: [M01]\nChainMenu: [M02]\nOperator: [ANNA]\n"
                          "OperatorType: [2]\nTerminalDir: [T01\\]\n"
                          "ScreenColours0: [14 1]\nScreenColours1: [15 1]\n"
                          "ScreenColours2: [0 7]\nScreenColours3: [0 7]\n"
                          "ScreenColours4: [0 4]\nWorkDate: [20241231]\n"
                          "OutputDevice: [LPT1]\nLanguage: [GLG]\nRunMode: [CGI]\n"
                          "BaseCurrency: [E]\nAltCurrency: []\nCurrentCurrency: [E]\n");
  EXPECT_EQ(Kaptool({"session", "extra"}).exitCode, 2);
}

TEST_F(SessionCommandsTest, TranslatePrintsEachText) {
  test::WriteFile(dir_.file("kap/T01/VoraTerm.ini"), "[Sistema]\r\nIdioma=SPA\r\n");
  test::WriteFile(dir_.file("kap/LOCALE/VOWNMAIN.LNG"),
                  "Propietari,Propietari G,O,Propietario\r\n"
                  "\"Codi, nom\",\"C\xA2"
                  "digo G\",O,\"C\xA2"
                  "digo, nombre\"\r\n");
  test::WriteFile(dir_.file("kap/LOCALE/ALTRE.LNG"), "Propietari,G,O,Due\xA4o\r\n");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string output;
  } cases[] = {
      {{"Propietari", "Codi, nom", "Finca"},
       0,
       "Propietario\nC\xC3\xB3"
       "digo, nombre\nFinca\n"},
      {{"--program", "altre", "Propietari"}, 0, "Due\xC3\xB1o\n"},
      {{"--language", "GLG", "Codi, nom"},
       0,
       "C\xC3\xB3"
       "digo G\n"},
      {{"--", "--program"}, 0, "--program\n"},
      {{"--program", "NOU", "Alta"}, 0, "Alta\n"},
      {{}, 2, ""},
      {{"--program"}, 2, ""},
      {{"--bogus", "x"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"translate"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto r = Kaptool(args);
    std::string shown = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.exitCode, c.status) << shown << ": " << r.errors;
    EXPECT_EQ(r.output, c.output) << shown;
  }
  EXPECT_TRUE(test::FileExists(dir_.file("kap/LOCALE/NOU.LNG")));  // made as the program would
}

}  // namespace
}  // namespace kap
