// Private to the forms layer: pieces shared between the driver, the browse list and the help.
#pragma once

#include <cstdint>
#include <string>

#include "formengine/form_driver.h"

namespace kap::forms {

// The installed hooks, or a do-nothing set that accepts everything when none is installed.
FormHooks& Hooks();

void ResetBrowseState();

inline std::string TrimRight(const std::string& text) {
  size_t end = text.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace kap::forms
