// Status reports for `tarvex watch`: the codec's decoder turned into the
// object the watcher prints and hands to --exec.
#include "codec/status_report.h"
#include "entry_json.h"
#include "tarvex/error.h"
#include "watch.h"

namespace tarvex::cli {

std::optional<DecodedReport> DecodeReport(const std::string& pdu, std::string& error) {
  StatusReport r;
  try {
    r = DecodeStatusReport(pdu);
  } catch (const Error& e) {
    error = e.what();
    return std::nullopt;
  }
  DecodedReport d;
  d.fields = {r.message_reference, r.recipient, r.status, r.service_centre_time, r.discharge_time};
  d.json = {{"MessageType", "SMS-STATUS-REPORT"},
            {"MessageReference", r.message_reference},
            {"Recipient", r.recipient},
            {"ServiceCentreTime", FormatMessageTime(r.service_centre_time)},
            {"DischargeTime", FormatMessageTime(r.discharge_time)},
            {"Status", r.status},
            {"Outcome", r.meaning.outcome_text},
            {"Reason", r.meaning.reason}};
  return d;
}

}  // namespace tarvex::cli
