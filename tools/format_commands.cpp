// kaptool format: shows how the installation's settings write a number, an amount or a date.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "format/format.h"
#include "platform/console.h"
#include "session/session.h"
#include "tools/commands.h"

namespace kap::tool {
namespace {

int RunFormat(const std::vector<std::string>& args);

const ToolCommand kFormatCommand{
    "format", "write a number, an amount or a date as the programs show it",
    "usage: kaptool format number PICTURE VALUE\n"
    "       kaptool format money [--pesetas] LAYOUT CENTS\n"
    "       kaptool format date YYYYMMDD STYLE PARTS\n\n"
    "Prints the result between brackets, with the session's settings: the decimal and\n"
    "thousands characters, date order and separator of KAPROOT's Vora.ini, the language\n"
    "and the currency of the session.\n"
    "number  PICTURE characters: 9 Z * digits, . decimal point, , thousands, - + sign.\n"
    "money   CENTS is a whole number of hundredths of a euro; LAYOUT such as ZZ,ZZZ,ZZ9.\n"
    "        --pesetas shows the amount in pesetas, as a session switched to them does.\n"
    "date    STYLE -1 ISO, 0 numeric, 1 short month, 2 long form; PARTS letters of D M A.\n",
    RunFormat};

bool ParseDouble(const std::string& text, double* value) {
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && ptr == end && std::isfinite(*value);
}

bool ParseStyle(const std::string& text, int16_t* style) {
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, *style);
  return error == std::errc() && ptr == end;
}

bool IsDate(const std::string& text) {
  if (text.size() != 8) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int Print(const std::string& cp850) {
  std::printf("[%s]\n", Cp850ToUtf8(cp850).c_str());
  return 0;
}

int RunFormat(const std::vector<std::string>& args) {
  const ToolCommand& self = kFormatCommand;
  if (args.empty()) return UsageError(self, "");
  const std::string& what = args[0];
  StartSession();
  if (what == "number") {
    double value;
    if (args.size() != 3) return UsageError(self, "number needs PICTURE and VALUE");
    if (!ParseDouble(args[2], &value)) return UsageError(self, "not a number: " + args[2]);
    return Print(FormatNumber(Utf8ToCp850(args[1]), value));
  }
  if (what == "money") {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (!rest.empty() && rest[0] == "--pesetas") {
      rest.erase(rest.begin());
      SetCurrency("x,P");
      SetCurrency("P");
    }
    double cents;
    if (rest.size() != 2) return UsageError(self, "money needs LAYOUT and CENTS");
    if (!ParseDouble(rest[1], &cents) || cents != std::trunc(cents)) {
      return UsageError(self, "not a whole number of cents: " + rest[1]);
    }
    return Print(FormatMoney(Utf8ToCp850(rest[0]), cents));
  }
  if (what == "date") {
    int16_t style;
    if (args.size() != 4) return UsageError(self, "date needs YYYYMMDD, STYLE and PARTS");
    if (!IsDate(args[1])) return UsageError(self, "not a date YYYYMMDD: " + args[1]);
    if (!ParseStyle(args[2], &style)) return UsageError(self, "not a style: " + args[2]);
    return Print(FormatDate(PackDigits(args[1]), style, args[3]));
  }
  return UsageError(self, "unknown format kind '" + what + "'");
}

}  // namespace
}  // namespace kap::tool
