// The active key list: which keys the field editor returns with, and under which code.
#include <cctype>

#include "formengine/screen_state.h"

namespace kap {

namespace {

// Hexadecimal digits up to the first other character; an empty item reads as 0.
int16_t ParseHex(const std::string& item) {
  uint32_t v = 0;
  for (char c : item) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else if (c == ' ')
      continue;
    else
      break;
    v = ((v << 4) | static_cast<uint32_t>(d)) & 0xFFFF;
  }
  return static_cast<int16_t>(static_cast<uint16_t>(v));
}

std::vector<std::string> Items(const std::string& keys) {
  std::vector<std::string> items;
  // No keys at all means no items (not one item reading 0), so "+ea" with "" accepts all.
  if (keys.empty()) return items;
  size_t from = 0;
  for (;;) {
    size_t comma = keys.find(',', from);
    items.push_back(
        keys.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return items;
}

}  // namespace

void SetKeyList(const std::string& commands, const std::string& keys) {
  ScreenState& s = ScreenStateRef();
  for (char raw : commands) {
    switch (std::toupper(static_cast<unsigned char>(raw))) {
      case 'D':
        for (const std::string& item : Items(keys)) {
          int16_t k = ParseHex(item.substr(0, item.find('=')));
          for (auto it = s.activeKeys.begin(); it != s.activeKeys.end(); ++it) {
            if (it->first == k) {
              s.activeKeys.erase(it);
              break;
            }
          }
        }
        break;
      case 'A':
        for (const std::string& item : Items(keys)) {
          size_t eq = item.find('=');
          int16_t k = ParseHex(item.substr(0, eq));
          int16_t m = eq == std::string::npos ? k : ParseHex(item.substr(eq + 1));
          s.activeKeys.emplace_back(k, m);
        }
        break;
      case 'E':
        s.activeKeys.clear();
        break;
      case '+':
        if (!s.keysSaved) {
          s.savedKeys = s.activeKeys;
          s.keysSaved = true;
        }
        break;
      case '-':
        if (s.keysSaved) {
          s.activeKeys = std::move(s.savedKeys);
          s.savedKeys.clear();
          s.keysSaved = false;
        }
        break;
      case 'H':
        s.echoChar = 88;
        break;
      case 'V':
        s.echoChar = 0;
        break;
      default:
        break;
    }
  }
}

std::string KeyList(std::initializer_list<int16_t> keys) {
  static const char kDigits[] = "0123456789abcdef";
  std::string list;
  for (int16_t key : keys) {
    if (!list.empty()) list += ',';
    uint16_t code = static_cast<uint16_t>(key);
    std::string item;
    do {
      item.insert(item.begin(), kDigits[code & 0xF]);
      code = static_cast<uint16_t>(code >> 4);
    } while (code != 0);
    list += item;
  }
  return list;
}

bool LookupKey(int16_t key, int16_t* reported) {
  const ScreenState& s = ScreenStateRef();
  if (s.activeKeys.empty()) {
    *reported = key;
    return true;
  }
  for (const auto& [accepted, code] : s.activeKeys) {
    if (accepted == key) {
      *reported = code;
      return true;
    }
  }
  return false;
}

bool KeyListHas(int16_t key) {
  for (const auto& entry : ScreenStateRef().activeKeys)
    if (entry.first == key) return true;
  return false;
}

int16_t EchoChar() { return ScreenStateRef().echoChar; }

}  // namespace kap
