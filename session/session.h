// Session start-up, the INI reader and the language message files.
#pragma once

#include <cstdint>
#include <string>

namespace kap {

struct ColourPair {
  int16_t foreground = 0;
  int16_t background = 0;
};

// Process-wide record filled once by StartSession. Strings are code page 850 bytes.
struct Session {
  std::string RootDir;       // KAPROOT, with a separator added when it ends in none
  std::string ExeDir;        // KAPEXE
  std::string WorkDir;       // KAPTMP + separator, else TerminalDir
  std::string MenuTitle;     // " " + Sessio.ini [Menu] Titol + " "
  std::string MenuName;      // [Menu] NomMenu
  std::string MenuFile;      // [Menu] Menu
  std::string ChainMenu;     // [Menu] ChnMenu
  std::string Operator;      // [Menu] Operador
  int16_t OperatorType = 0;  // [Menu] KapTipOper
  std::string TerminalDir;   // [Terminal] Dir, else TERM (KAPTERM on POSIX), + separator
  // Colour pairs 0 to 4; the defaults are those of the colour string "15000700000700070007".
  ColourPair ScreenColours[5] = {{15, 0}, {7, 0}, {0, 7}, {0, 7}, {0, 7}};
  std::string WorkDate;          // VoraTerm.ini [Sistema] Data, packed digits
  std::string OutputDevice;      // [Sistema] Sortida
  std::string Language = "   ";  // 3 characters, space-padded
  std::string RunMode = "DOS";   // "CGI", "WIN" or "DOS"
  std::string BaseCurrency;
  std::string AltCurrency;
  std::string CurrentCurrency;

  // Set by the program at start ("VOWNMAIN"); names the form and language files.
  std::string ProgramName;
  // Base name of the language file; takes ProgramName on the first lookup when empty.
  std::string MessageFileName;
};

// The process-wide session. ResetSession puts every field back to its initial value (tests).
Session& CurrentSession();
void ResetSession();

// Value of `key` in `section` of the INI file `fileName`; "" when the file, the section or the
// key is missing. Reads the file anew on every call.
std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key);

// Fills CurrentSession() from the environment and the session INI files. Never fails.
void StartSession();

// Switches the currency letters; StartSession calls it with "a,E".
void SetCurrency(const std::string& spec);

// The computer name (at most 15 characters), "" when it cannot be read.
std::string ComputerName();

// The Catalan `text` in the session language, through RootDir + "LOCALE\" + MessageFileName +
// ".LNG"; `text` itself when there is no translation.
std::string Translate(const std::string& text);

}  // namespace kap
