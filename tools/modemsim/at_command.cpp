#include "modemsim/at_command.h"

#include <cctype>

namespace tarvex::modemsim {
namespace {

bool IsExtendedPrefix(char c) { return c == '+' || c == '^' || c == '$' || c == '%' || c == '#'; }

// V.250 5.4.1 allows these in extended names besides letters and digits.
bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '!' || c == '%' || c == '-' ||
         c == '.' || c == '/' || c == ':' || c == '_';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Blanks are ignored outside quotes (V.250 5.2.1); inside they are text.
std::optional<std::string> DropBlanks(std::string_view body) {
  std::string out;
  bool quoted = false;
  for (char c : body) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t')) continue;
    out += c;
  }
  if (quoted) return std::nullopt;
  return out;
}

}  // namespace

std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

std::string AtCommand::FaultName() const {
  if (basic) return name + args;
  return name.substr(1);
}

bool AtCommand::Matches(std::string_view pattern) const {
  std::string p = ToUpper(pattern);
  if (p.size() > 2 && p.compare(0, 2, "AT") == 0) p.erase(0, 2);
  if (!basic && !p.empty() && IsExtendedPrefix(p[0])) p.erase(0, 1);
  std::string own = FaultName();
  return p == own || (basic && p == name);
}

std::optional<std::vector<AtCommand>> ParseCommandLine(std::string_view body) {
  std::optional<std::string> stripped = DropBlanks(body);
  if (!stripped) return std::nullopt;
  const std::string& s = *stripped;
  std::vector<AtCommand> commands;
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    char c = s[i];
    if (c == ';') {
      ++i;
      continue;
    }
    AtCommand cmd;
    if (IsExtendedPrefix(c)) {
      size_t start = i++;
      while (i < n && IsNameChar(s[i])) ++i;
      if (i == start + 1) return std::nullopt;
      cmd.name = ToUpper(s.substr(start, i - start));
      if (i + 1 < n && s[i] == '=' && s[i + 1] == '?') {
        cmd.form = CommandForm::kTest;
        i += 2;
      } else if (i < n && s[i] == '=') {
        cmd.form = CommandForm::kSet;
        size_t arg_start = ++i;
        bool quoted = false;
        while (i < n && (quoted || s[i] != ';')) {
          if (s[i] == '"') quoted = !quoted;
          ++i;
        }
        cmd.args = s.substr(arg_start, i - arg_start);
      } else if (i < n && s[i] == '?') {
        cmd.form = CommandForm::kRead;
        ++i;
      }
      if (i < n && s[i] != ';') return std::nullopt;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '&') {
      cmd.basic = true;
      size_t start = i;
      if (c == '&') {
        ++i;
        if (i >= n || !std::isalpha(static_cast<unsigned char>(s[i]))) return std::nullopt;
      }
      ++i;
      cmd.name = ToUpper(s.substr(start, i - start));
      if (cmd.name == "D") {
        // Dialling takes the rest of the line as its number.
        cmd.args = s.substr(i);
        i = n;
      } else if (cmd.name == "S") {
        size_t digits = i;
        while (i < n && IsDigit(s[i])) ++i;
        if (i == digits) return std::nullopt;
        cmd.name += s.substr(digits, i - digits);
        if (i < n && s[i] == '?') {
          cmd.form = CommandForm::kRead;
          ++i;
        } else if (i < n && s[i] == '=') {
          cmd.form = CommandForm::kSet;
          size_t value = ++i;
          while (i < n && IsDigit(s[i])) ++i;
          cmd.args = s.substr(value, i - value);
        }
      } else {
        size_t digits = i;
        while (i < n && IsDigit(s[i])) ++i;
        cmd.args = s.substr(digits, i - digits);
        if (i < n && s[i] == '?') {
          cmd.form = CommandForm::kRead;
          ++i;
        }
      }
    } else {
      return std::nullopt;
    }
    commands.push_back(std::move(cmd));
  }
  return commands;
}

std::vector<std::string> SplitArgs(std::string_view args) {
  std::vector<std::string> out;
  if (args.empty()) return out;
  std::string current;
  bool quoted = false;
  for (char c : args) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted) {
      out.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  out.push_back(current);
  return out;
}

std::string Unquote(std::string_view arg) {
  if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') {
    return std::string(arg.substr(1, arg.size() - 2));
  }
  return std::string(arg);
}

std::optional<int> ParseInt(std::string_view arg) {
  size_t i = 0;
  while (i < arg.size() && arg[i] == ' ') ++i;
  size_t end = arg.size();
  while (end > i && arg[end - 1] == ' ') --end;
  if (i == end || end - i > 9) return std::nullopt;
  int value = 0;
  for (; i < end; ++i) {
    if (!IsDigit(arg[i])) return std::nullopt;
    value = value * 10 + (arg[i] - '0');
  }
  return value;
}

}  // namespace tarvex::modemsim
