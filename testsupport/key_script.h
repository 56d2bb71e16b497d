// Scripted keys for tests on the in-memory console: each time the engine waits for input, the
// next step's check runs (the screen is then as the operator sees it) and its key or click is
// fed. A script that runs out unwinds the engine with Esc and fails the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "formengine/screen.h"
#include "platform/console.h"

namespace kap::test {

struct Step {
  int16_t key = 0;
  std::function<void()> check;
  bool click = false;
  int row = 0, column = 0;
};

inline Step Key(int16_t key) { return Step{key, nullptr}; }
inline Step CheckThen(std::function<void()> check, int16_t key) { return Step{key, check}; }
inline Step Click(int row, int column) { return Step{0, nullptr, true, row, column}; }

class Script {
 public:
  explicit Script(MemoryConsole& console) : console_(console) {
    console_.SetIdleHandler([this](MemoryConsole& c) { Feed(c); });
  }
  ~Script() { console_.SetIdleHandler(nullptr); }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;

  void Add(const Step& step) { steps_.push_back(step); }
  void Add(std::initializer_list<Step> steps) {
    for (const Step& s : steps) steps_.push_back(s);
  }
  void Keys(std::initializer_list<int16_t> keys) {
    for (int16_t k : keys) steps_.push_back(Key(k));
  }
  void Text(const std::string& text) {
    for (char c : text) steps_.push_back(Key(static_cast<int16_t>(static_cast<uint8_t>(c))));
  }
  bool Done() const { return next_ >= steps_.size(); }
  size_t Used() const { return next_; }

 private:
  void Feed(MemoryConsole& c) {
    if (next_ < steps_.size()) {
      Step& s = steps_[next_++];
      if (s.check) s.check();
      if (s.click) {
        c.PushClick(s.row, s.column);
      } else {
        c.PushKey(s.key);
      }
      return;
    }
    // The script ran out while the engine still waits: unwind with Esc, but never forever.
    if (++overrun_ == 1) ADD_FAILURE() << "the engine waited for more keys than scripted";
    if (overrun_ > 200) std::abort();
    c.PushKey(key::kEsc);
  }

  MemoryConsole& console_;
  std::vector<Step> steps_;
  size_t next_ = 0;
  int overrun_ = 0;
};

}  // namespace kap::test
