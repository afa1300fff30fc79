#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddModemCommands(CLI::App&, int&) {}

}  // namespace tarvex::cli
