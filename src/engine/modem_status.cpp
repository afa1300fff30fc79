// The modem-state queries of the engine (SIM, PIN, signal, registration,
// operator, service centre, storage use) and the parsers of their answers.
#include "engine/modem_status.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "engine/tarvex_impl.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// The longest the open's SIM probe waits for an answer: a modem that
// ignores +CPIN? must not hold every command for the full command deadline.
constexpr uint32_t kSimProbeTimeoutMs = 5000;
// Between two asks of a busy SIM.
constexpr uint32_t kSimBusyRetryMs = 1000;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool Quoted(std::string_view field) {
  return field.size() >= 2 && field.front() == '"' && field.back() == '"';
}

std::string Unquote(std::string_view field) {
  return std::string(Quoted(field) ? field.substr(1, field.size() - 2) : field);
}

// A decimal field that is not quoted.
std::optional<int> Int(std::string_view field) {
  if (field.empty() || field.size() > 6 || Quoted(field)) return std::nullopt;
  int value = 0;
  for (const char c : field) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

int IntOr(const std::vector<std::string>& fields, size_t i, int fallback) {
  return i < fields.size() ? Int(fields[i]).value_or(fallback) : fallback;
}

// The fields of every line that starts with `prefix`, split at commas
// outside quotation marks (and, for +CNMI=?, outside parentheses), trimmed.
std::vector<std::vector<std::string>> AnswerLines(std::string_view text, std::string_view prefix) {
  std::vector<std::vector<std::string>> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (!line.starts_with(prefix)) continue;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    int depth = 0;
    for (const char c : line.substr(prefix.size())) {
      if (c == '"') quoted = !quoted;
      if (!quoted && c == '(') ++depth;
      if (!quoted && c == ')') --depth;
      if (c == ',' && !quoted && depth == 0) {
        fields.emplace_back(Trim(field));
        field.clear();
      } else {
        field += c;
      }
    }
    fields.emplace_back(Trim(field));
    lines.push_back(std::move(fields));
  }
  return lines;
}

