#include "store.h"

namespace tarvex::cli {

void CheckStore(posix::SqliteRegistry& store) {
  if (std::string problem = store.ReadProblem(kRegLocalMachine); !problem.empty()) {
    throw StoreFailure(problem);
  }
}

std::unique_ptr<posix::SqliteRegistry> OpenStore() {
  auto store = posix::SqliteRegistry::OpenDefault();
  CheckStore(*store);
  return store;
}

std::string WriteFailure(const posix::SqliteRegistry& store) {
  std::string why = store.WriteProblem(kRegLocalMachine);
  if (why.empty()) why = "cannot write the settings store " + store.machine_db();
  if (why.ends_with("permission denied")) {
    why += " (run as a user who may write it, or set TARVEX_STATE_DIR to a store of your own)";
  }
  return why;
}

}  // namespace tarvex::cli
