#include "modemsim/control.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace tarvex::modemsim {

std::string ControlCommand::Get(const std::string& key, const std::string& otherwise) const {
  auto it = args.find(key);
  return it == args.end() ? otherwise : it->second;
}

std::optional<ControlCommand> ParseControlLine(std::string_view line) {
  std::vector<std::pair<std::string, std::optional<std::string>>> words;
  size_t i = 0;
  const size_t n = line.size();
  auto blank = [&](size_t k) { return std::isspace(static_cast<unsigned char>(line[k])) != 0; };
  while (i < n) {
    while (i < n && blank(i)) ++i;
    if (i >= n) break;
    if (words.empty() && line[i] == '#') return std::nullopt;
    std::string key;
    while (i < n && !blank(i) && line[i] != '=') key += line[i++];
    if (i >= n || line[i] != '=') {
      words.emplace_back(key, std::nullopt);
      continue;
    }
    ++i;
    std::string value;
    if (i < n && line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < n) {
        char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c == '\\' && i < n) {
          c = line[i++];
          if (c == 'n') c = '\n';
        }
        value += c;
      }
      if (!closed) throw std::runtime_error("unterminated quotation after " + key + "=");
    } else {
      while (i < n && !blank(i)) value += line[i++];
    }
    words.emplace_back(key, value);
  }
  if (words.empty()) return std::nullopt;
  if (words[0].second)
    throw std::runtime_error("a line starts with its verb, not " + words[0].first);
  ControlCommand cmd;
  for (char c : words[0].first)
    cmd.verb += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t k = 1; k < words.size(); ++k) {
    std::string key;
    for (char c : words[k].first)
      key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    cmd.args[key] = words[k].second.value_or("");
  }
  return cmd;
}

std::vector<ControlCommand> ParseControlScript(std::string_view text) {
  std::vector<ControlCommand> out;
  int number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    ++number;
    try {
      if (auto cmd = ParseControlLine(text.substr(pos, end - pos))) {
        cmd->line = number;
        out.push_back(std::move(*cmd));
      }
    } catch (const std::exception& e) {
      throw std::runtime_error("script line " + std::to_string(number) + ": " + e.what());
    }
    pos = end + 1;
  }
  return out;
}

std::optional<std::vector<int>> ParseStatusList(std::string_view text) {
  std::vector<int> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find(',', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string word(text.substr(pos, end - pos));
    pos = end + 1;
    if (word == "delivered") {
      out.push_back(0x00);
    } else if (word == "pending") {
      out.push_back(0x21);  // recipient busy, still trying
    } else if (word == "failed") {
      out.push_back(0x46);  // validity period expired
    } else {
      const bool hex = word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
      char* stop = nullptr;
      const long value = word.empty() ? -1 : std::strtol(word.c_str(), &stop, hex ? 16 : 10);
      if (value < 0 || value > 255 || *stop != '\0') return std::nullopt;
      out.push_back(static_cast<int>(value));
    }
  }
  return out;
}

std::optional<int> ParseRegistration(std::string_view text) {
  static constexpr std::string_view kNames[] = {"none",   "home",    "searching",
                                                "denied", "unknown", "roaming"};
  for (int i = 0; i < 6; ++i) {
    if (text == kNames[i]) return i;
  }
  return std::nullopt;
}

}  // namespace tarvex::modemsim
