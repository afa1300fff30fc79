#include "modemsim/modem.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <set>
#include <stdexcept>

#include "codec/deliver_builder.h"
#include "codec/split.h"
#include "codec/status_report.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex::modemsim {
namespace {

constexpr char kCtrlZ = 26;
constexpr char kEsc = 27;
// V.250 asks for at least 40 characters; real modems take a few hundred.
constexpr size_t kMaxLine = 2048;
// The longest SMS-SUBMIT is 12 octets of service centre plus 164 of TPDU.
constexpr size_t kMaxPduChars = 2 * 180;
constexpr int kMaxTpdu = 164;

// 3GPP TS 27.007 9.2 and TS 27.005 3.2.5, for AT+CMEE=2.
const char* VerboseText(bool cms, int code) {
  if (cms) {
    switch (code) {
      case 300:
        return "ME failure";
      case 302:
        return "operation not allowed";
      case 303:
        return "operation not supported";
      case 304:
        return "invalid PDU mode parameter";
      case 305:
        return "invalid text mode parameter";
      case 321:
        return "invalid memory index";
      case 322:
        return "memory full";
      case 311:
        return "SIM PIN required";
      case 313:
        return "SIM failure";
      case 314:
        return "SIM busy";
      case 316:
        return "SIM PUK required";
      case 330:
        return "SMSC address unknown";
      default:
        return "unknown error";
    }
  }
  switch (code) {
    case 0:
      return "phone failure";
    case 3:
      return "operation not allowed";
    case 4:
      return "operation not supported";
    case 10:
      return "SIM not inserted";
    case 11:
      return "SIM PIN required";
    case 12:
      return "SIM PUK required";
    case 13:
      return "SIM failure";
    case 14:
      return "SIM busy";
    case 16:
      return "incorrect password";
    case 21:
      return "invalid index";
    default:
      return "unknown";
  }
}

std::string Digits(std::string_view number) {
  std::string out;
  for (char c : number) {
    if (c >= '0' && c <= '9') out += c;
  }
  return out;
}

std::string Quote(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string Ucs2Hex(std::string_view utf8) {
  std::string out;
  char buf[5];
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(unit));
    out += buf;
  }
  return out;
}

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// "(0-3),(0,2)" -> {0,1,2,3}, {0,2}: the values a +CNMI=? answer offers.
std::vector<std::set<int>> ParseModes(const std::string& text) {
  std::vector<std::string> groups(1);
  int depth = 0;
  for (char c : text) {
    depth += c == '(' ? 1 : c == ')' ? -1 : 0;
    if (c == ',' && depth == 0) {
      groups.emplace_back();
    } else if (c != '(' && c != ')') {
      groups.back() += c;
    }
  }
  std::vector<std::set<int>> out;
  for (const std::string& inner : groups) {
    std::set<int> values;
    size_t pos = 0;
    while (pos < inner.size()) {
      size_t end = inner.find(',', pos);
      if (end == std::string::npos) end = inner.size();
      std::string item = inner.substr(pos, end - pos);
      size_t dash = item.find('-');
      std::optional<int> low = ParseInt(item.substr(0, dash));
      std::optional<int> high = dash == std::string::npos ? low : ParseInt(item.substr(dash + 1));
      for (int v = low.value_or(0); low && high && v <= *high; ++v) values.insert(v);
      pos = end + 1;
    }
    out.push_back(std::move(values));
  }
  return out;
}

int64_t Millis(const ControlCommand& c, const std::string& key, int64_t otherwise) {
  if (!c.Has(key)) return otherwise;
  std::optional<int> v = ParseInt(c.Get(key));
  if (!v) throw std::runtime_error(key + "= wants milliseconds, not \"" + c.Get(key) + "\"");
  return *v;
}

bool OnOff(const std::string& key, const std::string& value) {
  if (value == "on" || value == "1" || value == "yes") return true;
  if (value == "off" || value == "0" || value == "no") return false;
  throw std::runtime_error(key + "= wants on or off, not \"" + value + "\"");
}

}  // namespace

Modem::Modem(ModemOptions options)
    : options_(std::move(options)),
      sim_("SM", options_.sim_total),
      phone_("ME", options_.phone_total),
      reports_("SR", options_.report_total) {
  output_.SetChunking(options_.faults.chunk, options_.faults.chunk_gap_ms);
  sim_state_ = options_.sim.pin.empty() ? SimState::kReady : SimState::kPin;
  sim_busy_left_ = options_.sim.busy_commands;
}

MessageStore* Modem::store(std::string_view name) {
  std::string upper = ToUpper(name);
  if (upper == "SM") return &sim_;
  if (upper == "ME") return &phone_;
  if (upper == "SR") return &reports_;
  return nullptr;
}

MessageStore& Modem::Mem(int which) { return *store(mem_[which]); }

int Modem::Preload(std::string_view storage, StoredMessage message) {
  MessageStore* target = store(storage);
  if (target == nullptr) target = &sim_;
  if (target->used() >= target->total()) target->SetTotal(target->used() + 1);
  return *target->Add(std::move(message));
}

// ---------------------------------------------------------------------------
// What happens from outside

namespace {

StampFields Stamp(const WallTime& t) {
  return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.zone_quarters};
}

// A delivered message carries the moment it arrived as its centre time stamp.
void StampArrival(DeliverFields& d, const WallTime& t) {
  d.year = t.year;
  d.month = t.month;
  d.day = t.day;
  d.hour = t.hour;
  d.minute = t.minute;
  d.second = t.second;
  d.zone_quarters = t.zone_quarters;
}

// A text cut for UCS2 parts of 67 units (70 alone), never inside a pair.
std::vector<std::u16string> SplitUcs2(const std::u16string& text) {
  if (text.size() <= 70) return {text};
  std::vector<std::u16string> out;
  for (size_t pos = 0; pos < text.size();) {
    size_t take = std::min<size_t>(67, text.size() - pos);
    if (pos + take < text.size() && text[pos + take - 1] >= 0xD800 &&
        text[pos + take - 1] <= 0xDBFF) {
      --take;
    }
    out.push_back(text.substr(pos, take));
    pos += take;
  }
  return out;
}

}  // namespace

