// The tool's command groups.  main() builds one CLI11 app and lets each group
// add its subcommands; a subcommand's callback stores its exit status.
#pragma once

#include <CLI/CLI.hpp>

namespace tarvex::cli {

// Exit statuses, the same for every command (listed in `tarvex --help`).
enum ExitStatus : int {
  kExitOk = 0,
  kExitFailure = 1,  // refused (modem or network), or an entry failed to decode
  kExitUsage = 2,    // bad command line, or a text that is not UTF-8
  kExitNoModem = 3,  // the slot could not be opened or initialised
  kExitTimeout = 4,  // the modem did not answer in time
  kExitError = 5,    // any other error (bad argument, port error, store)
  kExitInterrupted = 130,
};

void AddPduCommands(CLI::App& app, int& status);
void AddSlotCommands(CLI::App& app, int& status);
void AddModemCommands(CLI::App& app, int& status);
void AddMessageCommands(CLI::App& app, int& status);
void AddDemoCommand(CLI::App& app, int& status);
void AddSettingsCommand(CLI::App& app, int& status);
void AddStatusCommands(CLI::App& app, int& status);  // status, pin
void AddWatchCommand(CLI::App& app, int& status);

}  // namespace tarvex::cli
