// Pop-up calculator (Alt+X) and calendar (Alt+C), opened from any field.
#pragma once

#include <string>

namespace kap {

// Returns the chosen value in hundredths as text, or "" after Esc.
std::string PopupCalculator();
// Returns the chosen date as text (style 0, "dma"), or "" after Esc.
std::string PopupCalendar();

}  // namespace kap