WallTime Modem::Now() const { return options_.wall_clock ? options_.wall_clock() : WallTime{}; }

PollResult Modem::Poll(int64_t now) {
  RunDue(now);
  PollResult r = output_.Poll(now);
  if (r.hang_up) r.reopen_after_ms = reopen_after_ms_;
  return r;
}

std::optional<int64_t> Modem::NextWake() const {
  std::optional<int64_t> next = output_.NextDue();
  // A device that is gone receives nothing; what is due waits for it.
  if (!hanging_up_ && !events_.empty() && (!next || events_.begin()->first < *next)) {
    next = events_.begin()->first;
  }
  return next;
}

void Modem::RunDue(int64_t now) {
  while (!hanging_up_ && !events_.empty() && events_.begin()->first <= now) {
    Event e = std::move(events_.begin()->second);
    events_.erase(events_.begin());
    switch (e.kind) {
      case Event::kArrive:
        Arrive(e, now);
        break;
      case Event::kReport:
        ArriveReport(e, now);
        break;
      case Event::kIndicate:
        Indicate("+CMTI: " + Quote(e.storage.empty() ? mem_[2] : e.storage) + "," +
                     std::to_string(e.index),
                 now);
        break;
      case Event::kSet:
        ApplySet(e.command, true);  // checked when it was scheduled
        break;
      case Event::kVanish:
        hanging_up_ = true;
        reopen_after_ms_ = e.back_ms;
        output_.PushHangUp(now);
        break;
    }
  }
}

void Modem::Arrive(const Event& e, int64_t now) {
  const Faults& faults = options_.faults;
  // <mt> 2 routes the message to the terminal instead of storing it: a client
  // that is not listening loses it, as with a real modem.
  if (settings_.cnmi[1] == 2 && !faults.no_indications) {
    Indicate("+CMT: ," + std::to_string(TpduLength(e.pdu)) + "\r\n" + e.pdu, now);
    return;
  }
  MessageStore* target = store(e.storage.empty() ? mem_[2] : e.storage);
  std::optional<int> index = target->Add({kRecUnread, e.pdu});
  if (!index) {
    // The network keeps it and tries again once the modem has room.
    held_.push_back(e);
    if (faults.full_error && !faults.silent) output_.Push(now, "\r\n+CMS ERROR: 322\r\n");
    return;
  }
  if (options_.notify || settings_.cnmi[1] == 1 || settings_.cnmi[1] == 3) {
    Indicate("+CMTI: " + Quote(target->name()) + "," + std::to_string(*index), now);
  }
}

void Modem::ArriveReport(const Event& e, int64_t now) {
  StatusReportFields f;
  f.service_centre = options_.identity.service_centre;
  f.message_reference = e.index;
  f.recipient = e.recipient;
  f.service_centre_time = Stamp(e.submitted);
  f.discharge_time = Stamp(Now());
  f.status = static_cast<uint8_t>(e.status);
  std::string pdu;
  try {
    pdu = BuildStatusReportPdu(f);
  } catch (const std::exception&) {
    return;  // an alphanumeric recipient: no report the simulator can write
  }
  if (settings_.cnmi[3] == 1 && !options_.faults.no_indications) {
    Indicate("+CDS: " + std::to_string(TpduLength(pdu)) + "\r\n" + pdu, now);
    return;
  }
  MessageStore* target = store(options_.reports.storage);
  std::optional<int> index =
      target != nullptr ? target->Add({kRecUnread, pdu}) : std::optional<int>();
  if (!index) return;  // no room for reports: this one is lost
  if (settings_.cnmi[3] == 2) {
    Indicate("+CDSI: " + Quote(target->name()) + "," + std::to_string(*index), now);
  }
}

void Modem::Indicate(const std::string& line, int64_t now) {
  if (options_.faults.no_indications || options_.faults.silent) return;
  const int mode = settings_.cnmi[0];
  // TS 27.005 3.4.1 <mode>: 0 keeps them in the modem; 1 drops them while
  // the link is taken (here: a PDU being typed), 2 keeps them until it is
  // free; 3 sends them regardless.
  if (mode == 0 || (mode == 2 && in_pdu_)) {
    constexpr size_t kBuffer = 32;  // the oldest goes when the buffer is full
    if (urcs_.size() == kBuffer) urcs_.erase(urcs_.begin());
    urcs_.push_back(line);
    return;
  }
  if (mode == 1 && in_pdu_) return;
  output_.Push(now, "\r\n" + line + "\r\n");
}

void Modem::FlushUrcs(int64_t at) {
  for (const std::string& line : urcs_) output_.Push(at, "\r\n" + line + "\r\n");
  urcs_.clear();
}

void Modem::Control(const ControlCommand& c, int64_t now) {
  const int64_t at = now + Millis(c, "after", 0);
  if (c.verb == "deliver") {
    ScheduleDeliver(c, at);
  } else if (c.verb == "indicate") {
    Event e;
    e.kind = Event::kIndicate;
    e.storage = ToUpper(c.Get("storage"));
    std::optional<int> index = ParseInt(c.Get("index"));
    if (!index) throw std::runtime_error("indicate wants index=N");
    e.index = *index;
    events_.emplace(at, e);
  } else if (c.verb == "vanish") {
    Event e;
    e.kind = Event::kVanish;
    e.back_ms = Millis(c, "back", -1);
    events_.emplace(at, e);
  } else if (c.verb == "set") {
    ApplySet(c, false);  // all or nothing: check every key first
    if (at > now) {
      Event e;
      e.kind = Event::kSet;
      e.command = c;
      events_.emplace(at, e);
    } else {
      ApplySet(c, true);
    }
  } else {
    throw std::runtime_error("unknown verb \"" + c.verb + "\" (deliver, indicate, set, vanish)");
  }
}

