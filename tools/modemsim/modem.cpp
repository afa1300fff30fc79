#include "modemsim/modem.h"

#include <cctype>
#include <cstdio>
#include <exception>

#include "codec/deliver_builder.h"
#include "common/text.h"

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

}  // namespace

Modem::Modem(ModemOptions options)
    : options_(std::move(options)),
      sim_("SM", options_.sim_total),
      phone_("ME", options_.phone_total) {
  output_.SetChunking(options_.faults.chunk, options_.faults.chunk_gap_ms);
}

MessageStore* Modem::store(std::string_view name) {
  std::string upper = ToUpper(name);
  if (upper == "SM") return &sim_;
  if (upper == "ME") return &phone_;
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
  if (pdu_.find('!') == std::string::npos && TpduLength(pdu_) == pdu_length_) {
    sent = DecodeSubmitted(pdu_);
  }
  pdu_.clear();
  if (!sent) {
    SendReply(FinalError({Family::kCms, 304}), reply_at);
    return;
  }
  sent->mr = next_mr_;
  next_mr_ = (next_mr_ + 1) % 256;
  sent_.push_back(*sent);
  SendReply(InfoText({"+CMGS: " + std::to_string(sent->mr)}) + FinalOk(), reply_at);
  Loopback(*sent, reply_at);
}

void Modem::Loopback(const SentMessage& sent, int64_t at) {
  std::string own = Digits(options_.loopback_number);
  if (own.empty() || Digits(sent.to) != own) return;
  DeliverFields deliver;
  deliver.service_centre = options_.identity.service_centre;
  deliver.sender = options_.loopback_number;
  deliver.text = Utf8ToUtf16(sent.text);
  deliver.force_ucs2 = (sent.data_coding & 0x0C) == 0x08;
  WallTime t = options_.wall_clock ? options_.wall_clock() : WallTime{};
  deliver.year = t.year;
  deliver.month = t.month;
  deliver.day = t.day;
  deliver.hour = t.hour;
  deliver.minute = t.minute;
  deliver.second = t.second;
  deliver.zone_quarters = t.zone_quarters;
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
  std::optional<int> index = Mem(2).Add({kRecUnread, pdu});
  if (!index) return;  // storage full: the network keeps it
  if (options_.notify || settings_.cnmi[1] == 1) {
    output_.Push(at, "\r\n+CMTI: " + Quote(mem_[2]) + "," + std::to_string(*index) + "\r\n");
  }
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
      {"+CPIN", &Modem::Network},
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
  if (n == "+CPIN") {
    if (read) return Lines({"+CPIN: READY"});
    return {};
  }
  if (n == "+CSQ") {
    if (test) return Lines({"+CSQ: (0-31,99),(0-7,99)"});
    if (cmd.form != CommandForm::kAction) return Fail(kNotAllowed);
    return Lines({"+CSQ: 21,99"});
  }
  if (n == "+CREG" || n == "+CGREG") {
    int& mode = n == "+CREG" ? settings_.creg : settings_.cgreg;
    if (test) return Lines({n + ": (0-2)"});
    if (read) {
      std::string line = n + ": " + std::to_string(mode) + ",1";
      if (mode == 2) line += ",\"00A1\",\"0000B2C3\"";
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
    if (test) return Lines({"+CNMI: (0-2),(0-3),(0,2),(0-2),(0,1)"});
    if (read) {
      std::string line = "+CNMI: ";
      for (size_t i = 0; i < settings_.cnmi.size(); ++i) {
        line += (i ? "," : "") + std::to_string(settings_.cnmi[i]);
      }
      return Lines({line});
    }
    if (!set) return {};
    static constexpr std::array<int, 5> kMax = {2, 3, 2, 2, 1};
    if (args.size() > kMax.size()) return Fail(kNotAllowed);
    std::array<int, 5> next = settings_.cnmi;
    for (size_t i = 0; i < args.size(); ++i) {
      if (args[i].empty()) continue;  // omitted: keeps its value
      std::optional<int> v = ParseInt(args[i]);
      if (!v || *v > kMax[i]) return Fail(kNotAllowed);
      next[i] = *v;
    }
    settings_.cnmi = next;
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
    return Lines({"+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")"});
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
    if (store(name) == nullptr) return Fail({Family::kCms, 302});
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
  if (m == nullptr) return Fail({Family::kCms, 321});
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
    return {};
  }
  std::optional<int> index = ParseInt(args[0]);
  if (!index || !mem.InRange(*index)) return Fail({Family::kCms, 321});
  mem.Erase(*index);
  return {};
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
