#include "delivery_reports.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "codec/status_report.h"
#include "engine/modem_status.h"
#include "entry_json.h"
#include "modem_session.h"
#include "tarvex/error.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string Digits(const std::string& number) {
  std::string digits;
  for (const char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  return digits;
}

// The report's recipient is the number sent to, in whatever form the centre
// writes it ("+31612345678", "31612345678", "0612345678"): the last nine
// digits (a national number without its trunk prefix) must agree.
bool SameRecipient(const std::string& a, const std::string& b) {
  const std::string x = Digits(a), y = Digits(b);
  if (x.empty() || y.empty()) return true;
  const size_t n = std::min({x.size(), y.size(), size_t{9}});
  return x.substr(x.size() - n) == y.substr(y.size() - n);
}

std::string Stamp(const MessageTimeValue& t) {
  std::string text = FormatMessageTime(t);
  text[10] = ' ';
  return text + " " + FormatTimeZone(t.zone_quarters);
}

struct Awaited {
  const PartReport* part;
  std::optional<StatusReport> last;  // the latest report matched
  bool final() const {
    return last.has_value() && last->meaning.outcome != ReportOutcome::kPending;
  }
};

}  // namespace

DeliveryReports::DeliveryReports(Tarvex& engine, int16_t slot) : engine_(engine), slot_(slot) {
  found_ = engine_.RouteStatusReports(slot_);
  if (found_.ds < 0) {
    throw CommandFailure(StatusFor(found_.outcome) == kExitTimeout ? kExitTimeout : kExitFailure,
                         "the modem will not pass status reports on (AT+CNMI): " + Why(found_) +
                             "; nothing was sent (send without --wait-report, or let "
                             "tarvex watch collect the reports)");
  }
}

DeliveryReports::~DeliveryReports() {
  try {
    engine_.RestoreRouting(slot_, found_);
  } catch (const std::exception&) {
    // The port went away or Ctrl-C: the error that did it is reported.
  }
}

int DeliveryReports::Await(const SendReport& sent, const std::string& number, int seconds,
                           bool json) {
  std::vector<Awaited> parts;
  for (const PartReport& p : sent.parts) parts.push_back(Awaited{&p, std::nullopt});
  const int total = sent.total;
  auto caption = [&](const PartReport& p) {
    std::string text = total > 1 ? "part " + std::to_string(p.part) + " of " + std::to_string(total)
                                 : "the message";
    return text + " (reference " + std::to_string(p.reference) + ")";
  };
  for (const Awaited& a : parts) {
    if (a.part->reference < 0) {
      std::cerr << "tarvex: the modem gave no message reference for " << caption(*a.part)
                << "; its report cannot be matched\n";
    }
  }
  if (!json) {
    std::cerr << "tarvex: waiting up to " << seconds << " s for delivery reports\n";
  }

  // A report of this send: taken, printed, and (when stored) deleted.
  auto take = [&](const std::string& pdu) {
    StatusReport report;
    try {
      report = DecodeStatusReport(pdu);
    } catch (const Error& e) {
      std::cerr << "tarvex: a status report could not be decoded (" << e.what() << "): " << pdu
                << "\n";
      return false;
    }
    auto match = std::find_if(parts.begin(), parts.end(), [&](const Awaited& a) {
      return !a.final() && a.part->reference == report.message_reference &&
             SameRecipient(report.recipient, number);
    });
    if (match == parts.end()) return false;  // another send's: left for whoever waits for it
    match->last = std::move(report);
    const StatusReport& r = *match->last;
    if (json) {
      Json j = {{"MessageType", "SMS-STATUS-REPORT"},
                {"PhoneNumber", r.recipient},
                {"Reference", r.message_reference},
                {"PartNumber", match->part->part},
                {"MessageCount", total},
                {"Status", r.status},
                {"Outcome", r.meaning.outcome_text},
                {"Reason", r.meaning.reason},
                {"ServiceCentreTime", FormatMessageTime(r.service_centre_time)},
                {"DischargeTime", FormatMessageTime(r.discharge_time)},
                {"TimeZone", FormatTimeZone(r.discharge_time.zone_quarters)}};
      std::cout << JsonLine(j) << "\n" << std::flush;
    } else {
      std::cout << "Report for " << caption(*match->part) << ": " << r.meaning.outcome_text;
      if (r.meaning.outcome != ReportOutcome::kDelivered)
        std::cout << " (" << r.meaning.reason << ")";
      std::cout << ", " << Stamp(r.discharge_time) << "\n" << std::flush;
    }
    return true;
  };

  using SteadyClock = std::chrono::steady_clock;
  const auto deadline = SteadyClock::now() + std::chrono::seconds(seconds);
  auto settled = [&] {
    return std::all_of(parts.begin(), parts.end(),
                       [](const Awaited& a) { return a.final() || a.part->reference < 0; });
  };
  while (!settled()) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    if (left <= 0) break;
    for (const Indication& i : engine_.AwaitIndications(slot_, static_cast<uint32_t>(left))) {
      const auto notice = ParseReportNotice(i.text);
      if (!notice) {
        std::cerr << "tarvex: note: " << i.text.substr(0, i.text.find('\r')) << " on slot "
                  << i.ModemID << "\n";
      } else if (!notice->pdu.empty()) {
        take(notice->pdu);
      } else {
        const Answer read = engine_.ReadStored(slot_, notice->storage, notice->index, take);
        if (!read.done()) {
          std::cerr << "tarvex: the report stored at " << notice->storage << " " << notice->index
                    << " could not be read: " << Why(read) << "\n";
        }
      }
    }
  }

  int status = kExitOk;
  Json summary = Json::array();
  for (const Awaited& a : parts) {
    const char* outcome = a.last ? a.last->meaning.outcome_text : "no report";
    summary.push_back(
        {{"PartNumber", a.part->part},
         {"Reference", a.part->reference >= 0 ? Json(a.part->reference) : Json(nullptr)},
         {"Outcome", a.final() ? outcome
                     : a.last  ? "still trying"
                               : "no report"}});
    if (a.final() && a.last->meaning.outcome == ReportOutcome::kDelivered) continue;
    if (a.final() || a.part->reference < 0) {
      status = kExitFailure;
      std::cerr << "tarvex: " << caption(*a.part) << " was not delivered: "
                << (a.final() ? std::string(outcome) + " (" + a.last->meaning.reason + ")"
                              : "no reference to match its report")
                << "\n";
    } else {
      if (status == kExitOk) status = kExitTimeout;
      std::cerr << "tarvex: no final report for " << caption(*a.part) << " within " << seconds
                << " s"
                << (a.last ? " (the centre is still trying: " + a.last->meaning.reason + ")" : "")
                << "\n";
    }
  }
  if (json) {
    const char* result = status == kExitOk        ? "DELIVERED"
                         : status == kExitFailure ? "FAILED"
                                                  : "TIMEOUT";
    std::cout << JsonLine(Json{{"Result", result}, {"PhoneNumber", number}, {"Parts", summary}})
              << "\n";
  } else if (status == kExitOk) {
    std::cout << (total > 1 ? "All " + std::to_string(total) + " parts delivered.\n"
                            : std::string("Delivered.\n"));
  }
  return status;
}

}  // namespace tarvex::cli