void Modem::ApplySet(const ControlCommand& c, bool apply) {
  auto number = [&](const std::string& key, int low, int high) {
    std::optional<int> v = ParseInt(c.Get(key));
    if (!v || *v < low || *v > high) {
      throw std::runtime_error(key + "= wants " + std::to_string(low) + " to " +
                               std::to_string(high) + ", not \"" + c.Get(key) + "\"");
    }
    return *v;
  };
  for (const auto& [key, value] : c.args) {
    if (key == "after") continue;
    if (key == "signal") {
      int v = number(key, 0, 99);
      if (v > 31 && v != 99) throw std::runtime_error("signal= wants 0 to 31 or 99");
      if (apply) options_.network.rssi = v;
    } else if (key == "registration") {
      std::optional<int> v = ParseRegistration(value);
      if (!v)
        throw std::runtime_error(
            "registration= wants home, roaming, searching, denied, none or unknown");
      if (apply) options_.network.registration = *v;
    } else if (key == "indications" || key == "silent" || key == "full-error") {
      bool on = OnOff(key, value);
      if (!apply) continue;
      if (key == "indications") options_.faults.no_indications = !on;
      if (key == "silent") options_.faults.silent = on;
      if (key == "full-error") options_.faults.full_error = on;
    } else if (key == "report") {
      std::optional<std::vector<int>> v = ParseStatusList(value);
      if (!v) throw std::runtime_error("report= wants delivered, pending, failed or TP-ST values");
      if (apply) options_.reports.statuses = *v;
    } else if (key == "report-delay") {
      int64_t v = Millis(c, key, 0);
      if (apply) options_.reports.delay_ms = v;
    } else if (key == "sim-size" || key == "phone-size" || key == "report-size") {
      int v = number(key, 1, 100000);
      if (apply) store(key == "sim-size" ? "SM" : key == "phone-size" ? "ME" : "SR")->SetTotal(v);
    } else if (key == "sim-busy") {
      int v = number(key, 0, 100000);
      if (apply) sim_busy_left_ = v;
    } else if (key == "unreadable") {
      std::vector<int> indices;
      for (const std::string& item : SplitArgs(value)) {
        std::optional<int> v = ParseInt(item);
        if (!v) throw std::runtime_error("unreadable= wants indices, as 3,7");
        indices.push_back(*v);
      }
      if (apply) options_.faults.unreadable = indices;
    } else {
      throw std::runtime_error("set cannot change \"" + key + "\"");
    }
  }
}

void Modem::ScheduleDeliver(const ControlCommand& c, int64_t at) {
  Event e;
  e.kind = Event::kArrive;
  e.storage = ToUpper(c.Get("storage"));
  if (!e.storage.empty() && (e.storage == "SR" || store(e.storage) == nullptr)) {
    throw std::runtime_error("storage= wants SM or ME");
  }
  if (c.Has("pdu")) {
    e.pdu = ToUpper(c.Get("pdu"));
    if (TpduLength(e.pdu) < 0) throw std::runtime_error("pdu= is not a PDU with its centre field");
    events_.emplace(at, e);
    return;
  }
  if (!c.Has("text")) throw std::runtime_error("deliver wants text=... or pdu=...");
  DeliverFields d;
  d.service_centre = options_.identity.service_centre;
  d.sender = c.Get("from", "+31612345678");
  StampArrival(d, Now());
  d.force_ucs2 = c.Has("ucs2");
  const std::u16string text = Utf8ToUtf16(c.Get("text"));
  std::vector<std::pair<int, std::string>> parts;  // part number, PDU
  try {
    std::vector<std::u16string> pieces = d.force_ucs2 ? SplitUcs2(text) : SplitForParts(text);
    const int total = static_cast<int>(pieces.size());
    int reference = next_ref_;
    if (c.Has("ref")) {
      std::optional<int> v = ParseInt(c.Get("ref"));
      if (!v || *v > 255) throw std::runtime_error("ref= wants 0 to 255");
      reference = *v;
    }
    std::vector<int> order;
    for (const std::string& item : SplitArgs(c.Get("order"))) {
      std::optional<int> v = ParseInt(item);
      if (!v || *v < 1 || *v > total) {
        throw std::runtime_error("order= names parts 1 to " + std::to_string(total));
      }
      order.push_back(*v);
    }
    if (order.empty()) {
      for (int i = 1; i <= total; ++i) order.push_back(i);
    }
    for (int number : order) {
      d.text = pieces[number - 1];
      if (total > 1) d.concat = DeliverFields::Concat{reference, total, number, false};
      parts.emplace_back(number, BuildDeliverPdu(d));
    }
    if (total > 1 && !c.Has("ref")) next_ref_ = (next_ref_ + 1) % 256;
  } catch (const Error& error) {
    throw std::runtime_error(error.what());
  }
  const int64_t gap = Millis(c, "gap", 0);
  for (size_t i = 0; i < parts.size(); ++i) {
    e.pdu = parts[i].second;
    events_.emplace(at + static_cast<int64_t>(i) * gap, e);
  }
}

void Modem::Reattach(int64_t now) {
  (void)now;
  output_ = OutputQueue();
  output_.SetChunking(options_.faults.chunk, options_.faults.chunk_gap_ms);
  settings_ = Settings{};
  mem_ = {"SM", "SM", "SM"};
  line_.clear();
  pdu_.clear();
  in_pdu_ = false;
  hanging_up_ = false;
  reopen_after_ms_ = -1;
  urcs_.clear();
  if (!options_.sim.pin.empty() && sim_state_ == SimState::kReady) sim_state_ = SimState::kPin;
}

// ---------------------------------------------------------------------------
// Input

void Modem::Receive(std::string_view bytes, int64_t now) {
  std::string echo;
  auto flush = [&] {
    Echo(echo, now);
    echo.clear();
  };
  for (char c : bytes) {
    if (hanging_up_) break;
    if (in_pdu_) {
      if (c == kCtrlZ) {
        flush();
        FinishPdu(now);
      } else if (c == kEsc) {
        // Abandoned by the client: the modem says nothing and waits for AT.
        in_pdu_ = false;
        pdu_.clear();
        if (settings_.cnmi[0] != 0) FlushUrcs(now);
      } else {
        echo += c;
        if (c == '\r' || c == '\n' || c == ' ') continue;
        pdu_ += IsHex(c) ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : '!';
        if (pdu_.size() > kMaxPduChars) pdu_.resize(kMaxPduChars + 1);
      }
      continue;
    }
    echo += c;
    if (c == '\r') {
      flush();
      std::string line;
      line.swap(line_);
      HandleLine(line, now);
    } else if (c == '\b' || c == 127) {
      if (!line_.empty()) line_.pop_back();
    } else if (c != '\n') {
      if (line_.size() < kMaxLine) line_ += c;
      // "A/" repeats the last line at once, without a CR (V.250 5.2.4).
      size_t start = line_.find_first_not_of(" \t\n");
      if (start != std::string::npos && line_.size() - start == 2 &&
          (line_[start] == 'A' || line_[start] == 'a') && line_[start + 1] == '/') {
        line_.clear();
        flush();
        if (!last_line_.empty()) HandleLine(last_line_, now);
      }
    }
  }
  flush();
}

