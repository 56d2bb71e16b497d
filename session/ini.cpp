// ReadIniValue: no cache, the file is scanned anew on every call so that a value changed by
// another program is seen at once.
#include "platform/os.h"
#include "platform/text.h"
#include "session/session.h"
#include "session/text_lines.h"

namespace kap {

using session_detail::TextLines;

std::string ReadIniValue(const std::string& fileName, const std::string& section,
                         const std::string& key) {
  OpenResult result;
  std::unique_ptr<File> file = GetOs().OpenFile(fileName, false, true, Sharing::kShared, &result);
  if (!file) return "";
  const std::string wantedSection = UpperAscii(TrimSpaces(section));
  const std::string wantedKey = UpperAscii(TrimSpaces(key));

  TextLines lines(std::move(file));
  std::string line;
  std::string value;
  bool inSection = false;
  while (lines.Next(&line)) {
    // A comment runs from the first ';', even inside quotes.
    size_t semicolon = line.find(';');
    if (semicolon != std::string::npos) line.resize(semicolon);
    size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    line.erase(0, first);

    if (!inSection) {
      if (line[0] != '[') continue;
      size_t close = line.find(']');
      std::string name = line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
      if (UpperAscii(TrimSpaces(name)) == wantedSection) inSection = true;
      continue;
    }
    // Only the first section of the wanted name is searched.
    if (line[0] == '[') break;
    size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    if (UpperAscii(TrimSpaces(line.substr(0, equals))) == wantedKey) {
      value = line.substr(equals + 1);
      break;
    }
  }

  if (value.size() > 1 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace kap
