#include "tarvex/reply.h"

#include <array>

namespace tarvex {
namespace {

constexpr std::string_view kCmsError = "+CMS ERROR:";
constexpr std::string_view kCmeError = "+CME ERROR:";
constexpr std::string_view kCrLf = "\r\n";

struct Notice {
  std::string_view prefix;
  bool pdu_follows;  // in PDU mode the header line is followed by the PDU line
  bool kept;         // handed to the engine's caller
};

// The notices the engine knows by name; any other "+NAME:" or "^NAME" line
// that is not the command's own answer goes too, without being kept.
constexpr std::array<Notice, 7> kNotices = {{
    {"+CMTI:", false, true},
    {"+CDSI:", false, true},
    {"+CMT:", true, true},
    {"+CDS:", true, true},
    {"+CBM:", true, false},
    {"RING", false, false},
    {"NO CARRIER", false, false},
}};

bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && std::string_view(s).substr(s.size() - tail.size()) == tail;
}

// Digits after the colon of an extended error, blanks around allowed.
int ErrorNumber(std::string_view rest) {
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  while (!rest.empty() && rest.back() == ' ') rest.remove_suffix(1);
  if (rest.empty() || rest.size() > 5) return -1;
  int value = 0;
  for (const char c : rest) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// What kind of line: 0 the command's (or nobody's) ordinary line, 1 a notice,
// 2 a notice with a PDU line behind it.  `keep` says whether it is kept.
int NoticeLines(std::string_view line, std::string_view own_prefix, bool& keep) {
  keep = false;
  if (line.empty()) return 0;
  for (const Notice& n : kNotices) {
    const bool whole_word = n.prefix.back() == ':' ? line.starts_with(n.prefix) : line == n.prefix;
    if (whole_word) {
      keep = n.kept;
      return n.pdu_follows ? 2 : 1;
    }
  }
  if (!own_prefix.empty() && line.starts_with(own_prefix)) return 0;
  if (line[0] == '^') return 1;
  if (line[0] != '+') return 0;
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return 0;
  const std::string_view prefix = line.substr(0, colon + 1);
  if (prefix == own_prefix || prefix == kCmsError || prefix == kCmeError) return 0;
  return 1;
}

}  // namespace

FinalCode ClassifyLine(std::string_view line) {
  // With echo on, the command's echo and its CR may precede the code.
  if (const size_t cr = line.rfind('\r'); cr != std::string_view::npos) {
    line = line.substr(cr + 1);
  }
  FinalCode code;
  if (line == "OK") {
    code.kind = FinalCode::kOk;
  } else if (line == "ERROR" || line == "COMMAND NOT SUPPORT" || line == "TOO MANY PARAMETERS") {
    code.kind = FinalCode::kError;  // the last two are Huawei's words for ERROR
  } else if (line.starts_with(kCmsError)) {
    code.kind = FinalCode::kCmsError;
    code.number = ErrorNumber(line.substr(kCmsError.size()));
  } else if (line.starts_with(kCmeError)) {
    code.kind = FinalCode::kCmeError;
    code.number = ErrorNumber(line.substr(kCmeError.size()));
  } else {
    return code;
  }
  code.line = std::string(line);
  return code;
}

bool FinalCodeWatch::Scan(std::string_view buffer) {
  if (buffer.size() < line_start_) Reset();  // emptied behind our back
  for (size_t lf = buffer.find('\n', line_start_); lf != std::string_view::npos;
       lf = buffer.find('\n', line_start_)) {
    // A final code is a line ended by CR LF; a bare LF ends a line too but
    // completes nothing.
    std::string_view line = buffer.substr(line_start_, lf - line_start_);
    line_start_ = lf + 1;
    if (!line.ends_with('\r')) continue;
    line.remove_suffix(1);
    FinalCode code = ClassifyLine(line);
    if (code.refused() || (code.ok() && !code_.complete())) code_ = std::move(code);
  }
  // The prompt is "> " at the start of a line that is still open.
  if (!prompt_) {
    const size_t first = buffer.find_first_not_of("\r\n", line_start_);
    prompt_ = first != std::string_view::npos && buffer[first] == '>';
  }
  return Complete();
}

FinalCode Classify(std::string_view reply) {
  FinalCodeWatch watch;
  watch.Scan(reply);
  return watch.code();
}

std::string AnswerPrefix(std::string_view command) {
  // A maker's own command (AT^CPIN?) answers under its own sign.
  if (!command.starts_with("AT+") && !command.starts_with("AT^")) return "";
  const size_t end = command.find_first_of("=?", 3);
  return std::string(command.substr(2, end == std::string_view::npos ? end : end - 2)) + ":";
}

std::string RemoveUnsolicited(std::string_view reply, std::string_view own_prefix,
                              std::vector<Unsolicited>* kept) {
  std::string out;
  out.reserve(reply.size());
  size_t pos = 0;
  int skip_next = 0;               // lines still to drop after a notice
  Unsolicited* keeping = nullptr;  // the notice whose PDU line is still to come
  while (pos < reply.size()) {
    // A line ends at CR or LF; its end is CR LF, CR or LF.
    size_t end = reply.find_first_of("\r\n", pos);
    size_t next;
    if (end == std::string_view::npos) {
      end = next = reply.size();
    } else if (reply[end] == '\r' && end + 1 < reply.size() && reply[end + 1] == '\n') {
      next = end + 2;
    } else {
      next = end + 1;
    }
    const std::string_view line = reply.substr(pos, end - pos);
    bool keep = false;
    if (skip_next > 0 && !line.empty()) {
      --skip_next;
      if (keeping != nullptr) (keeping->text += kCrLf) += line;
      keeping = nullptr;
    } else if (const int lines = NoticeLines(line, own_prefix, keep); lines > 0) {
      // "\r\n<notice>\r\n": the blank line in front belongs to the notice.
      if (out == kCrLf || EndsWith(out, "\r\n\r\n")) out.resize(out.size() - 2);
      skip_next = lines - 1;
      keeping = nullptr;
      if (keep && kept != nullptr) {
        kept->push_back(Unsolicited{std::string(line)});
        if (skip_next > 0) keeping = &kept->back();
      }
    } else {
      out.append(reply.substr(pos, next - pos));
    }
    pos = next;
  }
  return out;
}

size_t CompleteNotices(std::string_view buffer) {
  size_t safe = 0;
  bool pdu_due = false;
  for (size_t pos = 0, lf; (lf = buffer.find('\n', pos)) != std::string_view::npos; pos = lf + 1) {
    std::string_view line = buffer.substr(pos, lf - pos);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty()) {
      if (!pdu_due) safe = lf + 1;
      continue;
    }
    bool keep = false;
    pdu_due = !pdu_due && NoticeLines(line, "", keep) == 2;
    if (!pdu_due) safe = lf + 1;
  }
  return safe;
}

}  // namespace tarvex
