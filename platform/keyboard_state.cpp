// The Insert toggle where the system keeps none for the program: one flag for the process.
#include "platform/console.h"

namespace kap {

namespace {
bool& InsertFlag() {
  static bool on = false;
  return on;
}
}  // namespace

bool InsertToggle() { return InsertFlag(); }
void SetInsertToggle(bool on) { InsertFlag() = on; }

}  // namespace kap
