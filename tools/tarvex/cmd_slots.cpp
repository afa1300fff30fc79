#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddSlotCommands(CLI::App&, int&) {}

}  // namespace tarvex::cli
