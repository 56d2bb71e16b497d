// A build without the data server's client reads no server files.
#include "tools/data_check.h"

namespace kap::tool {

std::unique_ptr<StoreScan> MakeServerScan(const std::string&) { return nullptr; }

}  // namespace kap::tool