std::optional<std::vector<std::string>> FirstLine(std::string_view text, std::string_view prefix) {
  auto lines = AnswerLines(text, prefix);
  if (lines.empty()) return std::nullopt;
  return std::move(lines.front());
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// "002B00330031" -> "+31" when every unit is "+" or a digit.
std::optional<std::string> Ucs2Digits(const std::string& hex) {
  if (hex.empty() || hex.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (size_t i = 0; i < hex.size(); i += 4) {
    const std::string unit = Upper(hex.substr(i, 4));
    if (!unit.starts_with("00")) return std::nullopt;
    const char c = static_cast<char>(std::stoi(unit.substr(2), nullptr, 16));
    if (!std::isxdigit(static_cast<unsigned char>(unit[2])) ||
        !std::isxdigit(static_cast<unsigned char>(unit[3])) || !(c == '+' || std::isdigit(c))) {
      return std::nullopt;
    }
    out += c;
  }
  return out;
}

// "(0-3)" / "(0,2)" / "0" -> the values.
std::set<int> Offered(std::string_view group) {
  std::set<int> values;
  if (group.starts_with('(')) group.remove_prefix(1);
  if (group.ends_with(')')) group.remove_suffix(1);
  size_t pos = 0;
  while (pos <= group.size()) {
    size_t end = group.find(',', pos);
    if (end == std::string_view::npos) end = group.size();
    const std::string_view item = Trim(group.substr(pos, end - pos));
    const size_t dash = item.find('-');
    const auto low = Int(item.substr(0, dash));
    const auto high = dash == std::string_view::npos ? low : Int(item.substr(dash + 1));
    if (low && high && *high - *low < 256) {
      for (int v = *low; v <= *high; ++v) values.insert(v);
    }
    pos = end + 1;
  }
  return values;
}

template <typename Out, typename Parse>
Out Parsed(const Answer& answer, Parse parse) {
  Out out;
  static_cast<Answer&>(out) = answer;
  if (out.done()) parse(out.value, out);
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parsers

bool PinState::needs_puk() const { return code.find("PUK") != std::string::npos; }

bool PinState::busy() const {
  return outcome == kRefused && ((error.kind == FinalCode::kCmeError && error.number == 14) ||
                                 (error.kind == FinalCode::kCmsError && error.number == 314));
}

bool SignalQuality::known() const {
  return (rssi >= 0 && rssi <= 31) || (rssi >= 100 && rssi <= 191);
}

int SignalQuality::dBm() const {
  // TS 27.007 8.5: 0 is -113 dBm or less, 31 is -51 or more, in 2 dB steps;
  // 100-191 (TD-SCDMA) in 1 dB steps from -116.
  return rssi >= 100 ? rssi - 216 : -113 + 2 * rssi;
}

int SignalQuality::Bars() const {
  const int d = dBm();
  return d <= -111 ? 0 : d <= -101 ? 1 : d <= -91 ? 2 : d <= -81 ? 3 : d <= -71 ? 4 : 5;
}

std::string Registration::StatusText() const {
  // TS 27.007 7.2 <stat>.
  static const char* const kStat[] = {"not registered, not searching",
                                      "home network",
                                      "searching",
                                      "registration denied",
                                      "unknown",
                                      "roaming",
                                      "home network, SMS only",
                                      "roaming, SMS only",
                                      "emergency calls only",
                                      "home network, CSFB not preferred",
                                      "roaming, CSFB not preferred"};
  if (stat < 0 || stat >= static_cast<int>(std::size(kStat))) return "";
  return kStat[stat];
}

bool ParsePinState(std::string_view text, PinState& out) {
  const auto line = FirstLine(text, "+CPIN:");
  if (!line || line->empty() || line->front().empty()) return false;
  out.code = Upper(Unquote(line->front()));
  return true;
}

bool ParsePinTries(std::string_view text, PinTries& out) {
  PinTries found;
  for (const auto& f : AnswerLines(text, "+CPINR:")) {
    // +CPINR: <code>,<retries>,<default retries>
    const std::string code = Upper(Unquote(f.front()));
    if (code == "SIM PIN") found.pin = IntOr(f, 1, found.pin);
    if (code == "SIM PUK") found.puk = IntOr(f, 1, found.puk);
  }
  if (const auto f = FirstLine(text, "^CPIN:")) {
    // Huawei: ^CPIN: <code>,[<times>],<puk_times>,<pin_times>,<puk2_times>,<pin2_times>
    found.puk = IntOr(*f, 2, found.puk);
    found.pin = IntOr(*f, 3, found.pin);
  }
  if (const auto f = FirstLine(text, "+QPINC:")) {
    // Quectel: +QPINC: "SC",<pincounter>,<pukcounter>
    found.pin = IntOr(*f, 1, found.pin);
    found.puk = IntOr(*f, 2, found.puk);
  }
  for (const char* prefix : {"+CPINC:", "+SPIC:"}) {
    // Sierra, SIMCom: <pin1>,<pin2>,<puk1>,<puk2>
    if (const auto f = FirstLine(text, prefix)) {
      found.pin = IntOr(*f, 0, found.pin);
      found.puk = IntOr(*f, 2, found.puk);
    }
  }
  if (found.pin < 0 && found.puk < 0) return false;
  out = found;
  return true;
}

bool ParseSignal(std::string_view text, SignalQuality& out) {
  const auto f = FirstLine(text, "+CSQ:");
  if (!f || !Int(f->front())) return false;
  out.rssi = *Int(f->front());
  out.ber = IntOr(*f, 1, 99);
  return true;
}

bool ParseRegistration(std::string_view text, Registration& out) {
  const auto lines = AnswerLines(text, "+CREG:");
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    const auto& f = *it;
    if (f.size() < 2 || !Int(f[0]) || !Int(f[1])) continue;
    out.mode = *Int(f[0]);
    out.stat = *Int(f[1]);
    out.lac = f.size() > 2 ? Unquote(f[2]) : "";
    out.cell = f.size() > 3 ? Unquote(f[3]) : "";
    out.act = IntOr(f, 4, -1);
    return true;
  }
  return false;
}

bool ParseOperator(std::string_view text, OperatorName& out) {
  const auto f = FirstLine(text, "+COPS:");
  if (!f || !Int(f->front())) return false;
  out.mode = *Int(f->front());
  out.format = IntOr(*f, 1, -1);
  out.name = f->size() > 2 ? Unquote((*f)[2]) : "";
  out.act = IntOr(*f, 3, -1);
  return true;
}

bool ParseServiceCentre(std::string_view text, ServiceCentre& out) {
  const auto f = FirstLine(text, "+CSCA:");
  if (!f) return false;
  const std::string number = Unquote(f->front());
  out.number = Ucs2Digits(number).value_or(number);
  out.type = IntOr(*f, 1, -1);
  return true;
}

bool ParseStorageUse(std::string_view text, StorageUse& out) {
  const auto f = FirstLine(text, "+CPMS:");
  if (!f || f->size() < 3) return false;
  std::vector<StorageUse::Memory> memories;
  for (size_t i = 0; i + 2 < f->size(); i += 3) {
    const auto used = Int((*f)[i + 1]);
    const auto total = Int((*f)[i + 2]);
    if (!used || !total) return false;
    StorageUse::Memory m{Upper(Unquote((*f)[i])), *used, *total};
    const bool seen = std::any_of(memories.begin(), memories.end(),
                                  [&](const StorageUse::Memory& o) { return o.name == m.name; });
    if (!seen) memories.push_back(std::move(m));
  }
  out.memories = std::move(memories);
  return true;
}

std::optional<std::vector<int>> ParseCnmiValues(std::string_view text) {
  const auto f = FirstLine(text, "+CNMI:");
  if (!f) return std::nullopt;
  std::vector<int> values;
  for (const std::string& field : *f) {
    const auto v = Int(field);
    if (!v) return std::nullopt;
    values.push_back(*v);
  }
  return values;
}

std::optional<std::vector<std::set<int>>> ParseCnmiOffers(std::string_view text) {
  const auto f = FirstLine(text, "+CNMI:");
  if (!f) return std::nullopt;
  std::vector<std::set<int>> offers;
  for (const std::string& group : *f) offers.push_back(Offered(group));
  return offers;
}

std::optional<ReportRoutingChoice> ChooseReportRouting(const std::vector<int>& found,
                                                       const std::vector<std::set<int>>& offers,
                                                       int prefer_ds) {
  auto offered = [&](size_t i, int v) {
    return offers.size() <= i || offers[i].empty() || offers[i].count(v) != 0;
  };
  ReportRoutingChoice choice;
  for (const int ds : {prefer_ds, prefer_ds == 1 ? 2 : 1}) {
    if (offered(3, ds)) {
      choice.ds = ds;
      break;
    }
  }
  if (choice.ds < 0) return std::nullopt;
  int mode = !found.empty() && found[0] != 0 ? found[0] : -1;
  for (const int m : {2, 1, 3}) {
    if (mode < 0 && offered(0, m)) mode = m;
  }
  if (mode < 0) return std::nullopt;
  if (found.size() >= 4) {
    std::vector<int> values = found;
    values[0] = mode;
    values[3] = choice.ds;
    for (size_t i = 0; i < values.size(); ++i) {
      choice.arguments += (i ? "," : "") + std::to_string(values[i]);
    }
  } else {
    choice.arguments = std::to_string(mode) + ",,," + std::to_string(choice.ds);
  }
  return choice;
}

std::optional<ReportNotice> ParseReportNotice(std::string_view notice) {
  ReportNotice n;
  if (notice.starts_with("+CDS:")) {
    const size_t crlf = notice.find("\r\n");
    if (crlf == std::string_view::npos) return std::nullopt;
    n.pdu = std::string(Trim(notice.substr(crlf + 2)));
    return n;
  }
  const auto f = FirstLine(notice, "+CDSI:");
  if (!f || f->size() < 2 || !Int((*f)[1])) return std::nullopt;
  n.storage = Upper(Unquote((*f)[0]));
  n.index = *Int((*f)[1]);
  return n;
}

std::string MaskSecrets(std::string_view bytes) {
  static constexpr std::string_view kSecret[] = {"+CPIN=", "+CPIN2=", "+CPWD=", "+CLCK=", "^CPIN="};
  const std::string upper = Upper(std::string(bytes));
  std::string out;
  for (size_t pos = 0; pos < bytes.size();) {
    const auto* command = std::find_if(std::begin(kSecret), std::end(kSecret), [&](auto c) {
      return std::string_view(upper).substr(pos).starts_with(c);
    });
    if (command == std::end(kSecret)) {
      out += bytes[pos++];
      continue;
    }
    // Every argument up to the line's end: each run between quotation marks
    // and commas becomes "****", which hides the length too.
    out += bytes.substr(pos, command->size());
    pos += command->size();
    bool in_run = false;
    for (; pos < bytes.size() && bytes[pos] != '\r' && bytes[pos] != '\n'; ++pos) {
      const char c = bytes[pos];
      if (c == '"' || c == ',') {
        out += c;
        in_run = false;
      } else if (!in_run) {
        out += "****";
        in_run = true;
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// The queries

Answer Tarvex::Impl::Query(SlotUse& use, std::string_view command, uint32_t timeout_ms) {
  return ExchangeCommand(use, command, timeout_ms).Outcome([](const std::string& t) { return t; });
}

PinState Tarvex::ReadPinState(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return Parsed<PinState>(impl_->Query(use, "AT+CPIN?", impl_->command_timeout_ms), ParsePinState);
}

PinState Tarvex::AwaitSim(int16_t ModemID, uint32_t wait_ms) {
  const uint32_t timeout = std::min(impl_->command_timeout_ms, kSimProbeTimeoutMs);
  const uint32_t start = impl_->clock.TickCount();
  bool waited = false;
  for (;;) {
    PinState state;
    {
      Impl::SlotUse use(*impl_, ModemID);
      state = Parsed<PinState>(impl_->Query(use, "AT+CPIN?", timeout), ParsePinState);
    }
    state.waited_busy = waited;
    if (!state.busy() || impl_->clock.TickCount() - start >= wait_ms) return state;
    waited = true;
    impl_->clock.Sleep(kSimBusyRetryMs);
    if (impl_->pump != nullptr) impl_->pump->DoEvents();
  }
}

PinTries Tarvex::ReadPinTries(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  for (const char* command : {"AT+CPINR", "AT^CPIN?", "AT+QPINC=\"SC\"", "AT+CPINC?", "AT+SPIC"}) {
    const Answer a = impl_->Query(use, command, impl_->command_timeout_ms);
    PinTries tries;
    if (a.done() && ParsePinTries(a.value, tries)) return tries;
  }
  return {};
}

Answer Tarvex::EnterPin(int16_t ModemID, const std::string& pin) {
  CheckCommandArgument(pin, "the PIN");
  const bool digits =
      pin.size() >= 4 && pin.size() <= 8 &&
      std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digits) {
    throw Error(kInvalidArgument, "Invalid procedure call or argument: a PIN is 4 to 8 digits");
  }
  Impl::SlotUse use(*impl_, ModemID);
  Answer a = impl_->Query(use, "AT+CPIN=\"" + pin + "\"", impl_->command_timeout_ms);
  if (a.done()) a.value = "OK";
  return a;
}

SignalQuality Tarvex::ReadSignal(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return Parsed<SignalQuality>(impl_->Query(use, "AT+CSQ", impl_->command_timeout_ms), ParseSignal);
}

Registration Tarvex::ReadRegistration(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  const uint32_t timeout = impl_->command_timeout_ms;
  Registration first =
      Parsed<Registration>(impl_->Query(use, "AT+CREG?", timeout), ParseRegistration);
  if (!first.done() || first.mode < 0 || first.mode == 2 || !first.cell.empty()) return first;
  // The cell comes only with <n> 2; the modem gets its own <n> back, so
  // nothing that relies on it (a watcher's +CREG notices) sees a change.
  if (!impl_->Query(use, "AT+CREG=2", timeout).done()) return first;
  Registration detailed =
      Parsed<Registration>(impl_->Query(use, "AT+CREG?", timeout), ParseRegistration);
  impl_->Query(use, "AT+CREG=" + std::to_string(first.mode), timeout);
  if (!detailed.done() || detailed.stat < 0) return first;
  detailed.mode = first.mode;
  return detailed;
}

OperatorName Tarvex::ReadOperator(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return Parsed<OperatorName>(impl_->Query(use, "AT+COPS?", impl_->command_timeout_ms),
                              ParseOperator);
}

ServiceCentre Tarvex::ReadServiceCentre(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return Parsed<ServiceCentre>(impl_->Query(use, "AT+CSCA?", impl_->command_timeout_ms),
                               ParseServiceCentre);
}

StorageUse Tarvex::ReadStorageUse(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return Parsed<StorageUse>(impl_->Query(use, "AT+CPMS?", impl_->command_timeout_ms),
                            ParseStorageUse);
}

}  // namespace tarvex
