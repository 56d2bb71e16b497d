// The entry: blank check, country dispatch and write-back of the canonical form.
#include "taxid/taxid.h"

#include "taxid/taxid_internal.h"

namespace kap {

namespace {

using namespace taxid_detail;

struct CountryEntry {
  const char* code;
  Outcome (*rule)(const std::string& country, const std::string& value);
};

template <Outcome (*Rule)(const std::string&)>
Outcome Only(const std::string&, const std::string& value) {
  return Rule(value);
}

// Matched in this order; Greece answers to two codes and Spain also to the empty code.
constexpr CountryEntry kCountries[] = {
    {"AT", PlainRule},
    {"BE", PlainRule},
    {"BG", PlainRule},
    {"CY", Only<CyprusRule>},
    {"CZ", Only<CzechRule>},
    {"DE", PlainRule},
    {"DK", PlainRule},
    {"EE", PlainRule},
    {"ES", Only<SpainRule>},
    {"", Only<SpainRule>},
    {"FI", PlainRule},
    {"FR", Only<FranceRule>},
    {"GB", Only<BritainRule>},
    {"GR", PlainRule},
    {"EL", PlainRule},
    {"HU", PlainRule},
    {"IE", Only<IrelandRule>},
    {"IT", PlainRule},
    {"LT", Only<LithuaniaRule>},
    {"LU", PlainRule},
    {"LV", Only<LatviaRule>},
    {"MT", PlainRule},
    {"NL", Only<NetherlandsRule>},
    {"PL", PlainRule},
    {"PT", PlainRule},
    {"RO", Only<RomaniaRule>},
    {"SE", Only<SwedenRule>},
    {"SI", PlainRule},
    {"SK", Only<SlovakiaRule>},
};

bool IsBlank(const std::string& value) { return value.find_first_not_of(' ') == std::string::npos; }

}  // namespace

int16_t ValidateTaxId(std::string& value, const std::string& country) {
  if (IsBlank(value)) return TaxIdOk;
  std::string code;
  code.reserve(country.size());
  for (char c : country) code += UpperAscii(c);
  for (const CountryEntry& entry : kCountries) {
    if (code != entry.code) continue;
    Outcome outcome = entry.rule(code, value);
    if (outcome.code != TaxIdOk) return outcome.code;
    // The caller's text keeps its width: a field is rewritten in place, never resized.
    std::string written = outcome.canonical;
    written.resize(value.size(), ' ');
    value = written;
    return TaxIdOk;
  }
  return TaxIdNoRule;
}

const char* TaxIdResultName(int16_t result) {
  switch (result) {
    case TaxIdOk:
      return "TaxIdOk";
    case TaxIdNoRule:
      return "TaxIdNoRule";
    case TaxIdBadLength:
      return "TaxIdBadLength";
    case TaxIdBadForm:
      return "TaxIdBadForm";
    case TaxIdBadCheck:
      return "TaxIdBadCheck";
    case TaxIdImpossible:
      return "TaxIdImpossible";
    default:
      return "";
  }
}

}  // namespace kap
