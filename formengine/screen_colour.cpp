// Colour schemes selected by letter commands, with a stack of saved schemes.
#include <algorithm>
#include <cctype>

#include "formengine/screen_state.h"
#include "session/session.h"

namespace kap {

uint8_t SchemeAttribute(int scheme) {
  const ColourPair& pair = CurrentSession().ScreenColours[std::clamp(scheme, 0, 4)];
  return static_cast<uint8_t>((pair.foreground & 0x0F) | ((pair.background & 0x0F) << 4));
}

namespace {
void SelectScheme(int scheme) {
  ScreenStateRef().scheme = scheme;
  GetConsole().SetAttribute(SchemeAttribute(scheme));
}
}  // namespace

void SetColour(const std::string& command) {
  if (command.find_first_not_of(' ') == std::string::npos) return;
  std::string upper = command;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ScreenState& s = ScreenStateRef();
  if (upper.find('+') != std::string::npos) s.colourStack.push_back(static_cast<char>(s.scheme));
  if (upper.find('-') != std::string::npos) {
    int scheme = 0;
    if (!s.colourStack.empty()) {
      scheme = static_cast<unsigned char>(s.colourStack.back());
      s.colourStack.pop_back();
    }
    SelectScheme(scheme);
  } else if (upper.find('U') != std::string::npos) {
    SelectScheme(4);
  } else {
    SelectScheme((upper.find('R') != std::string::npos ? 2 : 0) +
                 (upper.find('N') != std::string::npos ? 1 : 0));
  }
}

}  // namespace kap
