// StartSession and SetCurrency against real INI files, with the environment held in a fake Os.
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "format/format.h"
#include "platform/os.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

class FakeOs : public OsWrapper {
 public:
  FakeOs() : OsWrapper(&PosixOs()) { SetOs(this); }
  ~FakeOs() override { SetOs(nullptr); }
  std::string GetEnv(const std::string& name) override {
    auto it = env.find(name);
    return it == env.end() ? "" : it->second;  // nothing leaks in from the real environment
  }
  std::map<std::string, std::string> env;
};

std::string Field(const Session& s, const std::string& name) {
  const std::map<std::string, std::function<std::string()>> fields = {
      {"RootDir", [&] { return s.RootDir; }},
      {"ExeDir", [&] { return s.ExeDir; }},
      {"WorkDir", [&] { return s.WorkDir; }},
      {"TerminalDir", [&] { return s.TerminalDir; }},
      {"MenuTitle", [&] { return s.MenuTitle; }},
      {"MenuName", [&] { return s.MenuName; }},
      {"MenuFile", [&] { return s.MenuFile; }},
      {"ChainMenu", [&] { return s.ChainMenu; }},
      {"Operator", [&] { return s.Operator; }},
      {"OperatorType", [&] { return std::to_string(s.OperatorType); }},
      {"Colours",
       [&] {
         std::string out;
         for (const ColourPair& p : s.ScreenColours) {
           out += std::to_string(p.foreground) + "/" + std::to_string(p.background) + " ";
         }
         return out;
       }},
      {"WorkDate", [&] { return UnpackDigits(s.WorkDate); }},
      {"OutputDevice", [&] { return s.OutputDevice; }},
      {"Language", [&] { return s.Language; }},
      {"RunMode", [&] { return s.RunMode; }},
      {"Currencies", [&] { return s.BaseCurrency + s.AltCurrency + "/" + s.CurrentCurrency; }},
  };
  return fields.at(name)();
}

struct StartCase {
  const char* name;
  std::map<std::string, std::string> files;  // relative to the test folder, the current one
  std::map<std::string, std::string> env;    // "$" in a value stands for the test folder
  std::map<std::string, std::string> expected;
};

