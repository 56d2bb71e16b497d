// Which record engine an installation uses: the SQLite files, or a PostgreSQL server named in
// Vora.ini, [Dades] Servidor (a libpq connection string). KAPSERVIDOR overrides it; "-" there
// means the local files even when Vora.ini names a server.
#include "data/data_files.h"
#include "platform/os.h"
#include "platform/record_manager.h"
#include "session/session.h"

namespace kap {

std::string ChosenRecordServer() {
  Os& os = GetOs();
  std::string value = os.GetEnv("KAPSERVIDOR");
  if (value.empty()) {
    std::string root = CurrentSession().RootDir;
    if (root.empty()) root = os.GetEnv("KAPROOT");
    value = ReadIniValue(root + "Vora.ini", "Dades", "Servidor");
  }
  size_t first = value.find_first_not_of(' ');
  value = first == std::string::npos ? "" : value.substr(first, value.find_last_not_of(' ') - first + 1);
  return value == "-" ? "" : value;
}

void ChooseRecordEngine() { UseRecordServer(ChosenRecordServer()); }

}  // namespace kap
