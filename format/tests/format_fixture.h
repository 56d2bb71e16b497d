// A fresh installation root with its own Vora.ini for each test, and the formatter's
// settings forgotten so the next call reads that file.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "format/format.h"
#include "session/session.h"
#include "testsupport/test_support.h"

namespace kap::test {

class FormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_.Set("KAPROOT", root_.path() + "/");
    ResetFormatSettings();
    ResetSession();
  }
  void TearDown() override {
    ResetFormatSettings();
    ResetSession();
  }

  // Writes the [Usuari] section of Vora.ini from "key=value" lines.
  void WriteVora(const std::string& lines) {
    WriteFile(root_.file("Vora.ini"), "[Usuari]\r\n" + lines);
    ResetFormatSettings();
  }
  void SetLanguage(const std::string& language) { CurrentSession().Language = language; }

  TempDir root_;
  ScopedEnv env_;
};

// Shows the bytes of a text with the non-ASCII ones in hexadecimal, for failure messages.
inline std::string Visible(const std::string& text) {
  std::string out = "[";
  for (unsigned char c : text) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "]";
}

}  // namespace kap::test