TEST(StartSession, Cases) {
  const StartCase cases[] = {
      {"nothing configured",
       {},
       {},
       {{"RootDir", ""},
        {"ExeDir", ""},
        {"WorkDir", ""},
        {"TerminalDir", ""},
        {"MenuTitle", "  "},
        {"MenuName", ""},
        {"OperatorType", "0"},
        {"Colours", "15/0 7/0 0/7 0/7 0/7 "},
        {"WorkDate", ""},
        {"Language", "   "},
        {"RunMode", "DOS"},
        {"Currencies", "E/E"}}},
      {"KAPTMP C:\\TMP", {}, {{"KAPTMP", "C:\\TMP"}}, {{"WorkDir", "C:\\TMP\\"}}},
      {"KAPTMP C:\\TMP\\", {}, {{"KAPTMP", "C:\\TMP\\"}}, {{"WorkDir", "C:\\TMP\\"}}},
      {"KAPTMP D:", {}, {{"KAPTMP", "D:"}}, {{"WorkDir", "D:"}}},
      {"KAPTMP with /", {}, {{"KAPTMP", "/srv/t01/"}}, {{"WorkDir", "/srv/t01/"}}},
      {"KAPTMP without /", {}, {{"KAPTMP", "/srv/t01"}}, {{"WorkDir", "/srv/t01\\"}}},
      {"Dir of Sessio.ini in the current folder",
       {{"Sessio.ini", "[Terminal]\nDir=t01\n"}, {"T01/VoraTerm.ini", "[Sistema]\nSortida=LPT1\n"}},
       {{"TERM", "ignored"}},
       {{"TerminalDir", "t01\\"}, {"WorkDir", "t01\\"}, {"OutputDevice", "LPT1"}}},
      {"TERM when Dir is empty",
       {{"Sessio.ini", "[Terminal]\nDir=\n"}},
       {{"TERM", "/srv/T02"}},
       {{"TerminalDir", "/srv/T02\\"}, {"WorkDir", "/srv/T02\\"}}},
      {"menu values from KAPTMP's Sessio.ini",
       {{"tmp/Sessio.ini",
         "[Menu]\nTitol=Gesti\xA2\nNomMenu=PROPIET\nMenu=M1\nChnMenu=M2\n"
         "Operador=ANNA\nKapTipOper=3\n[Terminal]\nDir=/srv/T01/\n"}},
       {{"KAPTMP", "$/tmp"}, {"KAPROOT", "/srv/kap/"}, {"KAPEXE", "/srv/bin/"}},
       {{"RootDir", "/srv/kap/"},
        {"ExeDir", "/srv/bin/"},
        {"MenuTitle", " Gesti\xA2 "},
        {"MenuName", "PROPIET"},
        {"MenuFile", "M1"},
        {"ChainMenu", "M2"},
        {"Operator", "ANNA"},
        {"OperatorType", "3"},
        {"TerminalDir", "/srv/T01/"},
        {"WorkDir", "$/tmp\\"}}},
      {"operator type not numeric",
       {{"Sessio.ini", "[Menu]\nKapTipOper=abc\n"}},
       {},
       {{"OperatorType", "0"}}},
      {"operator type with trailing text",
       {{"Sessio.ini", "[Menu]\nKapTipOper= -12x\n"}},
       {},
       {{"OperatorType", "-12"}}},
      {"operator type out of range",
       {{"Sessio.ini", "[Menu]\nKapTipOper=99999999999999\n"}},
       {},
       {{"OperatorType", "0"}}},
      {"selected colours",
       {{"VoraTerm.ini", "[Pantalla]\nSeleccio=2\nCol2=07010100000000000000\n"}},
       {},
       {{"Colours", "7/1 1/0 0/0 0/0 0/0 "}}},
      {"selected colours missing",
       {{"VoraTerm.ini", "[Pantalla]\nSeleccio=2\nCol0=01010101\n"}},
       {},
       {{"Colours", "15/0 7/0 0/7 0/7 0/7 "}}},
      {"quoted, short and odd colour digits",
       {{"VoraTerm.ini", "[Pantalla]\nCol0=\"1a0b0705\"\n"}},
       {},
       {{"Colours", "10/0 7/5 0/0 0/0 0/0 "}}},
      {"working date",
       {{"VoraTerm.ini", "[Sistema]\nData=20241231\n"}},
       {},
       {{"WorkDate", "20241231"}}},
      {"language cut",
       {{"VoraTerm.ini", "[Sistema]\nIdioma=SPANISH\n"}},
       {},
       {{"Language", "SPA"}}},
      {"language keeps the space after =",
       {{"VoraTerm.ini", "[Sistema]\nIdioma = SPA\n"}},
       {},
       {{"Language", " SP"}}},
      {"language padded", {{"VoraTerm.ini", "[Sistema]\nIdioma=ES\n"}}, {}, {{"Language", "ES "}}},
      {"blank language from Vora.ini",
       {{"VoraTerm.ini", "[Sistema]\nIdioma=   \n"}, {"root/Vora.ini", "[Usuari]\nIdioma=GLG\n"}},
       {{"KAPROOT", "$/root/"}},
       {{"Language", "GLG"}}},
      {"KAPROOT gets a separator, as KAPTMP",
       {{"root/Vora.ini", "[Usuari]\nIdioma=OCI\n"}, {"rootVora.ini", "[Usuari]\nIdioma=GLG\n"}},
       {{"KAPROOT", "$/root"}},
       {{"Language", "OCI"}}},
      {"CGI wins",
       {},
       {{"HTTP_ACCEPT", "text/html"}, {"WINDIR", "C:\\WINDOWS"}},
       {{"RunMode", "CGI"}}},
      {"user agent", {}, {{"HTTP_USER_AGENT", "x"}}, {{"RunMode", "CGI"}}},
      {"SYSTEMROOT", {}, {{"SYSTEMROOT", "C:\\WINNT"}}, {{"RunMode", "WIN"}}},
  };
  const std::string home = PosixOs().CurrentDir();
  auto expand = [](std::string text, const std::string& dir) {
    if (!text.empty() && text[0] == '$') text = dir + text.substr(1);
    return text;
  };
  for (const StartCase& c : cases) {
    test::TempDir dir;
    for (const auto& [path, content] : c.files) {
      size_t slash = path.rfind('/');
      if (slash != std::string::npos) test::MakeDirs(dir.file(path.substr(0, slash)));
      test::WriteFile(dir.file(path), content);
    }
    ASSERT_TRUE(PosixOs().ChangeDir(dir.path()));
    FakeOs os;
    for (const auto& [name, value] : c.env) os.env[name] = expand(value, dir.path());
    ResetSession();
    StartSession();
    for (const auto& [field, value] : c.expected) {
      EXPECT_EQ(Field(CurrentSession(), field), expand(value, dir.path()))
          << c.name << ": " << field;
    }
    ASSERT_TRUE(PosixOs().ChangeDir(home));
  }
  ResetSession();
}

TEST(SetCurrency, SwitchesTheLetters) {
  // Each script runs after StartSession's "a,E"; after each step: base, alt / current.
  const std::vector<std::vector<std::pair<std::string, std::string>>> scripts = {
      {{"a,", "E/E"}},
      {{"A, p ", "P/P"}},
      {{"p", "E/E"}},
      {{"x,P", "EP/E"}, {"P", "EP/P"}, {"", "EP/E"}},
      {{"b,", "EE/E"}, {"p", "EE/E"}},
      {{"x,pta", "EP/E"}, {"a,", "EP/E"}, {"p", "EP/P"}},
  };
  for (const auto& script : scripts) {
    ResetSession();
    SetCurrency("a,E");
    std::string done;
    for (const auto& [spec, expected] : script) {
      SetCurrency(spec);
      done += "[" + spec + "]";
      EXPECT_EQ(Field(CurrentSession(), "Currencies"), expected) << done;
    }
  }
  ResetSession();
}

}  // namespace
}  // namespace kap
