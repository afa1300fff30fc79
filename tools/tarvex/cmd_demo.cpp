#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddDemoCommand(CLI::App&, int&) {}

}  // namespace tarvex::cli
