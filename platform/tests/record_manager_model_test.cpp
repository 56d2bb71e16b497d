// A model of the store: a std::map receives the same random operations as the record manager,
// and the two are compared after every step and by full scans on both keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "platform/record_manager.h"
#include "platform/tests/record_manager_support.h"
#include "testsupport/test_support.h"

namespace kap {
namespace {

using test::RmFile;

struct ModelRecord {
  std::string bytes;
  uint64_t order;  // insertion order: duplicates of key 1 follow it
};

std::string Make(uint16_t id, char group, uint32_t payload) {
  std::string r(10, '\0');
  r[0] = static_cast<char>(id & 0xFF);
  r[1] = static_cast<char>(id >> 8);
  r[2] = group;
  r[3] = 'x';
  for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<char>((payload >> (8 * i)) & 0xFF);
  return r;
}

TEST(RecordManagerModelTest, RandomOperationsMatchAMap) {
  test::TempDir dir;
  std::string path = dir.file("model.dat");
  RmFile f;
  // Key 0: unique 2-byte binary id. Key 1: 2 text bytes with duplicates, modifiable.
  ASSERT_EQ(f.Create(path, test::CreationBlock(10, {{{1, 2, 0x0004}}, {{3, 2, 0x0003}}})), 0);
  ASSERT_EQ(f.Open(path), 0);
  std::map<uint16_t, ModelRecord> model;
  uint64_t order = 0;
  std::mt19937 random(12345);
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  bool current = false;
  uint16_t currentId = 0;

  auto scanKey1 = [&] {
    std::vector<std::pair<std::string, uint64_t>> order1;
    for (auto& [id, m] : model) order1.push_back({m.bytes.substr(2, 2), m.order});
    std::sort(order1.begin(), order1.end());
    std::vector<uint64_t> expected;
    for (auto& o : order1) expected.push_back(o.second);
    std::vector<uint64_t> got;
    std::string r;
    for (int16_t s = f.Get(rm::kGetFirst, 1, "", &r); s == 0; s = f.Get(rm::kGetNext, 1, "", &r))
      got.push_back(model.at(test::Get16(r, 0)).order);
    return got == expected;
  };

  for (int step = 0; step < 1500; ++step) {
    int op = pick(6);
    uint16_t id = static_cast<uint16_t>(pick(200));
    char group = static_cast<char>('A' + pick(4));
    uint32_t payload = static_cast<uint32_t>(random());
    std::string r;
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op) + " id " +
                 std::to_string(id));
    if (op == 0) {  // insert
      int16_t s = f.Insert(Make(id, group, payload));
      if (model.count(id)) {
        ASSERT_EQ(s, rm::kDuplicateKey);
      } else {
        ASSERT_EQ(s, 0);
        model[id] = {Make(id, group, payload), order++};
        current = true;
        currentId = id;
      }
    } else if (op == 1) {  // get equal
      std::string key(2, '\0');
      key[0] = static_cast<char>(id & 0xFF);
      key[1] = static_cast<char>(id >> 8);
      int16_t s = f.Get(rm::kGetEqual, 0, key, &r);
      if (model.count(id)) {
        ASSERT_EQ(s, 0);
        ASSERT_EQ(r, model[id].bytes);
        current = true;
        currentId = id;
      } else {
        ASSERT_EQ(s, rm::kKeyNotFound);
      }
    } else if (op == 2 || op == 3) {  // next / previous on key 0
      if (!current) continue;
      int16_t s = f.Get(op == 2 ? rm::kGetNext : rm::kGetPrevious, 0, "", &r);
      auto it = model.find(currentId);
      if (op == 2) {
        ++it;
      } else {
        it = it == model.begin() ? model.end() : std::prev(it);
      }
      if (it == model.end()) {
        ASSERT_EQ(s, rm::kEndOfFile);
        current = false;  // nothing moved; start again from a get
      } else {
        ASSERT_EQ(s, 0);
        ASSERT_EQ(r, it->second.bytes);
        currentId = it->first;
      }
    } else if (op == 4) {  // update payload and group of the current record
      if (!current) continue;
      std::string changed = Make(currentId, group, payload);
      ASSERT_EQ(f.Update(changed), 0);
      model[currentId].bytes = changed;
    } else {  // delete the current record, then read on from where it was
      if (!current) continue;
      ASSERT_EQ(f.Delete(), 0);
      auto it = model.find(currentId);
      auto next = std::next(it);
      model.erase(it);
      int16_t s = f.Get(rm::kGetNext, 0, "", &r);
      if (next == model.end()) {
        ASSERT_EQ(s, rm::kEndOfFile);
        current = false;
      } else {
        ASSERT_EQ(s, 0);
        ASSERT_EQ(r, next->second.bytes);
        currentId = next->first;
      }
    }
    if (step % 250 == 249) {
      ASSERT_TRUE(scanKey1());
      current = false;
    }
  }
  ASSERT_TRUE(scanKey1());
  char none[4] = {};
  uint32_t length = 0;
  BTRCALL(rm::kReset, nullptr, none, &length, none, 0, 0);
}

}  // namespace
}  // namespace kap
