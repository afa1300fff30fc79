// The settings store as the tool's commands open it.  A store that cannot be
// read (no permission, a damaged file, a change cut off) stops the command
// with exit status 5 and the store's own explanation, before its slots could
// be shown as "not configured" or anything written over it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/posix/posix_platform.h"

namespace tarvex::cli {

// main() and RunModemCommand print it as "tarvex: <message>" and exit with 5.
class StoreFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Raises StoreFailure when the machine-wide values cannot be read.
void CheckStore(posix::SqliteRegistry& store);
// The default store (TARVEX_STATE_DIR moves it), checked.
std::unique_ptr<posix::SqliteRegistry> OpenStore();
// What to tell the user when the machine-wide store did not take a write.
std::string WriteFailure(const posix::SqliteRegistry& store);

}  // namespace tarvex::cli
