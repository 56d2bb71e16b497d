// The command interpreter of the system's Os, run for real: COMSPEC takes the suite's "/C"
// line, and is found by an absolute path or in an absolute folder of PATH, never in the
// current folder.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

struct InterpreterCase {
  std::string comspec, path, arguments;  // comspec "": COMSPEC unset
  int status;
  std::string written;  // what the run leaves in the "out" file
};

#ifdef _WIN32
// The real interpreter runs the line; a copy of it under another name sits where only a search
// of the current folder finds it.
std::vector<InterpreterCase> Cases(const test::TempDir& dir, const std::string& out) {
  char system[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::string cmd = std::string(system) + "\\cmd.exe";
  std::filesystem::copy_file(cmd, dir.file("myshell.exe"));
  return {
      {cmd, "", " /C exit 5", 5, ""},
      {"", "", "/C exit 7", 7, ""},  // no COMSPEC: the system's interpreter
      {cmd, "", " /C echo AJUDA\\X.HTM>" + out, 0, "AJUDA\\X.HTM\r\n"},
      {"cmd", system, "/c exit 3", 3, ""},  // a bare name found on PATH
      // Never from the current folder: a relative PATH entry, a relative path, a missing one.
      {"myshell", ".", "/C exit 5", -1, ""},
      {"myshell", std::string(system) + ";.", "/C exit 5", -1, ""},
      {".\\myshell.exe", "", "/C exit 5", -1, ""},
      {dir.file("none.exe"), "", "/C exit 5", -1, ""},
  };
}
#else
// A shell script that writes the arguments it was given and ends with 5, also where only a
// search of the current folder would find it.
std::vector<InterpreterCase> Cases(const test::TempDir& dir, const std::string& out) {
  const std::string shell = dir.file("myshell");
  test::WriteFile(shell, "#!/bin/sh\nprintf '%s|' \"$@\" > " + out + "\nexit 5\n");
  ::chmod(shell.c_str(), 0755);
  test::MakeDirs(dir.file("c:/windows"));
  test::WriteFile(dir.file("c:/windows/cmd.exe"), test::ReadFile(shell));
  ::chmod(dir.file("c:/windows/cmd.exe").c_str(), 0755);
  return {
      // Each word one argument, backslashes kept: no shell reads them.
      {shell, "", " /C UOPEN AJUDA\\X.HTM", 5, "/C|UOPEN|AJUDA\\X.HTM|"},
      {"myshell", dir.path(), "/C A\\B", 5, "/C|A\\B|"},  // a bare name found on PATH
      {"", "", " /C " + shell + " AJUDA\\X.HTM  two", 5, "AJUDA\\X.HTM|two|"},
      {"", dir.path(), "/c myshell x", 5, "x|"},
      {"", "", "/C true > " + out, 0, ""},  // no shell: ">" is just a word
      // Never from the current folder: a relative path, a relative PATH entry, a missing one.
      {"c:/windows/cmd.exe", dir.path(), "/C x", -1, ""},
      {"C:\\WINDOWS\\cmd.exe", dir.path(), "/C x", -1, ""},
      {"myshell", ".:c:/windows", "/C x", -1, ""},
      {dir.file("none"), "", "/C true", -1, ""},
      {"", "", "  ", -1, ""},
  };
}
#endif

TEST(OsServices, CommandInterpreter) {
  test::TempDir dir;
  std::string out = dir.file("out");
#ifdef _WIN32
  std::replace(out.begin(), out.end(), '/', '\\');  // a name the interpreter's ">" takes
#endif
  const std::vector<InterpreterCase> cases = Cases(dir, out);
  ASSERT_FALSE(cases.empty());
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const InterpreterCase& c : cases) {
    test::ScopedEnv env;
    if (c.comspec.empty())
      env.Unset("COMSPEC");
    else
      env.Set("COMSPEC", c.comspec);
    if (!c.path.empty()) env.Set("PATH", c.path);
    std::filesystem::remove(out);
    EXPECT_EQ(PosixOs().RunCommandInterpreter(c.arguments), c.status) << c.comspec << c.arguments;
    EXPECT_EQ(test::ReadFile(out), c.written) << c.comspec << c.arguments;
  }
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kap
