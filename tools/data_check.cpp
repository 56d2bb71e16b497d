// kaptool data check: the store's own check, the key images against their records, and the
// owners and estates of the owner-removal program against each other. Reads only.
#include "tools/data_check.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/owner_program.h"
#include "format/format.h"
#include "platform/record_manager.h"
// The engine's own definition parser and key-image code, so that the check recomputes the
// images exactly as the engine stored them.
#include "session/session.h"

namespace kap::tool {
namespace {

constexpr long kProgressEvery = 10000;
// How long the check keeps giving way to writers before it calls a file locked.
constexpr std::chrono::milliseconds kWriterPatience{60000};

// Problems, one line each on stdout as they are found.
class Report {
 public:
  void Problem(const std::string& file, const std::string& text) {
    std::printf("%s: %s\n", file.c_str(), text.c_str());
    ++problems_;
  }
  long problems() const { return problems_; }

 private:
  long problems_ = 0;
};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// "propietv" for ".../DADES/PropietV.dat".
std::string BaseName(const std::string& path) {
  std::string name = Lower(path.substr(path.find_last_of('/') + 1));
  if (name.size() > 4 && name.substr(name.size() - 4) == ".dat") name.resize(name.size() - 4);
  return name;
}

// A packed code of zeros names nobody: an empty owner slot, a free estate.
bool NamesNobody(const std::string& packed) { return UnpackDigits(packed) == "0000"; }

std::string Position(int64_t position) { return "record at position " + std::to_string(position); }

// The owner-removal program's two files, as far as the check needs them: which estates each
// owner's slots name, and which owner each estate names. Layouts as the program reads them.
struct ProgramFiles {
  std::string ownersFile, estatesFile;
  std::map<std::string, std::vector<std::pair<int, std::string>>> ownerSlots;
  std::map<std::string, std::string> estateOwner;

  void Take(const std::string& file, const std::string& record) {
    if (file == ownersFile && record.size() >= kOwnerEnd) {
      auto& slots = ownerSlots[record.substr(owner::kCode, 2)];
      for (int slot = 0; slot < owner::kEstateSlots; ++slot) {
        std::string code =
            record.substr(owner::kEstates + static_cast<size_t>(slot) * owner::kSlotSize, 2);
        if (!NamesNobody(code)) slots.emplace_back(slot + 1, code);
      }
    } else if (file == estatesFile && record.size() >= kEstateEnd) {
      estateOwner.emplace(record.substr(estate::kCode, 2), record.substr(estate::kOwner, 2));
    }
  }

  void Compare(Report* report) const {
    if (ownersFile.empty() || estatesFile.empty()) return;
    for (const auto& [estateCode, ownerCode] : estateOwner) {
      if (!NamesNobody(ownerCode) && ownerSlots.count(ownerCode) == 0)
        report->Problem(estatesFile, "estate " + UnpackDigits(estateCode) + " names owner " +
                                         UnpackDigits(ownerCode) + ", which does not exist");
    }
    for (const auto& [ownerCode, slots] : ownerSlots) {
      for (const auto& [slot, estateCode] : slots) {
        auto held = estateOwner.find(estateCode);
        if (held == estateOwner.end() || NamesNobody(held->second) || held->second == ownerCode)
          continue;
        report->Problem(ownersFile, "owner " + UnpackDigits(ownerCode) + ", slot " +
                                        std::to_string(slot) + ", names estate " +
                                        UnpackDigits(estateCode) + ", which names owner " +
                                        UnpackDigits(held->second));
      }
    }
  }

