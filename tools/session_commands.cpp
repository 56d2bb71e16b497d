// kaptool session / kaptool translate: what a program of the suite would see at start-up in
// this environment, and how it would translate its texts.
#include <cstdio>
#include <string>
#include <vector>

#include "format/format.h"
#include "platform/console.h"
#include "session/session.h"
#include "tools/commands.h"

namespace kap::tool {

namespace {

int RunSession(const std::vector<std::string>& args);
int RunTranslate(const std::vector<std::string>& args);

ToolCommand sessionCommand(
    "session", "show the session a program would start with here",
    "usage: kaptool session\n\n"
    "Reads the environment (KAPROOT, KAPTMP, KAPTERM, ...) and the session files (Sessio.ini,\n"
    "VoraTerm.ini, Vora.ini) as a program of the suite does at start, and prints every field\n"
    "of the session, one 'Name: [value]' line each. Colour pairs are printed as foreground and\n"
    "background numbers, the working date as its digits.\n",
    RunSession);

ToolCommand translateCommand(
    "translate", "translate Catalan texts through the program's language file",
    "usage: kaptool translate [--program NAME] [--language CODE] [--] TEXT...\n\n"
    "Starts the session as the program does, then prints the translation of each TEXT, one\n"
    "per line, from KAPROOT\\LOCALE\\NAME.LNG (NAME is VOWNMAIN unless given). CODE (CAT,\n"
    "SPA, GLG, OCI) replaces the session language. A text without a translation is printed\n"
    "unchanged. Like the program, this creates an empty language file when none exists.\n",
    RunTranslate);

void Field(const char* name, const std::string& value) {
  std::printf("%s: [%s]\n", name, Cp850ToUtf8(value).c_str());
}

int RunSession(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(sessionCommand, "unexpected argument '" + args[0] + "'");
  StartSession();
  const Session& s = CurrentSession();
  Field("RootDir", s.RootDir);
  Field("ExeDir", s.ExeDir);
  Field("WorkDir", s.WorkDir);
  Field("MenuTitle", s.MenuTitle);
  Field("MenuName", s.MenuName);
  Field("MenuFile", s.MenuFile);
  Field("ChainMenu", s.ChainMenu);
  Field("Operator", s.Operator);
  Field("OperatorType", std::to_string(s.OperatorType));
  Field("TerminalDir", s.TerminalDir);
  for (int i = 0; i < 5; ++i) {
    std::string name = "ScreenColours" + std::to_string(i);
    Field(name.c_str(), std::to_string(s.ScreenColours[i].foreground) + " " +
                            std::to_string(s.ScreenColours[i].background));
  }
  Field("WorkDate", UnpackDigits(s.WorkDate));
  Field("OutputDevice", s.OutputDevice);
  Field("Language", s.Language);
  Field("RunMode", s.RunMode);
  Field("BaseCurrency", s.BaseCurrency);
  Field("AltCurrency", s.AltCurrency);
  Field("CurrentCurrency", s.CurrentCurrency);
  return 0;
}

int RunTranslate(const std::vector<std::string>& args) {
  std::string program = "VOWNMAIN";
  std::string language;
  bool languageGiven = false;
  std::vector<std::string> texts;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--") {
      texts.insert(texts.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    }
    if (a == "--program" || a == "--language") {
      if (i + 1 >= args.size()) return UsageError(translateCommand, a + " needs a value");
      if (a == "--program") {
        program = args[++i];
      } else {
        language = args[++i];
        languageGiven = true;
      }
      continue;
    }
    if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      return UsageError(translateCommand, "unknown option '" + a + "'");
    }
    texts.push_back(a);
  }
  if (texts.empty()) return UsageError(translateCommand, "no text to translate");
  StartSession();
  Session& s = CurrentSession();
  s.ProgramName = Utf8ToCp850(program);
  if (languageGiven) {
    language.resize(3, ' ');
    s.Language = language;
  }
  for (const std::string& text : texts) {
    std::printf("%s\n", Cp850ToUtf8(Translate(Utf8ToCp850(text))).c_str());
  }
  return 0;
}

}  // namespace

}  // namespace kap::tool
