// The simulator's reader of AT command lines (ITU-T V.250 5.2-5.4).
//
// A command line is what follows "AT" up to the CR.  It holds basic commands
// written one after another ("E0V1&C1", "S7=45") and extended commands with a
// prefix character ("+CMGF=0"), separated by ";".  Blanks outside quotation
// marks are ignored, names compare case-insensitively, parameter text keeps its
// quotation marks so that each command decides how to read it.  Pure functions,
// no state: any thread may call them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::modemsim {

enum class CommandForm {
  kAction,  // "+CGMI", "E0", "Z"
  kSet,     // "+CMGF=0"
  kRead,    // "+CPMS?", "S7?"
  kTest,    // "+CMGL=?"
};

struct AtCommand {
  // Upper case, with its prefix: "+CMGS", "^SYSINFO", "E", "&F", "S7", "D".
  std::string name;
  CommandForm form = CommandForm::kAction;
  // Set form: the text after "=" with blanks outside quotes removed.  Basic
  // commands: their number as written ("0" for E0, "" for ATZ).
  std::string args;
  bool basic = false;

  // The name the fault options match: "CMGS" for +CMGS, "E0" for ATE0, "Z" for
  // ATZ, "S7" for ATS7=45.
  std::string FaultName() const;
  // True when `pattern` (case-insensitive, "AT" and "+" in front optional)
  // names this command: "CMGS", "+cmgs", "ATE0", or "E" for any ATE<n>.
  bool Matches(std::string_view pattern) const;
};

// The commands of one line body (the text after "AT"), in order.  nullopt when
// the body cannot be read: an unterminated quotation, a character no command
// starts with, an extended command not followed by ";" or the end.
std::optional<std::vector<AtCommand>> ParseCommandLine(std::string_view body);

// A parameter list cut at the commas outside quotation marks ("1,\"a,b\",15"
// -> 1 | "a,b" | 15).  An empty list gives no parameters; ",5" gives two.
std::vector<std::string> SplitArgs(std::string_view args);
// The text of a parameter without its enclosing quotation marks.
std::string Unquote(std::string_view arg);
// A decimal parameter; nullopt for anything but optional blanks and digits.
std::optional<int> ParseInt(std::string_view arg);
std::string ToUpper(std::string_view text);

}  // namespace tarvex::modemsim
