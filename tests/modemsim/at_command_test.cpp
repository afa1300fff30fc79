#include "modemsim/at_command.h"

#include <gtest/gtest.h>

namespace tarvex::modemsim {
namespace {

// "NAME/FORM/ARGS" per command, FORM one of a s r t; "!" when unreadable.
std::string Shape(std::string_view body) {
  std::optional<std::vector<AtCommand>> commands = ParseCommandLine(body);
  if (!commands) return "!";
  std::string out;
  for (const AtCommand& c : *commands) {
    const char form = "asrt"[static_cast<int>(c.form)];
    out += (out.empty() ? "" : " ") + c.name + "/" + form + "/" + c.args;
  }
  return out;
}

TEST(ParseCommandLineTest, ReadsLinesAsV250Writes) {
  struct Case {
    const char* body;
    const char* shape;
  } cases[] = {
      {"", ""},
      {"&FE0Q0", "&F/a/ E/a/0 Q/a/0"},
      {"z", "Z/a/"},
      {"+cmgf=0;+CMEE=1", "+CMGF/s/0 +CMEE/s/1"},
      {"+CPMS?", "+CPMS/r/"},
      {"+CMGL=?", "+CMGL/t/"},
      {"+CUSD=1,\"*100#\",15", "+CUSD/s/1,\"*100#\",15"},
      {" + CSQ ", "+CSQ/a/"},
      {"+CSCA=\"+31 6;x\",145", "+CSCA/s/\"+31 6;x\",145"},
      {"S7=45S0?", "S7/s/45 S0/r/"},
      {"E0;+CGMI", "E/a/0 +CGMI/a/"},
      {"^SYSINFO", "^SYSINFO/a/"},
      {"DT123;", "D/a/T123;"},
      // Unreadable: extended command run on, open quote, stray characters.
      {"+CMGF=0+CMEE", "+CMGF/s/0+CMEE"},
      {"+CMGF?+CMEE", "!"},
      {"+CSCA=\"abc", "!"},
      {"+", "!"},
      {"&", "!"},
      {"S=1", "!"},
  };
  for (const Case& c : cases) EXPECT_EQ(Shape(c.body), c.shape) << c.body;
}

TEST(AtCommandTest, FaultPatternsNameCommands) {
  struct Case {
    const char* body;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"+CMGS=5", "CMGS", true}, {"+CMGS=5", "+cmgs", true}, {"+CMGS=5", "AT+CMGS", true},
      {"+CMGS=5", "CMG", false}, {"+CMGSX", "CMGS", false},  {"E0", "E0", true},
      {"E0", "ATE0", true},      {"E1", "E0", false},        {"E1", "E", true},
      {"Z", "ATZ", true},        {"S7=45", "S7", true},      {"^SYSINFO", "SYSINFO", true},
  };
  for (const Case& c : cases) {
    auto commands = ParseCommandLine(c.body);
    ASSERT_TRUE(commands && commands->size() == 1) << c.body;
    EXPECT_EQ(commands->front().Matches(c.pattern), c.matches) << c.body << " ~ " << c.pattern;
  }
}

}  // namespace
}  // namespace tarvex::modemsim