  static constexpr size_t kOwnerEnd = owner::kEstates + owner::kEstateSlots * owner::kSlotSize;
  static constexpr size_t kEstateEnd = estate::kOwner + 2;
};

// Opens a scan of every file at once, so that they share one snapshot; an entry is nullptr
// where the file cannot be opened (said on stderr). Gives way to writers that hold a file for a
// moment, up to `patience`.
std::vector<std::unique_ptr<StoreScan>> OpenScans(const std::vector<std::string>& paths,
                                                  const std::string& server,
                                                  std::chrono::milliseconds patience) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  for (;;) {
    std::vector<std::unique_ptr<StoreScan>> scans;
    std::vector<std::string> why;
    bool busy = false;
    for (const std::string& path : paths) {
      scans.push_back(server.empty() ? MakeSqliteScan() : MakeServerScan(server));
      why.push_back(scans.back()->Open(path));
      busy = busy || scans.back()->Busy();
    }
    if (busy && std::chrono::steady_clock::now() < deadline) {
      scans.clear();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      continue;
    }
    for (size_t i = 0; i < paths.size(); ++i) {
      if (why[i].empty()) continue;
      std::fprintf(stderr, "kaptool data: cannot open %s: %s\n", paths[i].c_str(), why[i].c_str());
      scans[i].reset();
    }
    return scans;
  }
}

// Checks one opened file.
void CheckFile(StoreScan& scan, const std::string& path, Report* report, ProgramFiles* program) {
  for (const std::string& problem : scan.IntegrityProblems()) report->Problem(path, problem);
  const std::string creation = scan.Creation();
  rm::KeyImages images;
  if (creation.empty() || images.Read(creation) != rm::kOk) {
    report->Problem(path, "its definition cannot be read, so its records cannot be checked");
    return;
  }
  const int keys = images.KeyCount();
  const int64_t total = scan.RecordCount();
  std::string problem;
  long checked = 0;
  int64_t last = 0;
  if (scan.Start(keys, &problem)) {
    // Recomputed images of the unique keys, to find values that the unique index should have
    // refused but could not see because the stored image was wrong.
    std::vector<std::unordered_map<std::string, int64_t>> seen(static_cast<size_t>(keys));
    StoredRecord record;
    while (scan.Next(&record, &problem)) {
      last = record.position;
      if (++checked % kProgressEvery == 0)
        std::fprintf(stderr, "%s: %ld%s records checked\r", path.c_str(), checked,
                     total >= 0 ? (" of " + std::to_string(total)).c_str() : "");
      if (record.data.size() != images.RecordLength()) {
        report->Problem(
            path, Position(record.position) + ": " + std::to_string(record.data.size()) +
                      " bytes, not the record length " + std::to_string(images.RecordLength()));
        continue;
      }
      for (int k = 0; k < keys; ++k) {
        std::string image = images.ImageOf(k, record.data);
        if (image != record.images[static_cast<size_t>(k)])
          report->Problem(path, Position(record.position) + ": the stored image of key " +
                                    std::to_string(k) + " does not match the record");
        if (images.Duplicates(k)) continue;
        auto [first, fresh] = seen[static_cast<size_t>(k)].emplace(image, record.position);
        if (!fresh)
          report->Problem(path, Position(record.position) + ": key " + std::to_string(k) +
                                    " repeats the value of the " + Position(first->second) +
                                    ", on a key without duplicates");
      }
      program->Take(path, record.data);
    }
  }
  if (!problem.empty())
    report->Problem(path, "the records cannot be read" +
                              (checked > 0 ? " after position " + std::to_string(last) : "") +
                              ": " + problem);
  std::fprintf(stderr, "%s: %ld records checked\n", path.c_str(), checked);
}

}  // namespace

std::vector<std::string> ProgramDataFiles() {
  StartSession();
  const std::string& root = CurrentSession().RootDir;
  return {root + "DADES\\PropietV", root + "DADES\\FinquesV", root + "TAULES\\UPaisos"};
}

int CheckDataFiles(const std::vector<std::string>& paths) {
  Report report;
  ProgramFiles program;
  for (const std::string& path : paths) {
    if (BaseName(path) == "propietv" && program.ownersFile.empty()) program.ownersFile = path;
    if (BaseName(path) == "finquesv" && program.estatesFile.empty()) program.estatesFile = path;
  }
  const std::string server = RecordServerConnection();
  if (!server.empty() && MakeServerScan(server) == nullptr) {
    std::fprintf(stderr, "kaptool data: this build cannot read the data server's files\n");
    return kCheckCannotOpen;
  }
  std::vector<std::unique_ptr<StoreScan>> scans = OpenScans(paths, server, kWriterPatience);
  size_t unopened = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (scans[i] != nullptr) {
      CheckFile(*scans[i], paths[i], &report, &program);
      continue;
    }
    ++unopened;
    // Comparing with a file that was not read would report every estate or owner.
    if (paths[i] == program.ownersFile || paths[i] == program.estatesFile) program = ProgramFiles{};
  }
  program.Compare(&report);
  auto files = [](size_t n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
  std::string total;
  if (report.problems() > 0)
    total = std::to_string(report.problems()) +
            (report.problems() == 1 ? " problem found" : " problems found");
  else if (unopened < paths.size())
    total = "no problems found in " + files(paths.size() - unopened);
  if (unopened > 0) total += (total.empty() ? "" : "; ") + files(unopened) + " could not be opened";
  std::printf("%s\n", total.c_str());
  if (unopened > 0) return kCheckCannotOpen;
  return report.problems() > 0 ? kCheckProblems : kCheckSound;
}

}  // namespace kap::tool
