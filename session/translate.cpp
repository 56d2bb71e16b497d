// Translate: looks a Catalan text up in the program's language file. No cache, so the file can
// be edited while the program runs.
#include <vector>

#include "platform/os.h"
#include "session/session.h"
#include "session/text_lines.h"

namespace kap {

namespace {

// Splits one record line into comma-separated fields. A field in double quotes may hold commas
// and leading spaces ("" inside stands for one quote); text after its closing quote up to the
// next comma is dropped. A bare field loses its leading and trailing spaces.
// Stops after `limit` fields.
std::vector<std::string> SplitRecord(const std::string& line, size_t limit) {
  std::vector<std::string> fields;
  size_t i = 0;
  for (;;) {
    while (i < line.size() && line[i] == ' ') ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (i < line.size()) {
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field.push_back(line[i++]);
      }
      while (i < line.size() && line[i] != ',') ++i;
    } else {
      size_t comma = line.find(',', i);
      size_t end = comma == std::string::npos ? line.size() : comma;
      field = line.substr(i, end - i);
      size_t last = field.find_last_not_of(' ');
      field.resize(last == std::string::npos ? 0 : last + 1);
      i = end;
    }
    fields.push_back(std::move(field));
    if (i >= line.size() || fields.size() == limit) return fields;
    ++i;  // the comma
  }
}

}  // namespace

std::string Translate(const std::string& text) {
  Session& s = CurrentSession();
  if (s.Language == "CAT") return text;
  if (s.MessageFileName.empty()) s.MessageFileName = s.ProgramName;
  const std::string fileName = s.RootDir + "LOCALE\\" + s.MessageFileName + ".LNG";

  Os& os = GetOs();
  OpenResult result;
  // Opening for read-write creates an empty file when there is none. On a read-only
  // installation that fails, and an existing file is then opened only for reading.
  std::unique_ptr<File> file = os.OpenFile(fileName, true, false, Sharing::kShared, &result);
  if (!file) file = os.OpenFile(fileName, false, true, Sharing::kShared, &result);
  if (!file) return text;

  size_t column;
  if (s.Language == "GLG") {
    column = 1;
  } else if (s.Language == "OCI") {
    column = 2;
  } else if (s.Language == "SPA") {
    column = 3;
  } else {
    column = 0;  // any other language keeps the Catalan text
  }

  session_detail::TextLines lines(std::move(file));
  std::string line;
  while (lines.Next(&line)) {
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    // Most records differ in their key: split the rest only when the key matches.
    std::vector<std::string> fields = SplitRecord(line, 1);
    if (fields[0] != text) continue;
    fields = SplitRecord(line, 4);
    if (fields.size() < 4) {
      // A record cut off at the end of the file ends the scan; an incomplete one further up
      // is not a record.
      if (lines.AtEnd()) break;
      continue;
    }
    return fields[column];
  }
  return text;
}

}  // namespace kap
