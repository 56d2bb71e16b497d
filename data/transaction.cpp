// Transactions over the open data files, and the runner that undoes and repeats one that meets
// another program's lock.
#include <algorithm>

#include "data/data_internal.h"
#include "formengine/screen.h"
#include "platform/record_manager.h"

namespace kap {
namespace data {
namespace {

// Begin, End and Abort name no file: the scratch block of entry 0 goes with them.
int16_t TransactionCall(int operation) {
  std::string block(rm::kPositionBlockSize, '\0');
  char data[4] = {0, 0, 0, 0};
  char key[4] = {0, 0, 0, 0};
  uint32_t length = 0;
  return BTRCALL(operation, block.data(), data, &length, key, 0, 0);
}

bool Locked(int16_t status) { return status == rm::kRecordLocked || status == rm::kFileLocked; }

}  // namespace
}  // namespace data

using data::State;

void BeginTransaction(int16_t& status) {
  status = data::TransactionCall(rm::kBeginTransaction);
  if (status == 0) State().inTransaction = true;
}

void EndTransaction(int16_t& status) {
  status = data::TransactionCall(rm::kEndTransaction);
  // A commit that failed is undone by the record manager: the transaction is over either way.
  if (status != rm::kNoTransaction) State().inTransaction = false;
}

void AbortTransaction(int16_t& status) {
  status = data::TransactionCall(rm::kAbortTransaction);
  if (status != rm::kNoTransaction) State().inTransaction = false;
}

int16_t RunTransaction(const std::function<int16_t()>& work) {
  int16_t status = 0;
  int attempts = 0;
  for (;;) {
    if (attempts == 1) ShowMessage(24, data::LockText());
    BeginTransaction(status);
    if (status != 0) break;
    status = work();
    int16_t ended = 0;
    if (status != 0) {
      AbortTransaction(ended);
    } else {
      EndTransaction(ended);
      status = ended;
    }
    if (!data::Locked(status)) break;
    // Undone, the transaction holds nothing while the other program finishes.
    data::PauseForLock();
    attempts = std::min(attempts + 1, 2);
  }
  if (attempts != 0) PopWindow();
  return status;
}

}  // namespace kap
