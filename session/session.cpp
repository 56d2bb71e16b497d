// Session start-up: fills the process-wide Session from the environment and the session INI
// files. Nothing here fails; what is missing gives empty values or the defaults.
#include <climits>

#include "format/format.h"
#include "platform/os.h"
#include "platform/text.h"
#include "session/session.h"
#include "session/text_lines.h"

namespace kap {

namespace {

Session& SessionStorage() {
  static Session session;
  return session;
}

const char kDefaultColours[] = "15000700000700070007";

// Leading spaces, an optional sign and the digits that follow; 0 when there are none or the
// number does not fit in [minimum, maximum].
long NumericValue(const std::string& text, long minimum, long maximum) {
  size_t i = text.find_first_not_of(' ');
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  }
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > LONG_MAX / 20) return 0;  // far out of any range asked for
  }
  if (negative) value = -value;
  return value < minimum || value > maximum ? 0 : value;
}

// A separator is appended unless the text already ends in one; '/' counts too, because
// POSIX installations write their folders that way.
void EndWithSeparator(std::string* dir) {
  if (dir->empty()) return;
  char last = dir->back();
  if (last != ':' && last != '\\' && last != '/') dir->push_back('\\');
}

bool OnlySpaces(const std::string& text) {
  return text.find_first_not_of(' ') == std::string::npos;
}

int16_t PairDigits(const std::string& colours, size_t at) {
  // Each character that is not a digit (or lies beyond the text) counts as the digit 0.
  auto digit = [&](size_t i) -> int {
    if (i >= colours.size()) return 0;
    char c = colours[i];
    return c >= '0' && c <= '9' ? c - '0' : 0;
  };
  return static_cast<int16_t>(10 * digit(at) + digit(at + 1));
}

}  // namespace

Session& CurrentSession() { return SessionStorage(); }

void ResetSession() { SessionStorage() = Session{}; }

void SetCurrency(const std::string& spec) {
  Session& s = CurrentSession();
  char kind = spec.empty() ? ' ' : spec[0];
  if (kind >= 'a' && kind <= 'z') kind = static_cast<char>(kind - 'a' + 'A');
  size_t comma = spec.find(',');
  if (comma != std::string::npos) {
    std::string letter = TrimSpaces(spec.substr(comma + 1)).substr(0, 1);
    letter = UpperAscii(letter);
    if (kind == 'A') {
      s.BaseCurrency = letter.empty() ? "E" : letter;
      s.CurrentCurrency = s.BaseCurrency;
    } else {
      s.AltCurrency = letter.empty() ? s.BaseCurrency : letter;
    }
    return;
  }
  if (kind == 'P') {
    s.CurrentCurrency = s.AltCurrency.empty() ? s.BaseCurrency : s.AltCurrency;
  } else {
    s.CurrentCurrency = s.BaseCurrency;
  }
}

std::string ComputerName() {
  std::string name = GetOs().ComputerName();
  if (name.size() > 15) name.resize(15);
  return name;
}

void StartSession() {
  Os& os = GetOs();
  Session& s = CurrentSession();

  s.RootDir = os.GetEnv("KAPROOT");
  // Every path is RootDir + a relative part: "/srv/kap" would give "/srv/kapFORMS\...".
  EndWithSeparator(&s.RootDir);
  s.ExeDir = os.GetEnv("KAPEXE");
  s.WorkDir = os.GetEnv("KAPTMP");
  EndWithSeparator(&s.WorkDir);

  const std::string sessionFile = s.WorkDir + "Sessio.ini";
  s.MenuTitle = " " + ReadIniValue(sessionFile, "Menu", "Titol") + " ";
  s.MenuName = ReadIniValue(sessionFile, "Menu", "NomMenu");
  s.MenuFile = ReadIniValue(sessionFile, "Menu", "Menu");
  s.ChainMenu = ReadIniValue(sessionFile, "Menu", "ChnMenu");
  s.Operator = ReadIniValue(sessionFile, "Menu", "Operador");
  s.OperatorType = static_cast<int16_t>(
      NumericValue(ReadIniValue(sessionFile, "Menu", "KapTipOper"), INT16_MIN, INT16_MAX));
  s.TerminalDir = ReadIniValue(sessionFile, "Terminal", "Dir");

  if (s.TerminalDir.empty()) s.TerminalDir = os.GetEnv("TERM");
  EndWithSeparator(&s.TerminalDir);
  if (s.WorkDir.empty()) s.WorkDir = s.TerminalDir;

  SetCurrency("a,E");

  const std::string terminalFile = s.WorkDir + "VoraTerm.ini";
  long selection =
      NumericValue(ReadIniValue(terminalFile, "Pantalla", "Seleccio"), INT_MIN, INT_MAX);
  std::string colours = ReadIniValue(terminalFile, "Pantalla", "Col" + std::to_string(selection));
  if (colours.empty()) colours = kDefaultColours;
  for (size_t i = 0; i < 5; ++i) {
    s.ScreenColours[i].foreground = PairDigits(colours, 4 * i);
    s.ScreenColours[i].background = PairDigits(colours, 4 * i + 2);
  }

  s.WorkDate = PackDigits(ReadIniValue(terminalFile, "Sistema", "Data"));
  s.OutputDevice = ReadIniValue(terminalFile, "Sistema", "Sortida");
  s.Language = PadOrCut(ReadIniValue(terminalFile, "Sistema", "Idioma"), 3);
  if (OnlySpaces(s.Language)) {
    // No separator is inserted: KAPROOT is expected to end in one.
    s.Language = PadOrCut(ReadIniValue(s.RootDir + "Vora.ini", "Usuari", "Idioma"), 3);
  }

  if (!os.GetEnv("HTTP_USER_AGENT").empty() || !os.GetEnv("HTTP_ACCEPT").empty()) {
    s.RunMode = "CGI";
  } else if (!os.GetEnv("WINDIR").empty() || !os.GetEnv("SYSTEMROOT").empty()) {
    s.RunMode = "WIN";
  } else {
    s.RunMode = "DOS";
  }
}

}  // namespace kap
