// The per-terminal clipboard file "Clipboard.tmp": it keeps the last copy on every platform and
// answers when no system clipboard does.
#pragma once

#include <string>

namespace kap {

// False when there is no file or it is empty.
bool ReadClipboardFile(const std::string& fileDir, std::string* text);
void WriteClipboardFile(const std::string& fileDir, const std::string& text);

}  // namespace kap
