#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddMessageCommands(CLI::App&, int&) {}

}  // namespace tarvex::cli
