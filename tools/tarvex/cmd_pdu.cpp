#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddPduCommands(CLI::App&, int&) {}

}  // namespace tarvex::cli
