// BTRCALL: the record manager's one entry point, handed to the installed engine.
#include "platform/record_manager.h"

#include "platform/os.h"

namespace kap {
namespace {

struct RecordManagerState {
  RecordEngine* installed = nullptr;
  // Created on first use and never destroyed (see below).
  RecordEngine* sqlite = nullptr;
  RecordEngine* server = nullptr;
  std::string serverConnection;
  bool durable = true;
};

RecordManagerState& State() {
  static RecordManagerState state;
  return state;
}

RecordEngine& Engine() {
  RecordManagerState& s = State();
  if (s.installed != nullptr) return *s.installed;
  if (s.server != nullptr) return *s.server;
  // Leaked on purpose: closing databases from static destructors would also run in forked
  // children, on connections that belong to the parent.
  if (s.sqlite == nullptr) s.sqlite = MakeSqliteEngine().release();
  return *s.sqlite;
}

}  // namespace

int16_t RecordEngine::InsertMany(void* positionBlock, const std::vector<std::string>& records,
                                 size_t* inserted) {
  *inserted = 0;
  for (const std::string& record : records) {
    std::string data = record;
    uint32_t length = static_cast<uint32_t>(data.size());
    char key[1] = {};
    int16_t status = Call(rm::kInsert, positionBlock, data.data(), &length, key, 0, -1);
    if (status != rm::kOk) return status;
    ++*inserted;
  }
  return rm::kOk;
}

void SetRecordEngine(RecordEngine* engine) { State().installed = engine; }

void UseRecordServer(const std::string& connection) {
  RecordManagerState& s = State();
  if (s.server != nullptr && connection == s.serverConnection) return;
  delete s.server;
  s.server = connection.empty() ? nullptr : MakeServerEngine(connection).release();
  s.serverConnection = connection;
}

const std::string& RecordServerConnection() { return State().serverConnection; }

void SetDurableCommits(bool durable) { State().durable = durable; }
bool DurableCommits() { return State().durable; }

std::string DataServerSessionName(int pid) { return "kap " + std::to_string(pid); }

int16_t BTRCALL(int operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
                void* keyBuffer, uint8_t keyLength, int8_t keyNumber) {
  // A call may wait on another process (a busy file) or take long (a create, a transaction).
  BeforeWait();
  return Engine().Call(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                       keyNumber);
}

int16_t InsertRecords(void* positionBlock, const std::vector<std::string>& records,
                      size_t* inserted) {
  BeforeWait();
  return Engine().InsertMany(positionBlock, records, inserted);
}

}  // namespace kap
