// The process-wide Os: the system's own unless a test installed another.
#include "platform/os.h"

namespace kap {

namespace {
Os*& Installed() {
  static Os* os = nullptr;
  return os;
}
}  // namespace

Os& GetOs() {
  Os* os = Installed();
  return os ? *os : PosixOs();
}

void SetOs(Os* os) { Installed() = os; }

}  // namespace kap
