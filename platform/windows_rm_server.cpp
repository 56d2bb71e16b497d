// The Windows build carries no data-server client: a server named in the configuration is
// answered as one that cannot be reached, so the program stops with the usual message.
#include "platform/record_manager.h"

namespace kap {
namespace {

bool answered = false;  // a call has been answered 20 for want of a server client

class NoServerEngine : public RecordEngine {
 public:
  int16_t Call(int, void*, void*, uint32_t*, void*, uint8_t, int8_t) override {
    answered = true;
    return 20;
  }
};

}  // namespace

std::unique_ptr<RecordEngine> MakeServerEngine(const std::string&) {
  return std::make_unique<NoServerEngine>();
}

std::string RecordServerProblem() {
  if (!answered) return "";
  return "this build has no data server support; run the Linux programs or set KAPSERVIDOR=-";
}

std::unique_ptr<File> OpenServerLockFile(const std::string&, bool, Sharing, OpenResult* result) {
  *result = OpenResult::kFailed;
  return nullptr;
}

uint64_t RecordServerRoundTrips() { return 0; }

bool ServerLockFileExists(const std::string&) { return false; }

std::vector<std::string> ServerLockFileNames() { return {}; }

namespace rm {
struct pg_conn* ConnectDataServer(const std::string&) {
  return nullptr;
}
}  // namespace rm

}  // namespace kap
