#include "engine/reply.h"

#include <algorithm>
#include <array>

namespace tarvex {
namespace {

constexpr std::string_view kOkCode = "OK\r\n";
constexpr std::string_view kErrorCode = "ERROR\r\n";
constexpr std::string_view kCmsError = "+CMS ERROR:";
constexpr std::string_view kCmeError = "+CME ERROR:";
constexpr std::string_view kCrLf = "\r\n";

// Where to start looking for `pattern` so that a match straddling the last
// scan's end is still found.
size_t From(size_t scanned, std::string_view pattern) {
  return scanned >= pattern.size() - 1 ? scanned - (pattern.size() - 1) : 0;
}

struct Notice {
  std::string_view prefix;
  bool pdu_follows;  // in PDU mode the header line is followed by the PDU line
};

constexpr std::array<Notice, 11> kNotices = {{
    {"+CMTI:", false},
    {"+CDSI:", false},
    {"+CMT:", true},
    {"+CDS:", true},
    {"+CBM:", true},
    {"+CRING:", false},
    {"+CLIP:", false},
    {"+CREG:", false},
    {"+CGREG:", false},
    {"+CEREG:", false},
    {"^", false},
}};

// 0: an ordinary line; 1: a notice; 2: a notice with a PDU line behind it.
int NoticeLines(std::string_view line) {
  if (line == "RING") return 1;
  for (const Notice& n : kNotices) {
    if (line.starts_with(n.prefix)) return n.pdu_follows ? 2 : 1;
  }
  return 0;
}

bool EndsWith(const std::string& s, std::string_view tail) {
  return s.size() >= tail.size() && std::string_view(s).substr(s.size() - tail.size()) == tail;
}

}  // namespace

bool IsOK(std::string_view reply) { return reply.find("OK") != std::string_view::npos; }
bool IsError(std::string_view reply) { return reply.find("ERROR") != std::string_view::npos; }
bool IsPrompt(std::string_view reply) { return reply.find('>') != std::string_view::npos; }

bool FinalCodeWatch::Scan(std::string_view buffer) {
  if (buffer.size() < scanned_) Reset();  // emptied behind our back
  if (!ok_ && buffer.find(kOkCode, From(scanned_, kOkCode)) != std::string_view::npos) {
    ok_ = true;
  }
  if (!error_ && buffer.find(kErrorCode, From(scanned_, kErrorCode)) != std::string_view::npos) {
    error_ = true;
  }
  if (!error_ && extended_at_ == std::string_view::npos) {
    const size_t from = From(scanned_, kCmsError);
    extended_at_ = std::min(buffer.find(kCmsError, from), buffer.find(kCmeError, from));
  }
  if (!error_ && extended_at_ != std::string_view::npos) {
    const size_t from = std::max(extended_at_, From(scanned_, kCrLf));
    if (buffer.find(kCrLf, from) != std::string_view::npos) error_ = true;
  }
  scanned_ = buffer.size();
  return Complete();
}

std::string RemoveUnsolicited(std::string_view reply) {
  std::string out;
  out.reserve(reply.size());
  size_t pos = 0;
  int skip_next = 0;  // lines still to drop after a notice
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
    if (skip_next > 0 && !line.empty()) {
      --skip_next;
    } else if (const int lines = NoticeLines(line); lines > 0) {
      // "\r\n<notice>\r\n": the blank line in front belongs to the notice.
      if (out == kCrLf || EndsWith(out, "\r\n\r\n")) out.resize(out.size() - 2);
      skip_next = lines - 1;
    } else {
      out.append(reply.substr(pos, next - pos));
    }
    pos = next;
  }
  return out;
}

}  // namespace tarvex
