// Table-driven cases shared by the tax-identifier tests.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "taxid/taxid.h"

namespace kap {

struct Case {
  const char* country;
  const char* input;
  int16_t code;
  const char* canonical;  // expected write-back when code is 0
};

// Runs every case in a 20-character field, as the owner form would pass it.
inline void RunCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    std::string value = c.input;
    value.resize(20, ' ');
    std::string typed = value;
    int16_t code = ValidateTaxId(value, c.country);
    SCOPED_TRACE(std::string("country '") + c.country + "' input '" + c.input + "'");
    EXPECT_EQ(code, c.code) << TaxIdResultName(code);
    if (c.code == TaxIdOk) {
      std::string expected = c.canonical;
      expected.resize(20, ' ');
      EXPECT_EQ(value, expected);
    } else {
      EXPECT_EQ(value, typed) << "a refused value must stay as typed";
    }
  }
}

}  // namespace kap
