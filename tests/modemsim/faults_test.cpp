// Fault options: each one changes what or when the modem answers, and nothing
// else.  Times are the simulated milliseconds the fixture moves through.  What
// the tool makes of a silent modem, refused commands and +CMS ERROR is its
// own test's, over a scripted port; here the bytes and their timing.
#include <gtest/gtest.h>

#include "modemsim/modem.h"
#include "modemsim/output_queue.h"
#include "modemsim/sim_fixture.h"

namespace tarvex::modemsim {
namespace {

class FaultTest : public SimTest {
 protected:
  void StartWith(Faults faults) {
    ModemOptions options;
    options.faults = std::move(faults);
    Start(std::move(options));
  }
};

TEST(OutputQueueTest, APieceDueMidChunkWaitsForTheOneLeaving) {
  OutputQueue q;
  q.SetChunking(4, 2);
  q.Push(0, "0123456789");
  q.Push(1, "URC");
  std::vector<Emission> seen;
  while (std::optional<int64_t> t = q.NextDue()) seen.push_back({*t, q.Poll(*t).bytes});
  EXPECT_EQ(seen, (std::vector<Emission>{{0, "0123"}, {2, "4567"}, {4, "89"}, {6, "URC"}}));
}

// Which commands a pattern names is checked with the parser.
TEST_F(FaultTest, SilenceAndErrorsAimAtTheNamedCommand) {
  struct Case {
    Faults faults;
    std::string line, reply;
  } cases[] = {
      {{.silent_on = {"CGMM"}}, "AT+CGMI;+CGMM", "AT+CGMI;+CGMM\r"},
      {{.silent_on = {"AT"}}, "AT", "AT\r"},
      {{.silent = true}, "AT", ""},
      {{.cms_error_on = {{"CMGD", 321}}}, "AT+CMGD=1", "AT+CMGD=1\r\r\n+CMS ERROR: 321\r\n"},
      {{.error_on = {"+CGMM"}}, "AT+CGMI;+CGMM", "AT+CGMI;+CGMM\r\r\nTarvex\r\n\r\nERROR\r\n"},
      {{.garbage_before = {"CSQ"}, .garbage = "#~\xFF"},
       "AT+CSQ",
       "AT+CSQ\r#~\xFF\r\n+CSQ: 21,99\r\n\r\nOK\r\n"},
      {{.urc_before = {"CPMS"}},
       "AT+CPMS?",
       "AT+CPMS?\r\r\n+CMTI: \"SM\",3\r\n\r\n+CPMS: "
       "\"SM\",0,30,\"SM\",0,30,\"SM\",0,30\r\n\r\nOK\r\n"},
  };
  for (Case& c : cases) {
    StartWith(c.faults);
    EXPECT_EQ(Command(c.line), c.reply) << c.line;
  }
  // A refused command has no effect: the echo stays on.
  StartWith({.error_on = {"E0"}});
  EXPECT_EQ(Command("ATE0"), "ATE0\r\r\nERROR\r\n");
  EXPECT_TRUE(modem().echo());
}

TEST_F(FaultTest, HangUpComesWithTheLineAfterTheLastAnswered) {
  StartWith({.hangup_after = 2});
  EXPECT_EQ(Command("AT") + Command("AT+CSQ"),
            "AT\r\r\nOK\r\nAT+CSQ\r\r\n+CSQ: 21,99\r\n\r\nOK\r\n");
  now_ = 5000;
  EXPECT_EQ(Command("AT+CGMI"), "AT+CGMI\r");
  EXPECT_EQ(hung_up_at_, 5000);
  EXPECT_EQ(Command("AT"), "");
  EXPECT_FALSE(modem().NextWake());
}

}  // namespace
}  // namespace tarvex::modemsim
