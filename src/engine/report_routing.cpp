// Status reports for a send that waits for them: AT+CNMI set to route them
// to the terminal and put back afterwards, the wait for notices between
// commands, and reading (then deleting) a report the modem stored.
#include <string>

#include "engine/modem_status.h"
#include "engine/tarvex_impl.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// The longest one wait on an idle port lasts before the host's events get
// their turn again; long, since nothing else is due while waiting.
constexpr uint32_t kIdleWaitMs = 200;

}  // namespace

IndicationRouting Tarvex::RouteStatusReports(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  const uint32_t timeout = impl_->command_timeout_ms;
  IndicationRouting routing;
  const Answer found = impl_->Query(use, "AT+CNMI?", timeout);
  if (found.done()) routing.values = ParseCnmiValues(found.value).value_or(std::vector<int>{});
  const Answer offered = impl_->Query(use, "AT+CNMI=?", timeout);
  const auto offers = offered.done() ? ParseCnmiOffers(offered.value) : std::nullopt;
  const std::vector<std::set<int>> none;
  // +CDS first (nothing to read back or clean up), +CDSI where the modem
  // refuses it.
  Answer last = offered.done() ? offered : found;
  for (const int prefer : {1, 2}) {
    const auto choice = ChooseReportRouting(routing.values, offers.value_or(none), prefer);
    if (!choice || (prefer == 2 && choice->ds != 2)) break;
    last = impl_->Query(use, "AT+CNMI=" + choice->arguments, timeout);
    if (last.done()) {
      routing.ds = choice->ds;
      break;
    }
  }
  static_cast<Answer&>(routing) = last;
  if (routing.ds < 0 && last.done()) {
    // The offers leave no <ds> that reports: a refusal of our own making.
    routing.outcome = Answer::kRefused;
    routing.error = FinalCode{};
    routing.error.kind = FinalCode::kError;
    routing.error.line = "AT+CNMI=? offers no status-report routing";
  }
  return routing;
}

Answer Tarvex::RestoreRouting(int16_t ModemID, const IndicationRouting& found) {
  if (found.values.empty()) return Answer{Answer::kDone, "OK", {}};
  std::string arguments;
  for (size_t i = 0; i < found.values.size(); ++i) {
    arguments += (i ? "," : "") + std::to_string(found.values[i]);
  }
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->Query(use, "AT+CNMI=" + arguments, impl_->command_timeout_ms);
}

std::vector<Indication> Tarvex::AwaitIndications(int16_t ModemID, uint32_t timeout_ms) {
  if (!impl_->indications.empty()) return TakeIndications();
  Impl::SlotUse use(*impl_, ModemID);
  Deadline deadline(impl_->clock, timeout_ms, Deadline::kFixed);
  std::string buffer;
  while (impl_->indications.empty()) {
    if (impl_->pump != nullptr) impl_->pump->DoEvents();
    std::string fresh = use.port().Input();
    if (fresh.empty()) {
      const uint32_t remaining = deadline.Remaining();
      if (remaining == 0) break;
      if (use.port().WaitForInput(std::min(kIdleWaitMs, remaining))) fresh = use.port().Input();
    }
    buffer += fresh;
    const size_t whole = CompleteNotices(buffer);
    if (whole > 0) {
      impl_->Filter(ModemID, std::string_view(buffer).substr(0, whole), "");
      buffer.erase(0, whole);
    }
  }
  // A notice cut off by the deadline is read as far as it came.
  if (!buffer.empty()) impl_->Filter(ModemID, buffer, "");
  return TakeIndications();
}

Answer Tarvex::ReadStored(int16_t ModemID, const std::string& storage, int32_t index,
                          const std::function<bool(const std::string& pdu)>& remove) {
  CheckCommandArgument(storage, "the storage name");
  Impl::SlotUse use(*impl_, ModemID);
  const uint32_t timeout = impl_->command_timeout_ms;
  StorageUse reading;
  static_cast<Answer&>(reading) = impl_->Query(use, "AT+CPMS?", timeout);
  if (!reading.done()) return reading;
  ParseStorageUse(reading.value, reading);
  // CMGR and CMGD work on the first storage: make it the report's for the
  // while, and give the modem its own back on every path.
  const std::string own = reading.memories.empty() ? "" : reading.memories.front().name;
  const bool switched = own != storage;
  if (switched) {
    const Answer selected = impl_->Query(use, "AT+CPMS=\"" + storage + "\"", timeout);
    if (!selected.done()) return selected;
  }
  struct Restore {
    Tarvex::Impl& impl;
    Tarvex::Impl::SlotUse& use;
    std::string name;
    ~Restore() {
      if (name.empty()) return;
      try {
        impl.Query(use, "AT+CPMS=\"" + name + "\"", impl.command_timeout_ms);
      } catch (const Error&) {
        // The port went away; the error that did it reaches the caller.
      }
    }
  } restore{*impl_, use, switched ? own : ""};

  Answer read = impl_->ExchangeCommand(use, "AT+CMGR=" + std::to_string(index), timeout)
                    .Outcome([](const std::string& text) {
                      // "+CMGR: <stat>,[<alpha>],<length>" CR LF "<pdu>"
                      const size_t head = text.find("+CMGR:");
                      if (head == std::string::npos) return std::string();
                      const size_t line = text.find('\n', head);
                      if (line == std::string::npos) return std::string();
                      const size_t end = text.find_first_of("\r\n", line + 1);
                      return text.substr(line + 1, end == std::string::npos ? end : end - line - 1);
                    });
  if (read.done() && !read.value.empty() && remove && remove(read.value)) {
    const Answer deleted =
        impl_->Query(use, "AT+CMGD=" + std::to_string(index), impl_->command_timeout_ms);
    if (!deleted.done()) return deleted;
  }
  return read;
}

}  // namespace tarvex
