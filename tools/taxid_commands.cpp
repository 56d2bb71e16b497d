// kaptool taxid COUNTRY VALUE...: checks tax identifiers as the owner forms do.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "taxid/taxid.h"
#include "tools/commands.h"

namespace kap::tool {

namespace {

int RunTaxId(const std::vector<std::string>& args);

ToolCommand taxidCommand(
    "taxid", "check tax identifiers (Spanish NIF/NIE/CIF, EU VAT numbers)",
    "usage: kaptool taxid COUNTRY [VALUE...]\n\n"
    "Checks each VALUE against the rule of COUNTRY (two letters; \"\" or ES for Spain) and\n"
    "prints, one line per value, the result code, its name and, when valid, the canonical\n"
    "form. Without values, reads them from standard input, one per line.\n"
    "Exit status: 0 when every value is valid, 1 when any is not, 2 on bad usage.\n",
    RunTaxId);

// Checks one value in a text wide enough for any canonical form, as a form field would be.
bool CheckOne(const std::string& country, const std::string& input) {
  std::string value = input;
  if (value.size() < 32) value.resize(32, ' ');
  int16_t result = ValidateTaxId(value, country);
  std::printf("%d %s", result, TaxIdResultName(result));
  if (result == TaxIdOk) {
    value.erase(value.find_last_not_of(' ') + 1);  // npos + 1 clears a blank value
    if (!value.empty()) std::printf(" %s", value.c_str());
  }
  std::printf("\n");
  return result == TaxIdOk;
}

int RunTaxId(const std::vector<std::string>& args) {
  if (args.empty()) return UsageError(taxidCommand, "missing COUNTRY");
  const std::string& country = args[0];
  bool allValid = true;
  if (args.size() > 1) {
    for (size_t i = 1; i < args.size(); ++i) allValid = CheckOne(country, args[i]) && allValid;
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      allValid = CheckOne(country, line) && allValid;
    }
  }
  std::fflush(stdout);
  return allValid ? 0 : 1;
}

}  // namespace

}  // namespace kap::tool