void Modem::Echo(std::string_view bytes, int64_t now) {
  if (bytes.empty() || !settings_.echo || options_.faults.silent) return;
  output_.Push(now, std::string(bytes));
}

void Modem::SendReply(std::string text, int64_t at) { output_.Push(at, std::move(text)); }

void Modem::HandleLine(const std::string& line, int64_t now) {
  // Anything before "AT" is line noise; a line without it is ignored, as
  // modems do.
  size_t at = std::string::npos;
  for (size_t i = 0; i + 1 < line.size(); ++i) {
    if ((line[i] == 'A' || line[i] == 'a') && (line[i + 1] == 'T' || line[i + 1] == 't')) {
      at = i;
      break;
    }
  }
  if (at == std::string::npos) return;
  const Faults& faults = options_.faults;
  ++lines_seen_;
  if (faults.hangup_after && lines_seen_ > *faults.hangup_after) {
    hanging_up_ = true;
    output_.PushHangUp(now);
    return;
  }
  if (faults.silent) return;
  last_line_ = line.substr(at);
  const int64_t reply_at = now + faults.delay_ms;
  if (line.size() >= kMaxLine) {
    SendReply(FinalError({}), reply_at);
    return;
  }
  std::optional<std::vector<AtCommand>> commands = ParseCommandLine(line.substr(at + 2));
  if (!commands) {
    SendReply(FinalError({}), reply_at);
    return;
  }
  if (Matches(faults.silent_on, *commands)) return;
  ExecuteLine(*commands, now);
}

bool Modem::Matches(const std::vector<std::string>& patterns,
                    const std::vector<AtCommand>& commands) const {
  for (const std::string& pattern : patterns) {
    if (commands.empty() && ToUpper(pattern) == "AT") return true;
    for (const AtCommand& cmd : commands) {
      if (cmd.Matches(pattern)) return true;
    }
  }
  return false;
}

void Modem::ExecuteLine(const std::vector<AtCommand>& commands, int64_t now) {
  const Faults& faults = options_.faults;
  const int64_t reply_at = now + faults.delay_ms;
  std::string reply;
  if (Matches(faults.garbage_before, commands)) reply += faults.garbage;
  if (Matches(faults.urc_before, commands)) reply += "\r\n" + faults.urc_text + "\r\n";

  std::optional<Failure> failure;
  bool prompt = false;
  bool ussd = false;
  for (const AtCommand& cmd : commands) {
    if (Matches(faults.error_on, {cmd})) {
      failure = Failure{Family::kPlain, 0};
      break;
    }
    for (const auto& [pattern, code] : faults.cms_error_on) {
      if (cmd.Matches(pattern)) failure = Failure{Family::kForcedCms, code};
    }
    if (failure) break;
    Outcome outcome = Execute(cmd);
    reply += InfoText(outcome.lines);
    if (outcome.failure) {
      failure = outcome.failure;
      break;
    }
    ussd = ussd || outcome.ussd_request;
    if (outcome.prompt) {
      // The PDU follows; whatever else the line held is not run.
      prompt = true;
      break;
    }
  }
  if (prompt) {
    reply += "\r\n> ";
  } else {
    reply += failure ? FinalError(*failure) : FinalOk();
  }
  SendReply(std::move(reply), reply_at);
  if (flush_urcs_) {
    flush_urcs_ = false;
    FlushUrcs(reply_at);
  }
  if (memory_freed_) {
    memory_freed_ = false;
    for (Event& e : held_) events_.emplace(reply_at, std::move(e));
    held_.clear();
  }
  if (ussd) {
    std::string answer = UssdAnswer();
    if (!answer.empty()) {
      output_.Push(reply_at + options_.ussd_delay_ms, "\r\n" + answer + "\r\n");
    }
  }
}

void Modem::FinishPdu(int64_t now) {
  in_pdu_ = false;
  const int64_t reply_at = now + options_.faults.delay_ms;
  std::optional<SentMessage> sent;
  bool report_requested = false;
  if (pdu_.find('!') == std::string::npos && TpduLength(pdu_) == pdu_length_) {
    sent = DecodeSubmitted(pdu_);
    const size_t first = 2 + 2 * std::stoul(pdu_.substr(0, 2), nullptr, 16);
    report_requested = sent && (std::stoi(pdu_.substr(first, 2), nullptr, 16) & 0x20) != 0;
  }
  pdu_.clear();
  if (!sent) {
    SendReply(FinalError({Family::kCms, 304}), reply_at);
    if (settings_.cnmi[0] != 0) FlushUrcs(reply_at);
    return;
  }
  sent->mr = next_mr_;
  next_mr_ = (next_mr_ + 1) % 256;
  sent_.push_back(*sent);
  SendReply(InfoText({"+CMGS: " + std::to_string(sent->mr)}) + FinalOk(), reply_at);
  if (settings_.cnmi[0] != 0) FlushUrcs(reply_at);
  Loopback(*sent, reply_at);
  if (report_requested) {
    // TP-SRR (TS 23.040 9.2.3.5): the centre reports, once per status asked for.
    int64_t due = reply_at;
    for (int status : options_.reports.statuses) {
      due += options_.reports.delay_ms;
      Event e;
      e.kind = Event::kReport;
      e.index = sent->mr;
      e.recipient = sent->to;
      e.submitted = Now();
      e.status = status;
      events_.emplace(due, e);
    }
  }
}

