// Private to the forms layer: pieces shared between the driver, the browse list and the help.
#pragma once

#include <cstdint>
#include <string>

#include "formengine/form_driver.h"
#include "platform/text.h"

namespace kap::forms {

// The installed hooks, or a do-nothing set that accepts everything when none is installed.
FormHooks& Hooks();

void ResetBrowseState();

}  // namespace kap::forms
