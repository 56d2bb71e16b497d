// Every #include of the tree, checked against the layers: a library includes only the public
// headers of the libraries below it, and never another folder's *_internal.h.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport/test_support.h"

namespace kap::test {
namespace {

namespace fs = std::filesystem;

// Which library a file belongs to: its folder, and for the two folders that build two
// libraries, the start of its file name. Earlier rows win.
struct UnitRule {
  const char* folder;
  const char* namePrefix;  // "" matches every file of the folder
  const char* unit;
};

const UnitRule kUnitRules[] = {
    {"platform", "", "platform"},
    // format.h opens with the packed digits that session start-up needs; the rest of what it
    // declares is in kap_format, which the linker keeps session from using.
    {"format", "format.h", "format_packed"},
    {"format", "packed_digits", "format_packed"},
    {"format", "", "format"},
    {"session", "", "session"},
    {"taxid", "", "taxid"},
    {"formengine", "form_", "forms"},
    {"formengine", "browse_", "forms"},
    {"formengine", "help", "forms"},
    {"formengine", "", "screen"},
    {"data", "", "data"},
    {"locking", "", "locking"},
    {"popups", "", "popups"},
    {"app", "", "app"},
    {"tools", "", "tools"},
    {"testsupport", "", "testsupport"},
    {"bench", "", "bench"},
    {"fuzz", "", "fuzz"},
};

// The libraries each library may include, besides itself: the layers below it.
const std::map<std::string, std::set<std::string>> kAllowed = {
    {"platform", {}},
    {"format_packed", {}},
    {"session", {"platform", "format_packed"}},
    {"format", {"platform", "format_packed", "session"}},
    {"taxid", {"platform"}},  // its text helpers only
    {"screen", {"platform", "session"}},
    {"data", {"platform", "session", "screen"}},
    {"locking", {"platform", "format_packed", "session", "screen"}},
    {"popups", {"platform", "format_packed", "session", "format", "screen"}},
    {"forms", {"platform", "session", "screen", "data"}},
    {"app",
     {"platform", "format_packed", "session", "format", "taxid", "screen", "data", "locking",
      "popups", "forms"}},
    {"tools",
     {"platform", "format_packed", "session", "format", "taxid", "screen", "data", "locking",
      "popups", "forms", "app"}},
    {"testsupport", {"platform", "screen"}},
    {"bench",
     {"platform", "format_packed", "session", "format", "taxid", "screen", "data", "locking",
      "popups", "forms", "app"}},
    {"fuzz",
     {"platform", "format_packed", "session", "format", "taxid", "screen", "data", "locking",
      "popups", "forms", "app", "tools"}},
};

// "" when the path (relative to the source root) is in no library folder.
std::string UnitOf(const std::string& relative) {
  const auto slash = relative.find('/');
  if (slash == std::string::npos) return "";
  const std::string folder = relative.substr(0, slash);
  const std::string name = fs::path(relative).filename().string();
  for (const auto& rule : kUnitRules) {
    if (folder == rule.folder && name.rfind(rule.namePrefix, 0) == 0) return rule.unit;
  }
  return "";
}

std::string FolderOf(const std::string& relative) { return relative.substr(0, relative.find('/')); }

bool IsTest(const std::string& relative) { return relative.find("/tests/") != std::string::npos; }

// The header of a line `#include "folder/name.h"`, or "".
std::string QuotedInclude(const std::string& line) {
  std::size_t at = line.find_first_not_of(" \t");
  if (at == std::string::npos || line[at] != '#') return "";
  at = line.find_first_not_of(" \t", at + 1);
  if (at == std::string::npos || line.compare(at, 7, "include") != 0) return "";
  const auto open = line.find('"', at + 7);
  const auto close = open == std::string::npos ? open : line.find('"', open + 1);
  if (close == std::string::npos) return "";
  return line.substr(open + 1, close - open - 1);
}

// One broken rule, as "file:line: text".
std::vector<std::string> CheckFile(const std::string& relative, const std::string& text) {
  std::vector<std::string> faults;
  const std::string unit = UnitOf(relative);
  const std::set<std::string>& allowed = kAllowed.at(unit);
  std::istringstream lines(text);
  std::string line;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::string header = QuotedInclude(line);
    if (header.empty()) continue;
    const std::string where = relative + ":" + std::to_string(number) + ": " + header;
    const std::string target = UnitOf(header);
    if (target.empty()) {
      faults.push_back(where + " names no library folder");
      continue;
    }
    if (header.find("_internal.h") != std::string::npos && FolderOf(header) != FolderOf(relative)) {
      faults.push_back(where + " is another folder's internal header");
      continue;
    }
    if (target == unit || allowed.count(target)) continue;
    // A test may use the shared test support and the headers of the folder it tests.
    if (IsTest(relative) && (target == "testsupport" || FolderOf(header) == FolderOf(relative))) {
      continue;
    }
    faults.push_back(where + " reaches up from " + unit + " to " + target);
  }
  return faults;
}

std::vector<std::string> CheckTree(const std::string& root) {
  std::vector<std::string> faults;
  for (const auto& rule : kUnitRules) {
    const fs::path folder = fs::path(root) / rule.folder;
    if (!fs::is_directory(folder) || rule.namePrefix[0] != '\0') continue;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      const std::string ext = entry.path().extension().string();
      if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string relative = fs::relative(entry.path(), root).generic_string();
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      for (auto& fault : CheckFile(relative, text.str())) faults.push_back(std::move(fault));
    }
  }
  return faults;
}

TEST(Layering, EveryIncludeFollowsTheLayers) {
  const auto faults = CheckTree(SourcePath(""));
  std::string report;
  for (const auto& fault : faults) report += fault + "\n";
  EXPECT_TRUE(faults.empty()) << report;
}

// The checker itself: each row is one include a file may or may not make.
TEST(Layering, CheckerRefusesWhatTheLayersForbid) {
  struct Case {
    const char* file;
    const char* include;
    bool allowed;
  };
  const Case cases[] = {
      {"data/record_ops.cpp", "formengine/screen.h", true},
      {"data/record_ops.cpp", "formengine/form_driver.h", false},  // forms sit above data
      {"formengine/windows.cpp", "data/data_files.h", false},      // screen layer below data
      {"formengine/form_driver.cpp", "data/data_files.h", true},
      {"platform/os.h", "session/session.h", false},
      {"session/session.cpp", "format/format.h", true},
      {"locking/lock_range.cpp", "app/owner_program.h", false},
      {"app/hooks.cpp", "data/data_internal.h", false},  // another folder's internals
      {"data/file_table.cpp", "data/data_internal.h", true},
      {"data/tests/x_test.cpp", "testsupport/test_support.h", true},
      {"data/tests/x_test.cpp", "app/owner_program.h", false},
      {"tools/kaptool.cpp", "nowhere/thing.h", false},
  };
  for (const auto& c : cases) {
    const auto faults = CheckFile(c.file, std::string("#include \"") + c.include + "\"\n");
    EXPECT_EQ(faults.empty(), c.allowed) << c.file << " -> " << c.include;
  }
}

}  // namespace
}  // namespace kap::test
