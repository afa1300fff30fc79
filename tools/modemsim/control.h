// The simulator's control lines: what happens to the modem from outside, as
// one scripted format for the --script file read at start and for the lines
// written to the --control pipe while a client is connected.
//
//   deliver from=+31612345678 text="See you at 8"        one message arrives
//   deliver from=+4915112345678 text="..." order=3,1 gap=2000
//                                    a long text's parts 3 then 1, 2 s apart
//   deliver pdu=0791...  storage=ME after=500             a PDU as it stands
//   indicate index=7                       a +CMTI for whatever is (not) there
//   set signal=99 registration=searching indications=off  change the modem
//   vanish back=3000                       unplugged, and back 3 s later
//
// A line is a verb and words "key=value" (a value in double quotes may hold
// blanks, \" and \\) or bare flags ("ucs2").  Blank lines and lines starting
// with '#' are nothing.  Pure parsing here; Modem::Control applies a command
// and checks its values.  No state, any thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::modemsim {

struct ControlCommand {
  std::string verb;                         // lower case
  std::map<std::string, std::string> args;  // lower-case keys; "" for a flag
  int line = 0;                             // in a script, for messages

  bool Has(const std::string& key) const { return args.count(key) != 0; }
  std::string Get(const std::string& key, const std::string& otherwise = "") const;
};

// nullopt for a blank or comment line.  Throws std::runtime_error saying what
// is wrong (an unterminated quotation, a word without a verb).
std::optional<ControlCommand> ParseControlLine(std::string_view line);

// Every command of a script, each with its line number; the first bad line
// throws std::runtime_error naming it.
std::vector<ControlCommand> ParseControlScript(std::string_view text);

// The words shared by control lines and the command line:
// "delivered,failed,pending" or TP-ST values ("0x46", "70") -> TP-ST values;
std::optional<std::vector<int>> ParseStatusList(std::string_view text);
// home, roaming, searching, denied, none, unknown -> +CREG <stat>.
std::optional<int> ParseRegistration(std::string_view text);

}  // namespace tarvex::modemsim
