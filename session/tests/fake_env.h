// A test Os whose environment is a map (nothing leaks in from the real one); everything else is
// the real POSIX Os.
#pragma once

#include <map>
#include <string>

#include "platform/os.h"
#include "session/session.h"

namespace kap::test {

class EnvOs : public OsWrapper {
 public:
  EnvOs() : OsWrapper(&PosixOs()) { SetOs(this); }
  ~EnvOs() override { SetOs(nullptr); }
  std::string GetEnv(const std::string& name) override {
    auto it = env.find(name);
    return it == env.end() ? "" : it->second;
  }
  std::map<std::string, std::string> env;
};

// Runs the body of a test in `dir` as the current directory, with a fresh Session.
class InDir {
 public:
  explicit InDir(const std::string& dir) : old_(PosixOs().CurrentDir()) {
    PosixOs().ChangeDir(dir);
    ResetSession();
  }
  ~InDir() {
    PosixOs().ChangeDir(old_);
    ResetSession();
  }

 private:
  std::string old_;
};

}  // namespace kap::test
