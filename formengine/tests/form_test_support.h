// Shared by the forms-layer tests: a fresh engine on an in-memory console, keys fed one at a
// time while the engine waits, and hooks that record every call.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "formengine/form_driver.h"
#include "formengine/screen.h"
#include "platform/console.h"
#include "platform/os.h"
#include "session/session.h"
#include "testsupport/key_script.h"
#include "testsupport/test_support.h"

namespace kap::test {

inline std::string Hex(int16_t key) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%x", static_cast<unsigned>(static_cast<uint16_t>(key)));
  return buffer;
}

// Hooks that log every call and store accepted values the way a program would.
class RecordingHooks : public FormHooks {
 public:
  std::vector<std::string> log;
  std::function<int16_t(int16_t form, const std::string& text, int16_t& field, int16_t& key)>
      checkField;
  std::function<int16_t(int16_t form, int16_t key)> checkLeave;
  std::function<int16_t(int16_t list, std::string& from, std::string& to)> keyRange;
  std::function<std::string(int16_t list)> rowText;
  std::function<void(int16_t& list, int16_t form, int16_t& field)> chosen;

  void ShowForm(int16_t form) override { log.push_back("ShowForm " + std::to_string(form)); }
  void ShowField(int16_t form, int16_t& field) override {
    log.push_back("ShowField " + std::to_string(form) + " " + std::to_string(field));
  }
  int16_t CheckField(int16_t form, const std::string& text, int16_t& field, int16_t& key) override {
    log.push_back("CheckField " + std::to_string(form) + " [" + text + "] " +
                  std::to_string(field) + " " + Hex(key));
    if (checkField) return checkField(form, text, field, key);
    FieldValue(form, field) = text;
    return 0;
  }
  int16_t CheckLeave(int16_t form, int16_t key) override {
    log.push_back("CheckLeave " + std::to_string(form) + " " + Hex(key));
    return checkLeave ? checkLeave(form, key) : 0;
  }
  int16_t ListKeyRange(int16_t list, std::string& from, std::string& to) override {
    log.push_back("ListKeyRange " + std::to_string(list));
    if (keyRange) return keyRange(list, from, to);
    from.clear();
    to.clear();
    return 0;
  }
  std::string ListRowText(int16_t list) override {
    ++rowTextCalls;
    return rowText ? rowText(list) : std::string();
  }
  void ListChosen(int16_t& list, int16_t form, int16_t& field) override {
    log.push_back("ListChosen " + std::to_string(list) + " " + std::to_string(form) + " " +
                  std::to_string(field));
    if (chosen) chosen(list, form, field);
  }
  int rowTextCalls = 0;

  // The log lines that start with `prefix`.
  std::vector<std::string> Calls(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : log) {
      if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
  }
};

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

// A fresh engine: the in-memory console installed, every subsystem reset, WorkDir a temporary
// folder, the recording hooks installed.
class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetConsole(&console);
    ResetScreenState();
    ResetFormsState();
    ResetDataState();
    ResetSession();
    CurrentSession().WorkDir = work.path() + "/";
    SetFormHooks(&hooks);
  }
  void TearDown() override {
    SetFormHooks(nullptr);
    ResetFormsState();
    ResetScreenState();
    SetConsole(nullptr);
  }

  // Window-relative text of `length` cells at screen row `row`, column `column`.
  std::string At(int row, int column, int length) const {
    return console.RowText(row, column, length);
  }

  MemoryConsole console{25, 80};
  TempDir work;
  RecordingHooks hooks;
  Script script{console};
};

}  // namespace kap::test