void Modem::Loopback(const SentMessage& sent, int64_t at) {
  std::string own = Digits(options_.loopback_number);
  if (own.empty() || Digits(sent.to) != own) return;
  DeliverFields deliver;
  deliver.service_centre = options_.identity.service_centre;
  deliver.sender = options_.loopback_number;
  deliver.text = Utf8ToUtf16(sent.text);
  deliver.force_ucs2 = (sent.data_coding & 0x0C) == 0x08;
  StampArrival(deliver, Now());
  std::string pdu;
  try {
    if (!sent.ref.empty()) {
      // The element as the codec reports it: identifier, length, reference.
      DeliverFields::Concat concat;
      concat.wide_reference = sent.ref.compare(0, 2, "08") == 0 && sent.ref.size() >= 8;
      concat.reference = std::stoi(sent.ref.substr(4, concat.wide_reference ? 4 : 2), nullptr, 16);
      concat.total = sent.total;
      concat.sequence = sent.part;
      deliver.concat = concat;
    }
    pdu = BuildDeliverPdu(deliver);
  } catch (const std::exception&) {
    return;  // nothing a real network would deliver either
  }
  Event e;
  e.pdu = pdu;
  events_.emplace(at, e);
}

// ---------------------------------------------------------------------------
// Result formatting (V.250 5.7, TS 27.007 9.1)

std::string Modem::InfoText(const std::vector<std::string>& lines) const {
  if (lines.empty()) return {};
  std::string body;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) body += "\r\n";
    body += lines[i];
  }
  return settings_.verbose ? "\r\n" + body + "\r\n" : body + "\r\n";
}

std::string Modem::FinalOk() const {
  if (settings_.quiet) return {};
  return settings_.verbose ? "\r\nOK\r\n" : "0\r";
}

std::string Modem::FinalError(const Failure& failure) const {
  if (failure.family == Family::kForcedCms) {
    return "\r\n+CMS ERROR: " + std::to_string(failure.code) + "\r\n";
  }
  if (settings_.quiet) return {};
  if (failure.family == Family::kPlain || settings_.cmee == 0) {
    return settings_.verbose ? "\r\nERROR\r\n" : "4\r";
  }
  bool cms = failure.family == Family::kCms;
  std::string text = cms ? "+CMS ERROR: " : "+CME ERROR: ";
  text += settings_.cmee == 1 ? std::to_string(failure.code) : VerboseText(cms, failure.code);
  return settings_.verbose ? "\r\n" + text + "\r\n" : text + "\r\n";
}

// ---------------------------------------------------------------------------
// Commands

Modem::Outcome Modem::Execute(const AtCommand& cmd) {
  using Group = Outcome (Modem::*)(const AtCommand&);
  static const std::map<std::string, Group> kTable = {
      {"+CGMI", &Modem::Identification},
      {"+GMI", &Modem::Identification},
      {"+CGMM", &Modem::Identification},
      {"+GMM", &Modem::Identification},
      {"+CGMR", &Modem::Identification},
      {"+GMR", &Modem::Identification},
      {"+CGSN", &Modem::Identification},
      {"+GSN", &Modem::Identification},
      {"+CIMI", &Modem::Identification},
      {"+GCAP", &Modem::Identification},
      {"+CNUM", &Modem::Identification},
      {"I", &Modem::Identification},
      {"E", &Modem::Basic},
      {"Q", &Modem::Basic},
      {"V", &Modem::Basic},
      {"X", &Modem::Basic},
      {"Z", &Modem::Basic},
      {"&F", &Modem::Basic},
      {"&C", &Modem::Basic},
      {"&D", &Modem::Basic},
      {"&K", &Modem::Basic},
      {"&W", &Modem::Basic},
      {"L", &Modem::Basic},
      {"M", &Modem::Basic},
      {"H", &Modem::Basic},
      {"+IPR", &Modem::Basic},
      {"+IFC", &Modem::Basic},
      {"+CMEE", &Modem::Network},
      {"+CSCS", &Modem::Network},
      {"+CPIN", &Modem::Pin},
      {"+CPINR", &Modem::Pin},
      {"+CSQ", &Modem::Network},
      {"+CREG", &Modem::Network},
      {"+CGREG", &Modem::Network},
      {"+COPS", &Modem::Network},
      {"+CFUN", &Modem::Network},
      {"+CGATT", &Modem::Network},
      {"+CMGF", &Modem::Sms},
      {"+CSMS", &Modem::Sms},
      {"+CSCA", &Modem::Sms},
      {"+CNMI", &Modem::Sms},
      {"+CSMP", &Modem::Sms},
      {"+CMGS", &Modem::Sms},
      {"+CPMS", &Modem::Storage},
      {"+CMGL", &Modem::List},
      {"+CMGR", &Modem::Read},
      {"+CMGD", &Modem::Delete},
      {"+CUSD", &Modem::Ussd},
  };
  if (cmd.basic && cmd.name.size() > 1 && cmd.name[0] == 'S') return Basic(cmd);
  auto it = kTable.find(cmd.name);
  if (it == kTable.end()) return Fail({});
  if (std::optional<Failure> refused = SimGate(cmd)) return Fail(*refused);
  return (this->*(it->second))(cmd);
}

Modem::Outcome Modem::Fail(Failure failure) {
  Outcome out;
  out.failure = failure;
  return out;
}

Modem::Outcome Modem::Lines(std::vector<std::string> lines) {
  Outcome out;
  out.lines = std::move(lines);
  return out;
}

Modem::Outcome Modem::Identification(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) return {};
  if (cmd.form != CommandForm::kAction) return Fail({});
  const Identity& id = options_.identity;
  const std::string& n = cmd.name;
  if (n == "+CGMI" || n == "+GMI") return Lines({id.manufacturer});
  if (n == "+CGMM" || n == "+GMM") return Lines({id.model});
  if (n == "+CGMR" || n == "+GMR") return Lines({id.revision});
  if (n == "+CGSN" || n == "+GSN") return Lines({id.imei});
  if (n == "+CIMI") return Lines({id.imsi});
  if (n == "+GCAP") return Lines({"+GCAP: +CGSM"});
  if (n == "+CNUM") {
    if (options_.loopback_number.empty()) return {};
    bool international = options_.loopback_number[0] == '+';
    return Lines(
        {"+CNUM: ," + Quote(options_.loopback_number) + "," + (international ? "145" : "129")});
  }
  return Lines({id.manufacturer, id.model, "Revision: " + id.revision});  // ATI<n>
}

