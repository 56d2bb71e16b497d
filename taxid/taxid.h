// Tax identifiers: Spanish NIF, NIE and CIF and the VAT numbers of 26 other EU countries.
#pragma once

#include <cstdint>
#include <string>

namespace kap {

enum TaxIdResult : int16_t {
  TaxIdOk = 0,           // valid, or blank
  TaxIdNoRule = -1,      // the country code has no rule
  TaxIdBadLength = -2,   // wrong number of digits or check characters
  TaxIdBadForm = -3,     // letters not allowed, wrong prefix, structure or embedded date broken
  TaxIdBadCheck = -4,    // check character(s) wrong, or the number admits none
  TaxIdImpossible = -5,  // reserved or impossible number
};

// Checks `value` against the rule of `country` ("" = Spain). On success rewrites `value` in
// its canonical form, left-aligned and space-filled to its own length; on failure leaves it
// as typed. Pure: no state, no output.
int16_t ValidateTaxId(std::string& value, const std::string& country);

// "TaxIdOk", "TaxIdNoRule", ... for a result code; "" for any other value.
const char* TaxIdResultName(int16_t result);

}  // namespace kap
