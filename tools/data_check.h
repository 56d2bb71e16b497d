// kaptool data check: reads data files straight from their store (never through the record
// manager, never writing) and reports what is unsound: the store's own integrity, stored key
// images that disagree with their records, duplicates on unique keys, and, for the owner-removal
// program's files, estates and owners that name each other wrongly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kap::tool {

// Exit statuses of the check.
constexpr int kCheckSound = 0;
constexpr int kCheckProblems = 1;
constexpr int kCheckCannotOpen = 2;

// The data files the owner-removal program opens, under the session's installation root.
std::vector<std::string> ProgramDataFiles();

// Checks the data files at `paths` (mapped paths with their .dat) on the installation's engine.
// Problems go to stdout, one per line, then their total; progress and files that cannot be
// opened go to stderr. Returns kCheckCannotOpen when any file could not be opened, else
// kCheckProblems when anything was found, else kCheckSound.
int CheckDataFiles(const std::vector<std::string>& paths);

// --- The store, read directly ---

// One record as stored: its position, its bytes and the key images stored beside it.
struct StoredRecord {
  int64_t position = 0;
  std::string data;
  std::vector<std::string> images;  // one per key, in key order
};

// One data file's store, read in one snapshot. The scans of one engine that are open at once
// share one snapshot, so that files changed together by one transaction are seen together.
class StoreScan {
 public:
  virtual ~StoreScan() = default;
  // Opens the file read-only and takes its snapshot; "" on success, else why it cannot be
  // opened.
  virtual std::string Open(const std::string& path) = 0;
  // After a failed Open: only because a writer holds the file for a moment, so that dropping
  // every open scan and trying again will do.
  virtual bool Busy() const { return false; }
  // The creation block the file was made from.
  virtual std::string Creation() = 0;
  // What the store's own check finds wrong, one text per problem.
  virtual std::vector<std::string> IntegrityProblems() = 0;
  virtual int64_t RecordCount() = 0;
  // Positions the scan before the first record in position order; false and *problem when the
  // records cannot be read.
  virtual bool Start(int keys, std::string* problem) = 0;
  // The next record; false at the end or, with *problem set, when the rest cannot be read.
  virtual bool Next(StoredRecord* record, std::string* problem) = 0;
};

// The SQLite files' store.
std::unique_ptr<StoreScan> MakeSqliteScan();
// The data server's store at the libpq `connection`; nullptr in a build without a server client.
std::unique_ptr<StoreScan> MakeServerScan(const std::string& connection);

}  // namespace kap::tool