Modem::Outcome Modem::Basic(const AtCommand& cmd) {
  const std::string& n = cmd.name;
  std::optional<int> value = cmd.args.empty() ? std::optional<int>(0) : ParseInt(cmd.args);
  if (n == "+IPR" || n == "+IFC") {
    if (cmd.form == CommandForm::kRead) return Lines({n == "+IPR" ? "+IPR: 115200" : "+IFC: 0,0"});
    if (cmd.form == CommandForm::kTest) {
      return Lines({n == "+IPR" ? "+IPR: (),(9600,19200,38400,57600,115200,230400,460800)"
                                : "+IFC: (0-2),(0-2)"});
    }
    return {};
  }
  if (n[0] == 'S') {
    int reg = std::stoi(n.substr(1));
    if (cmd.form == CommandForm::kRead) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "%03d", settings_.s_registers[reg]);
      return Lines({buf});
    }
    if (cmd.form == CommandForm::kSet) {
      if (!value || *value > 255) return Fail({});
      settings_.s_registers[reg] = *value;
    }
    return {};
  }
  if (cmd.form != CommandForm::kAction || !value) return Fail({});
  auto flag = [&](bool& target) -> Outcome {
    if (*value > 1) return Fail({});
    target = *value == 1;
    return {};
  };
  if (n == "E") return flag(settings_.echo);
  if (n == "V") return flag(settings_.verbose);
  if (n == "Q") return flag(settings_.quiet);
  if (n == "Z" || n == "&F") {
    settings_ = Settings{};
    return {};
  }
  if (n == "X" && *value > 4) return Fail({});
  return {};  // &C, &D, &K, &W, L, M, H: accepted, nothing to model
}

Modem::Outcome Modem::Network(const AtCommand& cmd) {
  const std::string& n = cmd.name;
  const Failure kNotAllowed{Family::kCme, 3};
  std::vector<std::string> args = SplitArgs(cmd.args);
  std::optional<int> first = args.empty() ? std::optional<int>(0) : ParseInt(args[0]);
  const bool set = cmd.form == CommandForm::kSet;
  const bool read = cmd.form == CommandForm::kRead;
  const bool test = cmd.form == CommandForm::kTest;
  if (n == "+CMEE") {
    if (test) return Lines({"+CMEE: (0-2)"});
    if (read) return Lines({"+CMEE: " + std::to_string(settings_.cmee)});
    if (!first || *first > 2) return Fail(kNotAllowed);
    settings_.cmee = *first;
    return {};
  }
  if (n == "+CSCS") {
    if (test) return Lines({"+CSCS: (\"IRA\",\"GSM\",\"UCS2\")"});
    if (read) return Lines({"+CSCS: " + Quote(settings_.cscs)});
    if (!set) return {};
    std::string set_to = ToUpper(Unquote(cmd.args));
    if (set_to != "IRA" && set_to != "GSM" && set_to != "UCS2") return Fail(kNotAllowed);
    settings_.cscs = set_to;
    return {};
  }
  const NetworkState& net = options_.network;
  // Without a usable SIM the modem cannot register.
  const int stat = sim_state_ == SimState::kReady ? net.registration : 0;
  if (n == "+CSQ") {
    if (test) return Lines({"+CSQ: (0-31,99),(0-7,99)"});
    if (cmd.form != CommandForm::kAction) return Fail(kNotAllowed);
    return Lines({"+CSQ: " + std::to_string(net.rssi) + "," + std::to_string(net.ber)});
  }
  if (n == "+CREG" || n == "+CGREG") {
    int& mode = n == "+CREG" ? settings_.creg : settings_.cgreg;
    if (test) return Lines({n + ": (0-2)"});
    if (read) {
      std::string line = n + ": " + std::to_string(mode) + "," + std::to_string(stat);
      if (mode == 2 && (stat == 1 || stat == 5))
        line += "," + Quote(net.lac) + "," + Quote(net.cell);
      return Lines({line});
    }
    if (!set || !first || *first > 2) return Fail(kNotAllowed);
    mode = *first;
    return {};
  }
  if (n == "+COPS") {
    const Identity& id = options_.identity;
    if (test) {
      return Lines({"+COPS: (2," + Quote(id.operator_long) + "," + Quote(id.operator_short) + "," +
                    Quote(id.operator_numeric) + ",0),,(0-4),(0-2)"});
    }
    if (read && stat != 1 && stat != 5) return Lines({"+COPS: 0"});
    if (read) {
      const std::string& name = settings_.cops_format == 0   ? id.operator_long
                                : settings_.cops_format == 1 ? id.operator_short
                                                             : id.operator_numeric;
      return Lines(
          {"+COPS: 0," + std::to_string(settings_.cops_format) + "," + Quote(name) + ",0"});
    }
    if (!set) return {};
    if (!first || *first > 4) return Fail(kNotAllowed);
    if (args.size() > 1) {
      std::optional<int> format = ParseInt(args[1]);
      if (!format || *format > 2) return Fail(kNotAllowed);
      settings_.cops_format = *format;
    }
    return {};
  }
  if (n == "+CFUN") {
    if (test) return Lines({"+CFUN: (0,1,4),(0-1)"});
    if (read) return Lines({"+CFUN: 1"});
    if (set && (!first || (*first != 0 && *first != 1 && *first != 4))) {
      return Fail(kNotAllowed);
    }
    return {};
  }
  // +CGATT
  if (test) return Lines({"+CGATT: (0,1)"});
  if (read) return Lines({"+CGATT: 1"});
  if (set && (!first || *first > 1)) return Fail(kNotAllowed);
  return {};
}

