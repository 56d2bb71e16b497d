// The command interpreter of the Windows Os, run for real: COMSPEC takes the suite's "/C"
// line, and is found by an absolute path or in an absolute folder of PATH, never in the
// current folder.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/os.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

TEST(WindowsInterpreter, ComspecRunsTheSlashCLineAndIsNeverTakenFromTheCurrentFolder) {
  char system[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(n > 0 && n < MAX_PATH);
  const std::string cmd = std::string(system) + "\\cmd.exe";
  test::TempDir dir;
  std::string out = dir.file("out");
  std::replace(out.begin(), out.end(), '/', '\\');
  // The real interpreter under another name, where only a search of the current folder finds it.
  std::filesystem::copy_file(cmd, dir.file("myshell.exe"));
  struct Case {
    std::string comspec, path, arguments;
    int status;
    std::string written;
  } cases[] = {
      {cmd, "", " /C exit 5", 5, ""},
      {"", "", "/C exit 7", 7, ""},  // no COMSPEC: the system's interpreter
      {cmd, "", " /C echo AJUDA\\X.HTM>" + out, 0, "AJUDA\\X.HTM\r\n"},
      {"cmd", system, "/c exit 3", 3, ""},  // a bare name found on PATH
      {"myshell", ".", "/C exit 5", -1, ""},
      {"myshell", std::string(system) + ";.", "/C exit 5", -1, ""},
      {".\\myshell.exe", "", "/C exit 5", -1, ""},
      {dir.file("none.exe"), "", "/C exit 5", -1, ""},
  };
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const Case& c : cases) {
    test::ScopedEnv env;
    if (c.comspec.empty())
      env.Unset("COMSPEC");
    else
      env.Set("COMSPEC", c.comspec);
    if (!c.path.empty()) env.Set("PATH", c.path);
    std::filesystem::remove(out);
    EXPECT_EQ(WindowsOs().RunCommandInterpreter(c.arguments), c.status) << c.comspec << c.arguments;
    EXPECT_EQ(test::ReadFile(out), c.written) << c.comspec << c.arguments;
  }
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace kap
#endif
