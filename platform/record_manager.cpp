// BTRCALL: the record manager's one entry point, handed to the installed engine.
#include "platform/record_manager.h"

#include "platform/os.h"

namespace kap {
namespace {

struct RecordManagerState {
  RecordEngine* installed = nullptr;
  RecordEngine* sqlite = nullptr;  // created on first use, never destroyed (see below)
};

RecordManagerState& State() {
  static RecordManagerState state;
  return state;
}

RecordEngine& Engine() {
  RecordManagerState& s = State();
  if (s.installed != nullptr) return *s.installed;
  // Leaked on purpose: closing databases from static destructors would also run in forked
  // children, on connections that belong to the parent.
  if (s.sqlite == nullptr) s.sqlite = MakeSqliteEngine().release();
  return *s.sqlite;
}

}  // namespace

void SetRecordEngine(RecordEngine* engine) { State().installed = engine; }

int16_t BTRCALL(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  // A call may wait on another process (a busy file) or take long (a create, a transaction).
  BeforeWait();
  return Engine().Call(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                       keyNumber);
}

}  // namespace kap