Modem::Outcome Modem::Sms(const AtCommand& cmd) {
  const std::string& n = cmd.name;
  const Failure kNotAllowed{Family::kCms, 302};
  std::vector<std::string> args = SplitArgs(cmd.args);
  std::optional<int> first = args.empty() ? std::optional<int>(0) : ParseInt(args[0]);
  const bool set = cmd.form == CommandForm::kSet;
  const bool read = cmd.form == CommandForm::kRead;
  const bool test = cmd.form == CommandForm::kTest;
  if (n == "+CMGF") {
    if (test) return Lines({"+CMGF: (0,1)"});
    if (read) return Lines({"+CMGF: " + std::to_string(settings_.cmgf)});
    if (!first || *first > 1) return Fail(kNotAllowed);
    settings_.cmgf = *first;
    return {};
  }
  if (n == "+CSMS") {
    if (test) return Lines({"+CSMS: (0,1)"});
    if (read) return Lines({"+CSMS: " + std::to_string(settings_.csms) + ",1,1,1"});
    if (!set || !first || *first > 1) return Fail(kNotAllowed);
    settings_.csms = *first;
    return Lines({"+CSMS: 1,1,1"});
  }
  if (n == "+CSCA") {
    const std::string& sca = options_.identity.service_centre;
    if (read) return Lines({"+CSCA: " + Quote(sca) + "," + (sca[0] == '+' ? "145" : "129")});
    if (set) {
      if (args.empty() || Unquote(args[0]).empty()) return Fail(kNotAllowed);
      options_.identity.service_centre = Unquote(args[0]);
    }
    return {};
  }
  if (n == "+CNMI") {
    if (test) return Lines({"+CNMI: " + options_.cnmi_modes});
    if (read) {
      std::string line = "+CNMI: ";
      for (size_t i = 0; i < settings_.cnmi.size(); ++i) {
        line += (i ? "," : "") + std::to_string(settings_.cnmi[i]);
      }
      return Lines({line});
    }
    if (!set) return {};
    const std::vector<std::set<int>> modes = ParseModes(options_.cnmi_modes);
    if (args.size() > settings_.cnmi.size()) return Fail(kNotAllowed);
    std::array<int, 5> next = settings_.cnmi;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i].empty()) continue;  // omitted: keeps its value
      std::optional<int> v = ParseInt(args[i]);
      if (!v) return Fail(kNotAllowed);
      if (i >= modes.size() || modes[i].count(*v) == 0) return Fail({Family::kCms, 303});
      next[i] = *v;
    }
    settings_.cnmi = next;
    // <bfr>: leaving mode 0 hands the buffered indications over, or drops them.
    if (next[0] != 0) {
      if (next[4] == 0) {
        flush_urcs_ = !urcs_.empty();
      } else {
        urcs_.clear();
      }
    }
    return {};
  }
  if (n == "+CSMP") {
    if (read) return Lines({"+CSMP: 17,167,0,0"});
    return {};
  }
  // +CMGS
  if (test) return {};
  if (!set) return Fail({Family::kCms, 304});
  if (settings_.cmgf != 0) return Fail(kNotAllowed);
  std::optional<int> length = ParseInt(cmd.args);
  if (!length || *length < 1 || *length > kMaxTpdu) return Fail({Family::kCms, 304});
  in_pdu_ = true;
  pdu_length_ = *length;
  pdu_.clear();
  Outcome out;
  out.prompt = true;
  return out;
}

Modem::Outcome Modem::Storage(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) {
    return Lines({"+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")"});
  }
  if (cmd.form == CommandForm::kRead) {
    std::string line = "+CPMS: ";
    for (int i = 0; i < 3; ++i) {
      const MessageStore& s = Mem(i);
      line += (i ? "," : "") + Quote(s.name()) + "," + std::to_string(s.used()) + "," +
              std::to_string(s.total());
    }
    return Lines({line});
  }
  std::vector<std::string> args = SplitArgs(cmd.args);
  if (cmd.form != CommandForm::kSet || args.empty() || args.size() > 3) {
    return Fail({Family::kCms, 302});
  }
  std::array<std::string, 3> next = mem_;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = ToUpper(Unquote(args[i]));
    // Status reports are only read and deleted: SR is no place to write or receive.
    if (store(name) == nullptr || (i > 0 && name == "SR")) return Fail({Family::kCms, 302});
    next[i] = name;
  }
  mem_ = next;
  std::string line = "+CPMS: ";
  for (int i = 0; i < 3; ++i) {
    line += (i ? "," : "") + std::to_string(Mem(i).used()) + "," + std::to_string(Mem(i).total());
  }
  return Lines({line});
}

Modem::Outcome Modem::List(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) return Lines({"+CMGL: (0-4)"});
  if (settings_.cmgf != 0) return Fail({Family::kCms, 302});
  std::optional<int> stat =
      cmd.form == CommandForm::kAction ? std::optional<int>(kRecUnread) : ParseInt(cmd.args);
  if (cmd.form == CommandForm::kRead || !stat || *stat > kStatAll) {
    return Fail({Family::kCms, 304});
  }
  MessageStore& mem = Mem(0);
  Outcome out;
  for (int index : mem.Indices(*stat)) {
    if (Unreadable(index)) continue;
    StoredMessage* m = mem.Find(index);
    out.lines.push_back("+CMGL: " + std::to_string(index) + "," + std::to_string(m->stat) + ",," +
                        std::to_string(TpduLength(m->pdu)));
    out.lines.push_back(m->pdu);
    // Listing hands the message to the client: it is read from now on.
    if (m->stat == kRecUnread) m->stat = kRecRead;
  }
  return out;
}

Modem::Outcome Modem::Read(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) return {};
  if (settings_.cmgf != 0) return Fail({Family::kCms, 302});
  std::optional<int> index = ParseInt(cmd.args);
  if (cmd.form != CommandForm::kSet || !index) return Fail({Family::kCms, 304});
  MessageStore& mem = Mem(0);
  StoredMessage* m = mem.InRange(*index) ? mem.Find(*index) : nullptr;
  if (m == nullptr || Unreadable(*index)) return Fail({Family::kCms, 321});
  Outcome out = Lines(
      {"+CMGR: " + std::to_string(m->stat) + ",," + std::to_string(TpduLength(m->pdu)), m->pdu});
  if (m->stat == kRecUnread) m->stat = kRecRead;
  return out;
}

