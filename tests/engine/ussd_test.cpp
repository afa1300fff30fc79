// USSD requests: the request's own answer, then the network's "+CUSD:" line
// in the shapes modems use, against the TimeOut.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

constexpr const char* kRequest = "AT+CUSD=1,\"*100#\",15\r";

using UssdTest = SlotOneTest;

// What the tool sees of an answer.
std::string Detail(const UssdAnswer& a) {
  const char* outcomes[] = {"done", "refused", "no answer"};
  return std::string(outcomes[a.outcome]) + " " + std::to_string(a.status) + "," +
         std::to_string(a.dcs) + "," + a.text + (a.by_network ? " by the network" : "");
}

// Status 4 or 2 without text is the network's refusal for the tool; the
// documented result stays the empty text.
TEST_F(UssdTest, AnswersInTheirShapes) {
  struct Case {
    const char* name;
    const char* reads;  // 100 ms apart
    const char* result;
    const char* detail;
  } cases[] = {
      {"menu", "\r\nOK\r\n|\r\n+CUSD: 1,\"Menu\",15\r\n", "MENU", "done 1,15,Menu"},
      {"another coding scheme ends the wait too", "\r\nOK\r\n|\r\n+CUSD: 0,\"Saldo 3\",0\r\n",
       "SALDO 3", "done 0,0,Saldo 3"},
      {"UCS2", "\r\nOK\r\n|\r\n+CUSD: 0,\"0041\",72\r\n", "A", "done 0,72,0041"},
      {"ended with a text", "\r\nOK\r\n|\r\n+CUSD: 2,\"Bye\",15\r\n", "BYE", "done 2,15,Bye"},
      {"not supported", "\r\nOK\r\n|\r\n+CUSD: 4\r\n", "", "refused 4,-1, by the network"},
      {"ended without text", "\r\nOK\r\n|\r\n+CUSD: 2\r\n", "", "refused 2,-1, by the network"},
      {"answer in pieces", "\r\nOK\r\n|\r\n+CUSD: 0,\"Bal|ance 5\",1|5\r|\n", "BALANCE 5",
       "done 0,15,Balance 5"},
      {"menu over several lines",
       "\r\nOK\r\n|\r\n+CUSD: 1,\"1 Balance\r\n|2 Bundles\r\n|3 Help\",15\r\n",
       "1 BALANCE\r\n2 BUNDLES\r\n3 HELP", "done 1,15,1 Balance\r\n2 Bundles\r\n3 Help"},
      {"notice before the answer", "\r\nOK\r\n|\r\n^RSSI:12\r\n|\r\n+CUSD: 0,\"Ok 1\",15\r\n",
       "OK 1", "done 0,15,Ok 1"},
      {"network error", "\r\nOK\r\n|\r\n+CME ERROR: 100\r\n", "ERROR", "refused -1,-1,"},
      {"answer with the OK", "\r\nOK\r\n\r\n+CUSD: 0,\"Balance 7\",15\r\n", "BALANCE 7",
       "done 0,15,Balance 7"},
      {"answer before the OK", "\r\n+CUSD: 0,\"First\",15\r\n\r\nOK\r\n", "FIRST",
       "done 0,15,First"},
      {"refused", "\r\nERROR\r\n", "ERROR", "refused -1,-1,"},
      {"refused with a reason", "\r\n+CME ERROR: 30\r\n", "ERROR", "refused -1,-1,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Script(kRequest, c.reads, 100);
    EXPECT_EQ(engine().SendCommand(1, "*100#"), c.result);
    Script(kRequest, c.reads, 100);
    EXPECT_EQ(Detail(engine().RunUssd(1, "*100#")), c.detail);
  }
  EXPECT_TRUE(engine().TakeIndications().empty());
  ExpectScriptMet();
}

TEST_F(UssdTest, TimeOutBoundsTheWaitForTheAnswer) {
  struct Case {
    const char* name;
    int32_t timeout;  // -2: left out (10000)
    uint32_t answer_after;
    std::string expected;
  } cases[] = {
      {"default, in time", -2, 9990, "BALANCE 1"},
      {"default, too late", -2, 10015, "TIMEOUT"},
      {"short, too late", 500, 600, "TIMEOUT"},
      {"zero: one read, even with the answer waiting", 0, 0, "TIMEOUT"},
      {"negative", -1, 0, "TIMEOUT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().Expect(kRequest).Reply("\r\nOK\r\n");
    modem().ReplyAfter(c.answer_after, "\r\n+CUSD: 0,\"Balance 1\",15\r\n");
    const std::string result = c.timeout == -2 ? engine().SendCommand(1, "*100#")
                                               : engine().SendCommand(1, "*100#", c.timeout);
    EXPECT_EQ(result, c.expected);
    EXPECT_TRUE(modem().PortOpen());
    clock().Advance(20000);  // let a late answer arrive; the next request drops it
  }
  ExpectScriptMet();
}

TEST_F(UssdTest, HostEventsRunWhileTheNetworkAnswers) {
  modem().Expect(kRequest).Reply("\r\nOK\r\n").ReplyAfter(3000, "\r\n+CUSD: 0,\"X\",15\r\n");
  EXPECT_EQ(engine().SendCommand(1, "*100#"), "X");
  // One pass per poll; a poll that finds nothing sleeps on the port until a
  // byte arrives (the Windows port also wakes for the host's messages), so
  // three silent seconds cost a handful of polls, not one every few ms.
  EXPECT_GE(pump().Passes(), 1);
  EXPECT_LE(pump().Passes(), 5);
}

}  // namespace
}  // namespace tarvex::testing
