// kaptool move: moves a whole installation's data files between the local SQLite files and a
// PostgreSQL server in one step, record for record, and checks the counts.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/data_files.h"
#include "platform/bytes.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "tools/commands.h"

namespace kap::tool {
namespace {

int RunMove(const std::vector<std::string>& args);

const ToolCommand kMoveCommand{
    "move", "move an installation's data files to or from a data server",
    "usage: kaptool move --to SERVER\n"
    "       kaptool move --to -\n\n"
    "Copies every data file of the installation at $KAPROOT that its dictionaries (ddf\\*.xdf)\n"
    "name, from where the installation keeps them now (KAPSERVIDOR, else Vora.ini [Dades]\n"
    "Servidor, else the local files) to the server of the libpq connection string SERVER, or\n"
    "with - to the local files. Each file is read exclusively in physical order and written in\n"
    "one transaction, so duplicates keep their order; the record counts are checked after each\n"
    "file. A file that already exists at the target is refused and nothing of it is written.\n"
    "Afterwards set [Dades] Servidor in Vora.ini to SERVER (or empty it) so that every\n"
    "terminal uses the target.\n",
    RunMove};

// One open file on one engine.
class EngineFile {
 public:
  explicit EngineFile(RecordEngine& engine) : engine_(engine) {}
  ~EngineFile() {
    if (open_) Call(rm::kClose, nullptr, nullptr, 0);
  }
  int16_t Open(const std::string& path, int mode) {
    std::string key = path;
    char owner[5] = {'K', 'A', 'P', 'S', 0};
    uint32_t length = sizeof owner;
    int16_t status = engine_.Call(rm::kOpen, block_, owner, &length, key.data(),
                                  static_cast<uint8_t>(key.size()), static_cast<int8_t>(mode));
    open_ = status == 0;
    return status;
  }
  int16_t Create(const std::string& path, std::string spec) {
    std::string key = path;
    char block[rm::kPositionBlockSize] = {};
    uint32_t length = static_cast<uint32_t>(spec.size());
    return engine_.Call(rm::kCreate, block, spec.data(), &length, key.data(),
                        static_cast<uint8_t>(key.size()), -1);
  }
  int16_t Stat(std::string* out) {
    std::string data(34000, '\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    int16_t status = Call(rm::kStat, data.data(), &length, 0);
    if (status == 0) *out = data.substr(0, length);
    return status;
  }
  int16_t Step(bool first, std::string* record) {
    std::string data(65000, '\0');
    uint32_t length = static_cast<uint32_t>(data.size());
    int16_t status = Call(first ? rm::kStepFirst : rm::kStepNext, data.data(), &length, 0);
    if (status == 0) *record = data.substr(0, length);
    return status;
  }
  // Inserts `records` in order; stops at the first refusal, *inserted telling how many went in.
  int16_t InsertAll(const std::vector<std::string>& records, size_t* inserted) {
    return engine_.InsertMany(block_, records, inserted);
  }
  int16_t Transaction(int op) {
    uint32_t length = 0;
    char none[4] = {};
    return engine_.Call(op, none, none, &length, none, 0, 0);
  }

 private:
  int16_t Call(int op, char* data, uint32_t* length, int keyNumber) {
    uint32_t none = 0;
    return engine_.Call(op, block_, data, length != nullptr ? length : &none, key_, 255,
                        static_cast<int8_t>(keyNumber));
  }

  RecordEngine& engine_;
  char block_[rm::kPositionBlockSize] = {};
  char key_[256] = {};
  bool open_ = false;
};

uint32_t RecordCount(const std::string& stat) {
  if (stat.size() < 10) return 0;
  return LittleEndian32(stat, 6);
}

std::vector<std::string> Entries(const std::string& dir, bool folders) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return out;
  while (dirent* e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    if (stat((dir + "/" + name).c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) == folders) out.push_back(name);
  }
  closedir(d);
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Every place where a data file named by a dictionary may live: each folder of the
// installation (the root included) joined with each dictionary's base name.
std::vector<std::string> Candidates(const std::string& root) {
  std::vector<std::string> bases;
  for (const std::string& dir : Entries(root, true)) {
    if (Lower(dir) != "ddf") continue;
    for (const std::string& f : Entries(root + "/" + dir, false))
      if (f.size() > 4 && Lower(f.substr(f.size() - 4)) == ".xdf")
        bases.push_back(f.substr(0, f.size() - 4));
  }
  std::vector<std::string> folders = {root};
  for (size_t i = 0; i < folders.size() && folders.size() < 1000; ++i)
    for (const std::string& sub : Entries(folders[i], true))
      folders.push_back(folders[i] + "/" + sub);
  std::vector<std::string> out;
  for (const std::string& folder : folders)
    for (const std::string& base : bases) out.push_back(folder + "/" + base + ".dat");
  return out;
}

std::unique_ptr<RecordEngine> EngineFor(const std::string& server) {
  return server.empty() ? MakeSqliteEngine() : MakeServerEngine(server);
}

// Records written to the target at a time (one COPY on the server), and the progress step.
constexpr size_t kMoveBatch = 5000;

// Moves one file; prints what happened and returns false on any failure.

bool MoveFile(RecordEngine& from, RecordEngine& to, const std::string& path,
              const std::string& shown) {
  EngineFile source(from);
  std::string stat;
  int16_t status = source.Open(path, rm::kModeExclusive);
  if (status == rm::kFileNotFound) return true;
  if (status != 0 || (status = source.Stat(&stat)) != 0) {
    std::fprintf(stderr, "kaptool move: cannot read %s (status %d)\n", shown.c_str(), status);
    return false;
  }
  EngineFile target(to);
  status = target.Create(path, stat);
  if (status == rm::kFileExists) {
    std::fprintf(stderr, "kaptool move: %s already exists at the target; not moved\n",
                 shown.c_str());
    return false;
  }
  if (status != 0 || (status = target.Open(path, rm::kModeExclusive)) != 0) {
    std::fprintf(stderr, "kaptool move: cannot create %s at the target (status %d)\n",
                 shown.c_str(), status);
    return false;
  }
  uint32_t expected = RecordCount(stat);
  uint32_t moved = 0;
  status = target.Transaction(rm::kBeginTransaction);
  std::string record;
  std::vector<std::string> batch;  // read, not yet written: the target takes them together
  auto write = [&] {
    size_t inserted = 0;
    status = target.InsertAll(batch, &inserted);
    moved += static_cast<uint32_t>(inserted);
    batch.clear();
    if (status == 0 && moved > 0 && moved % kMoveBatch == 0)
      std::fprintf(stderr, "%s: %u of %u records\r", shown.c_str(), moved, expected);
  };
  int16_t read = source.Step(true, &record);
  for (; status == 0 && read == 0; read = source.Step(false, &record)) {
    batch.push_back(std::move(record));
    if (batch.size() == kMoveBatch) write();
  }
  if (status == 0 && !batch.empty()) write();
  if (status != 0 || read != rm::kEndOfFile) {
    target.Transaction(rm::kAbortTransaction);
    std::fprintf(stderr, "\nkaptool move: %s stopped after %u records (status %d)\n", shown.c_str(),
                 moved, status != 0 ? status : read);
    return false;
  }
  status = target.Transaction(rm::kEndTransaction);
  std::string after;
  if (status == 0) status = target.Stat(&after);
  if (status != 0 || RecordCount(after) != expected || moved != expected) {
    std::fprintf(stderr,
                 "kaptool move: %s: %u records at the source, %u at the target (status %d)\n",
                 shown.c_str(), expected, RecordCount(after), status);
    return false;
  }
  std::fprintf(stderr, "%s: %u records moved, counts match\n", shown.c_str(), moved);
  return true;
}

int RunMove(const std::vector<std::string>& args) {
  if (args.size() != 2 || args[0] != "--to")
    return UsageError(kMoveCommand, "expected --to SERVER or --to -");
  std::string targetServer = args[1] == "-" ? "" : args[1];
  std::string sourceServer = ChosenRecordServer();
  if (targetServer == sourceServer) return UsageError(kMoveCommand, "the data already lives there");
  std::string root = GetOs().GetEnv("KAPROOT");
  if (root.empty()) return UsageError(kMoveCommand, "KAPROOT names no installation");
  root = GetOs().MapPath(root);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::unique_ptr<RecordEngine> from = EngineFor(sourceServer);
  std::unique_ptr<RecordEngine> to = EngineFor(targetServer);
  int files = 0;
  bool ok = true;
  for (const std::string& candidate : Candidates(root)) {
    std::string path = GetOs().MapPath(candidate);
    int16_t status = EngineFile(*from).Open(path, rm::kModeReadOnly);
    if (status == rm::kFileNotFound || status == rm::kNotRecordFile) continue;
    if (status == rm::kRecordManagerInactive) {
      std::fprintf(stderr, "kaptool move: %s\n", RecordServerProblem().c_str());
      return 1;
    }
    std::string shown = path.substr(root.size() + 1);
    ++files;
    if (!MoveFile(*from, *to, path, shown)) ok = false;
  }
  if (!RecordServerProblem().empty()) {
    std::fprintf(stderr, "kaptool move: %s\n", RecordServerProblem().c_str());
    return 1;
  }
  if (!ok) return 1;
  std::fprintf(stderr, "%d data files moved\n", files);
  return 0;
}

}  // namespace
}  // namespace kap::tool
