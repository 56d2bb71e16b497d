// Whether the terminal can carry the console, judged from its description and size before
// curses takes it (kept apart: <term.h> defines macros such as `lines` and `columns`).
#include <curses.h>
#include <term.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace kap {

// Why this terminal cannot carry the console, "" when it can.
std::string UnusableTerminal(int minimumRows, int minimumColumns) {
  int status = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &status) != OK) return "unknown terminal type (TERM)";
  const char* cup = tigetstr(const_cast<char*>("cup"));
  const bool addressable = cup != nullptr && cup != reinterpret_cast<char*>(-1);
  // setupterm has read the size from the terminal itself where it could.
  const int height = LINES, width = COLS;
  del_curterm(cur_term);
  const char* term = std::getenv("TERM");
  const std::string type = term ? term : "";
  if (!addressable)
    return "the terminal type \"" + type +
           "\" cannot place the cursor; set TERM to the terminal's type";
  if (height < minimumRows || width < minimumColumns)
    return "the terminal is " + std::to_string(width) + " x " + std::to_string(height) +
           " characters; it needs at least " + std::to_string(minimumColumns) + " x " +
           std::to_string(minimumRows);
  return "";
}

}  // namespace kap
