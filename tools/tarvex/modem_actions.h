// The work of the modem and message commands on an opened session, apart
// from their command-line parsing, so that `tarvex demo` tours the very same
// code the user later runs by hand.  Each returns the command's exit status
// and prints to stdout (results) and stderr (failures, progress).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "modem_session.h"

namespace tarvex::cli {

// {"Kind": "CMS" | "CME" | "ERROR" | "TIMEOUT", "Code": n or null, "Text":
// the meaning}: a failed answer in --json output.
nlohmann::ordered_json ModemErrorJson(const Answer& answer);

int ShowInfo(ModemSession& session, int16_t slot, bool json);
int RunUssd(ModemSession& session, int16_t slot, const std::string& code, int32_t timeout_ms,
            bool json);
int ShowOrSetStorage(ModemSession& session, int16_t slot, const std::string& name, bool json);
int DeleteMessage(ModemSession& session, int16_t slot, int32_t index, bool json);

struct SendOptions {
  bool single = false;  // SendMessage: one message, cut to fit
  bool json = false;
  bool progress = true;    // the bar, when stderr is a terminal
  bool report = false;     // TP-SRR: ask for a status report per part
  int wait_report_s = -1;  // >= 0: wait that long for the reports (implies report)
};
int SendText(ModemSession& session, int16_t slot, const std::string& number,
             const std::string& text_utf8, const SendOptions& options);

struct ListOptions {
  int32_t inbox = 0;  // the AT+CMGL status: 0 unread, 1 read, 4 all
  bool json = false;
  bool join = false;
  bool remove = false;  // --delete
};
int ListMessages(ModemSession& session, int16_t slot, const ListOptions& options);

}  // namespace tarvex::cli
