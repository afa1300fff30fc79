#include "commands.h"

namespace tarvex::cli {

// Placeholder until the group lands.
void AddSettingsCommand(CLI::App&, int&) {}

}  // namespace tarvex::cli