Modem::Outcome Modem::Delete(const AtCommand& cmd) {
  MessageStore& mem = Mem(0);
  if (cmd.form == CommandForm::kTest) {
    std::string used;
    for (int index : mem.Indices(kStatAll))
      used += (used.empty() ? "" : ",") + std::to_string(index);
    return Lines({"+CMGD: (" + used + "),(0-4)"});
  }
  std::vector<std::string> args = SplitArgs(cmd.args);
  if (cmd.form != CommandForm::kSet || args.empty() || args.size() > 2) {
    return Fail({Family::kCms, 302});
  }
  std::optional<int> flag = args.size() == 2 ? ParseInt(args[1]) : std::optional<int>(0);
  if (!flag || *flag > 4) return Fail({Family::kCms, 302});
  if (*flag > 0) {
    // With a flag the index is ignored (TS 27.005 3.5.4).
    mem.EraseByFlag(*flag);
    memory_freed_ = true;
    return {};
  }
  std::optional<int> index = ParseInt(args[0]);
  if (!index || !mem.InRange(*index)) return Fail({Family::kCms, 321});
  mem.Erase(*index);
  memory_freed_ = true;
  return {};
}

bool Modem::Unreadable(int index) const {
  const std::vector<int>& bad = options_.faults.unreadable;
  return std::find(bad.begin(), bad.end(), index) != bad.end();
}

std::optional<Modem::Failure> Modem::SimGate(const AtCommand& cmd) {
  // TS 27.005 commands answer with +CMS codes (3.2.5), the rest with +CME.
  static const std::set<std::string> kSms = {"+CPMS", "+CMGL", "+CMGR", "+CMGD", "+CMGS",
                                             "+CSCA", "+CNMI", "+CSMS", "+CSMP"};
  static const std::set<std::string> kOther = {"+CIMI", "+CNUM", "+CUSD"};
  if (cmd.form == CommandForm::kTest) return std::nullopt;
  const bool sms = kSms.count(cmd.name) != 0;
  const bool needs_sim = sms || kOther.count(cmd.name) != 0;
  if ((needs_sim || cmd.name == "+CPIN") && sim_busy_left_ > 0) {
    --sim_busy_left_;
    return Failure{sms ? Family::kCms : Family::kCme, sms ? 314 : 14};
  }
  if (!needs_sim) return std::nullopt;
  switch (sim_state_) {
    case SimState::kReady:
      return std::nullopt;
    case SimState::kPin:
      return Failure{sms ? Family::kCms : Family::kCme, sms ? 311 : 11};
    case SimState::kPuk:
      return Failure{sms ? Family::kCms : Family::kCme, sms ? 316 : 12};
    case SimState::kBlocked:
      break;
  }
  return Failure{sms ? Family::kCms : Family::kCme, sms ? 313 : 13};
}

// TS 27.007 8.3 (+CPIN) and 8.65 (+CPINR, the tries left).
Modem::Outcome Modem::Pin(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) return {};
  if (cmd.name == "+CPINR") {
    const std::string want = ToUpper(Unquote(cmd.args));
    std::vector<std::string> lines;
    if (want.empty() || want == "SIM PIN") {
      lines.push_back("+CPINR: SIM PIN," + std::to_string(pin_tries_) + ",3");
    }
    if (want.empty() || want == "SIM PUK") {
      lines.push_back("+CPINR: SIM PUK," + std::to_string(puk_tries_) + ",10");
    }
    if (lines.empty()) return Fail({Family::kCme, 4});
    return Lines(lines);
  }
  if (cmd.form == CommandForm::kRead) {
    switch (sim_state_) {
      case SimState::kReady:
        return Lines({"+CPIN: READY"});
      case SimState::kPin:
        return Lines({"+CPIN: SIM PIN"});
      case SimState::kPuk:
        return Lines({"+CPIN: SIM PUK"});
      case SimState::kBlocked:
        break;
    }
    return Fail({Family::kCme, 13});
  }
  if (cmd.form != CommandForm::kSet) return Fail({Family::kCme, 3});
  std::vector<std::string> args = SplitArgs(cmd.args);
  const std::string code = args.empty() ? "" : Unquote(args[0]);
  const std::string new_pin = args.size() > 1 ? Unquote(args[1]) : "";
  const Failure kWrong{Family::kCme, 16};
  switch (sim_state_) {
    case SimState::kReady:
      return Fail({Family::kCme, 3});
    case SimState::kPin:
      if (code == options_.sim.pin) {
        sim_state_ = SimState::kReady;
        pin_tries_ = 3;
        return {};
      }
      if (--pin_tries_ == 0) sim_state_ = SimState::kPuk;
      return Fail(kWrong);
    case SimState::kPuk:
      if (new_pin.empty()) return Fail({Family::kCme, 12});
      if (code == options_.sim.puk) {
        options_.sim.pin = new_pin;
        sim_state_ = SimState::kReady;
        pin_tries_ = 3;
        puk_tries_ = 10;
        return {};
      }
      if (--puk_tries_ == 0) sim_state_ = SimState::kBlocked;
      return Fail(kWrong);
    case SimState::kBlocked:
      break;
  }
  return Fail({Family::kCme, 13});
}

Modem::Outcome Modem::Ussd(const AtCommand& cmd) {
  if (cmd.form == CommandForm::kTest) return Lines({"+CUSD: (0-2)"});
  if (cmd.form == CommandForm::kRead) return Lines({"+CUSD: " + std::to_string(settings_.cusd)});
  std::vector<std::string> args = SplitArgs(cmd.args);
  std::optional<int> mode = args.empty() ? std::optional<int>(0) : ParseInt(args[0]);
  if (!mode || *mode > 2 || args.size() > 3) return Fail({Family::kCme, 3});
  settings_.cusd = *mode == 2 ? settings_.cusd : *mode;
  Outcome out;
  // The network answers only when result codes are presented (mode 1).
  out.ussd_request = *mode == 1 && args.size() >= 2 && !Unquote(args[1]).empty();
  return out;
}

std::string Modem::UssdAnswer() const {
  switch (options_.ussd_mode) {
    case UssdMode::kOk:
      return "+CUSD: 0," + Quote(options_.ussd_text) + ",15";
    case UssdMode::kStatus4:
      return "+CUSD: 4";
    case UssdMode::kUcs2:
      return "+CUSD: 0," + Quote(Ucs2Hex(options_.ussd_text)) + ",72";
    case UssdMode::kNone:
      break;
  }
  return {};
}

}  // namespace tarvex::modemsim
