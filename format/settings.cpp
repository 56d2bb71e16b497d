#include "format/format.h"
#include "format/format_internal.h"
#include "platform/os.h"
#include "session/session.h"

namespace kap {
namespace format_internal {

namespace {

std::string UsuariValue(const char* key) {
  Os& os = GetOs();
  std::string file = os.MapPath(os.GetEnv("KAPROOT") + "Vora.ini");
  return ReadIniValue(file, "Usuari", key);
}

// First character of the value, or `fallback` when it is empty or starts with a space.
char FirstCharOr(const std::string& value, char fallback) {
  return value.empty() || value[0] == ' ' ? fallback : value[0];
}

}  // namespace

FormatSettings& Settings() {
  static FormatSettings settings;
  return settings;
}

const FormatSettings& EnsureDateSettings() {
  FormatSettings& s = Settings();
  if (!s.datesRead) {
    s.DateSeparator = FirstCharOr(UsuariValue("DatCaracter"), '/');
    std::string order = UsuariValue("DatOrdre").substr(0, 3);
    if (order.find_first_not_of(' ') == std::string::npos) order = "DMA";
    for (char& c : order) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    s.DateOrder = order;
    s.datesRead = true;
  }
  return s;
}

const FormatSettings& EnsureNumberSettings() {
  FormatSettings& s = Settings();
  if (!s.numbersRead) {
    s.DecimalChar = FirstCharOr(UsuariValue("DecCaracter"), '\'');
    s.ThousandsChar = FirstCharOr(UsuariValue("MilCaracter"), '.');
    s.numbersRead = true;
  }
  return s;
}

}  // namespace format_internal

void ResetFormatSettings() { format_internal::Settings() = format_internal::FormatSettings(); }

}  // namespace kap
