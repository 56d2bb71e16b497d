// Which record engine an installation uses: the SQLite files, or a PostgreSQL server named in
// Vora.ini, [Dades] Servidor (a libpq connection string). KAPSERVIDOR overrides it; "-" there
// means the local files even when Vora.ini names a server. [Dades] Escriptura says how safe an
// acknowledged commit is.
#include "data/data_files.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "platform/text.h"
#include "session/session.h"

namespace kap {

namespace {

std::string DataSetting(const char* key) {
  std::string root = CurrentSession().RootDir;
  if (root.empty()) root = GetOs().GetEnv("KAPROOT");
  return ReadIniValue(root + "Vora.ini", "Dades", key);
}

}  // namespace

std::string ChosenRecordServer() {
  std::string value = GetOs().GetEnv("KAPSERVIDOR");
  if (value.empty()) value = DataSetting("Servidor");
  size_t first = value.find_first_not_of(' ');
  value = first == std::string::npos ? ""
                                     : value.substr(first, value.find_last_not_of(' ') - first + 1);
  return value == "-" ? "" : value;
}

void ChooseRecordEngine() {
  // [Dades] Escriptura=RAPIDA trades the survival of the last commits on a power cut for speed.
  SetDurableCommits(UpperAscii(TrimSpaces(DataSetting("Escriptura"))) != "RAPIDA");
  UseRecordServer(ChosenRecordServer());
}

}  // namespace kap
