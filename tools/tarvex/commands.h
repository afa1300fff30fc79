// The tool's subcommands.  One table names them, with the summary `tarvex
// --help` lists and the function that gives each its options, help and
// action; RunTool builds one CLI11 app from the table and runs the command
// the user named.  A command's action stores its exit status.
#pragma once

#include <CLI/CLI.hpp>
#include <span>
#include <string>

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

struct Command {
  const char* name;
  const char* summary;
  // Adds the options, footer, nested commands and action to `command`.
  void (*define)(CLI::App& command, int& status);
};

// Every subcommand, in the order `tarvex --help` lists them.
std::span<const Command> Commands();

// The command name a mistyped `word` most likely meant (at most two edits
// away), or "" when none is that close.
std::string ClosestCommand(const std::string& word);

// The whole tool: parses the command line, runs one command, returns the exit
// status.
int RunTool(int argc, char** argv);

void DefineSlots(CLI::App& command, int& status);     // cmd_slots.cpp
void DefinePorts(CLI::App& command, int& status);     //
void DefineInfo(CLI::App& command, int& status);      // cmd_modem.cpp
void DefineUssd(CLI::App& command, int& status);      //
void DefineStorage(CLI::App& command, int& status);   //
void DefineDelete(CLI::App& command, int& status);    //
void DefineStatus(CLI::App& command, int& status);    // cmd_status.cpp
void DefinePin(CLI::App& command, int& status);       //
void DefineSend(CLI::App& command, int& status);      // cmd_messages.cpp
void DefineList(CLI::App& command, int& status);      //
void DefinePdu(CLI::App& command, int& status);       // cmd_pdu.cpp
void DefineSettings(CLI::App& command, int& status);  // cmd_settings.cpp
void DefineSlot(CLI::App& command, int& status);      //
void DefineDemo(CLI::App& command, int& status);      // cmd_demo.cpp
void DefineWatch(CLI::App& command, int& status);     // watch.cpp

}  // namespace tarvex::cli
