// kaptool keys: shows the code the engine reads for every key and mouse click, the tool to run
// when a terminal sends something unexpected.
#include <cstdio>
#include <string>
#include <vector>

#include "formengine/screen.h"
#include "platform/console.h"
#include "tools/commands.h"

namespace kap::tool {

namespace {

int RunKeys(const std::vector<std::string>& args);

ToolCommand keysCommand(
    "keys", "show the code of each key and mouse click",
    "usage: kaptool keys\n\n"
    "Opens the terminal as the programs do and prints, one line each, the code of every key\n"
    "pressed in hexadecimal as the suite's key codes (character codes in code page 850, scan\n"
    "code x 256 for extended keys, with the Shift, Ctrl and Alt variants), and for a mouse\n"
    "click its row, column, buttons and the code the field editor reports for it. Esc twice\n"
    "in a row ends it.\n",
    RunKeys);

std::string Hex(int16_t code) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(static_cast<uint16_t>(code)));
  return text;
}

constexpr int kFirstLogRow = 3;

class Log {
 public:
  void Add(const std::string& line) {
    int last = ScreenRows() - 1;
    if (row_ > last) {
      ScrollRegion(kFirstLogRow - 1, 0, static_cast<int16_t>(last - 1),
                   static_cast<int16_t>(ScreenColumns() - 1), 1);
      row_ = last;
    }
    LocateInWindow(static_cast<int16_t>(row_), 1);
    WriteText(line);
    ++row_;
    GetConsole().Refresh();
  }

 private:
  int row_ = kFirstLogRow;
};

int RunKeys(const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(keysCommand, "no arguments expected");
  std::string error;
  std::unique_ptr<Console> console = CreateTerminalConsole({}, &error);
  if (!console) {
    std::fprintf(stderr, "kaptool keys: %s\n", error.c_str());
    return 1;
  }
  SetConsole(console.get());
  SetColour("n");
  ClearScreen();
  WriteText("kaptool keys: press keys and click; Esc twice ends.");
  Log log;
  int escapes = 0;
  for (;;) {
    int16_t key = 0, buttons = 0, row = 0, column = 0;
    ReadKey(key, buttons, row, column);
    if (key == 0 && buttons == 0) {
      console->WaitInput(200);
      continue;
    }
    if (key == 0) {
      int16_t clickCode = static_cast<int16_t>(-(column * 100 + row));
      log.Add("click row " + std::to_string(row) + " column " + std::to_string(column) +
              " buttons " + std::to_string(buttons) + " code " + std::to_string(clickCode));
      escapes = 0;
      continue;
    }
    log.Add("key " + Hex(key));
    if (key == 0x1B) {
      if (++escapes == 2) break;
    } else {
      escapes = 0;
    }
  }
  SetConsole(nullptr);
  console.reset();
  return 0;
}

}  // namespace

}  // namespace kap::tool
