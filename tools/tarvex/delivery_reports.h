// Waiting for the status reports of a send (`tarvex send --wait-report`):
// the modem is asked to route reports to the tool before the send, and given
// its own AT+CNMI back afterwards; each report that arrives (+CDS, or +CDSI
// and then the stored report, read and deleted) is decoded, matched to a
// part by message reference and recipient, and printed.  Reports of other
// sends stay where the modem keeps them.  Nothing is written to disk.
//
// Ownership: borrows the session's engine for its life; one tool thread.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/engine.h"

namespace tarvex::cli {

class DeliveryReports {
 public:
  // Raises CommandFailure (exit 1, or 4 when the modem is silent) when the
  // modem will not route reports; nothing has been sent then.
  DeliveryReports(Tarvex& engine, int16_t slot);
  // Puts the modem's AT+CNMI back (a port that went away is left alone).
  ~DeliveryReports();
  DeliveryReports(const DeliveryReports&) = delete;
  DeliveryReports& operator=(const DeliveryReports&) = delete;

  // Waits up to `seconds` for a final report of every part sent and prints
  // each report.  0 every part delivered; 1 one failed (or had no
  // reference to match); 4 the wait ran out first.
  int Await(const SendReport& sent, const std::string& number, int seconds, bool json);

 private:
  Tarvex& engine_;
  int16_t slot_;
  IndicationRouting found_;
};

}  // namespace tarvex::cli
