// The tool's table of subcommands and its dispatch: the app with the global
// help, the "did you mean" for a mistyped command, and the mapping of what
// escapes a command to an exit status.  The commands' work lives in the
// command files and the engine.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "tarvex/error.h"

namespace tarvex::cli {
namespace {

constexpr Command kCommands[] = {
    {"slots", "List the modem slots: port, the device it resolves to, baud rate and name",
     DefineSlots},
    {"ports", "List the port-number map (COMn -> device), or change it with map / unmap",
     DefinePorts},
    {"info", "Show the modem's maker, model, IMEI, storage, name", DefineInfo},
    {"ussd", "Send a USSD request (balance, menus) and print the answer", DefineUssd},
    {"storage", "Show the message storage, or select one (SM: SIM, ME: phone)", DefineStorage},
    {"delete", "Delete the stored message with this index", DefineDelete},
    {"status", "Show the SIM, signal, registration, operator, service centre and storage use",
     DefineStatus},
    {"pin", "Enter the SIM PIN (asked for on the terminal)", DefinePin},
    {"send", "Send a text message (long texts go in parts)", DefineSend},
    {"list", "List (and decode) the messages stored in the modem", DefineList},
    {"pdu", "Encode a message to SMS-SUBMIT PDUs or decode listed messages (no modem needed)",
     DefinePdu},
    {"settings", "Open the communication settings dialog in the terminal (slots 1-4)",
     DefineSettings},
    {"slot", "Set or remove a modem slot's port, baud rate and name", DefineSlot},
    {"demo", "Tour every command against the built-in modem simulator (touches nothing)",
     DefineDemo},
    {"watch",
     "Receive: hand every incoming message over once (stdout, --json, --exec), then delete it",
     DefineWatch},
};

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::span<const Command> Commands() { return kCommands; }

std::string ClosestCommand(const std::string& word) {
  std::string best;
  size_t best_distance = 3;
  for (const Command& command : kCommands) {
    const size_t d = EditDistance(word, command.name);
    if (d < best_distance) best_distance = d, best = command.name;
  }
  return best;
}

namespace {

// "did you mean" for a mistyped first word.
void SuggestCommand(const std::string& word) {
  const std::string best = ClosestCommand(word);
  std::cerr << "tarvex: unknown command '" << word << "'";
  if (!best.empty()) std::cerr << "; did you mean '" << best << "'?";
  std::cerr << "\nRun 'tarvex --help' for the list of commands.\n";
}

}  // namespace

int RunTool(int argc, char** argv) {
  CLI::App app{
      "tarvex - send and receive SMS through GSM modems (AT commands, PDU mode).\n"
      "A modem slot (1-4) names a serial port and baud rate kept in the settings store."};
  app.name("tarvex");
  app.set_version_flag("--version", "tarvex " TARVEX_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Examples:\n"
      "  tarvex demo                                  the whole tour against the simulator\n"
      "  tarvex slot set 1 --port 3 --baud 115200     slot 1 is COM3 (see 'tarvex ports')\n"
      "  tarvex info -m 1                             maker, model, IMEI, storage\n"
      "  tarvex send -m 1 +31612345678 'See you at 8'\n"
      "  tarvex list -m 1 --join --delete             read, join and delete new messages\n"
      "  tarvex ussd -m 1 '*100#'                     ask for the balance\n"
      "  tarvex watch -m 1 --json                     receive: each new message once, then delete\n"
      "  tarvex pdu decode --json 0791...             decode a PDU without a modem\n"
      "\n"
      "Exit status: 0 success; 1 refused (the modem's ERROR, +CMS/+CME ERROR with its\n"
      "meaning, or the network's USSD refusal) or an entry did not decode; 2 bad command\n"
      "line or text that is not UTF-8; 3 the slot could not be opened (or its SIM is\n"
      "locked: tarvex pin); 4 the modem did not answer in time (or --wait-report ran\n"
      "out); 5 any other error (a bad argument, the device went away);\n"
      "130 interrupted (Ctrl-C).\n"
      "Settings store: /var/lib/tarvex/registry.db (TARVEX_STATE_DIR moves it).\n"
      "Run 'tarvex COMMAND --help' for a command's options and an example.");

  int status = kExitOk;
  for (const Command& command : kCommands) {
    command.define(*app.add_subcommand(command.name, command.summary), status);
  }

  if (argc >= 2 && argv[1][0] != '-') {
    const std::string first = argv[1];
    const auto subs = app.get_subcommands([&](const CLI::App* s) { return s->check_name(first); });
    if (subs.empty()) {
      SuggestCommand(first);
      return kExitUsage;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  } catch (const Error& e) {
    std::cerr << "tarvex: " << e.what() << " (error " << e.number() << ")\n";
    return e.number() == kInterrupted ? kExitInterrupted : kExitError;
  } catch (const std::exception& e) {
    std::cerr << "tarvex: " << e.what() << "\n";
    return kExitError;
  }
  std::fflush(stdout);
  return status;
}

}  // namespace tarvex::cli
