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

TEST_F(UssdTest, AnswersInTheirShapes) {
  struct Case {
    const char* name;
    std::vector<std::string> after_ok;  // chunks, each 100 ms apart
    std::string expected;
    std::string first = "\r\nOK\r\n";  // the request's own answer
  } cases[] = {
      {"menu", {"\r\n+CUSD: 1,\"Menu\",15\r\n"}, "MENU"},
      {"another coding scheme ends the wait too", {"\r\n+CUSD: 0,\"Saldo 3\",0\r\n"}, "SALDO 3"},
      {"not supported", {"\r\n+CUSD: 4\r\n"}, ""},
      {"answer in pieces", {"\r\n+CUSD: 0,\"Bal", "ance 5\",1", "5\r", "\n"}, "BALANCE 5"},
      {"menu over several lines",
       {"\r\n+CUSD: 1,\"1 Balance\r\n", "2 Bundles\r\n", "3 Help\",15\r\n"},
       "1 BALANCE\r\n2 BUNDLES\r\n3 HELP"},
      {"notice before the answer", {"\r\n^RSSI:12\r\n", "\r\n+CUSD: 0,\"Ok 1\",15\r\n"}, "OK 1"},
      {"network error", {"\r\n+CME ERROR: 100\r\n"}, "ERROR"},
      {"answer with the OK", {}, "BALANCE 7", "\r\nOK\r\n\r\n+CUSD: 0,\"Balance 7\",15\r\n"},
      {"answer before the OK", {}, "FIRST", "\r\n+CUSD: 0,\"First\",15\r\n\r\nOK\r\n"},
      {"refused", {}, "ERROR", "\r\nERROR\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    modem().Expect(kRequest).Reply(c.first);
    uint32_t delay = 0;
    for (const auto& chunk : c.after_ok) modem().ReplyAfter(delay += 100, chunk);
    EXPECT_EQ(engine().SendCommand(1, "*100#"), c.expected);
    ExpectScriptMet();
  }
}

// Status 4 or 2 without text is the network's refusal for the tool; the
// documented result stays the empty text.
TEST_F(UssdTest, RefusalsByTheNetworkAndTheModem) {
  const struct {
    std::string first, answer;
    Answer::Outcome outcome;
    bool by_network;
    int status, dcs;
    std::string text;
  } cases[] = {
      {"\r\nOK\r\n", "\r\n+CUSD: 4\r\n", Answer::kRefused, true, 4, -1, ""},
      {"\r\nOK\r\n", "\r\n+CUSD: 2\r\n", Answer::kRefused, true, 2, -1, ""},
      {"\r\nOK\r\n", "\r\n+CUSD: 2,\"Bye\",15\r\n", Answer::kDone, false, 2, 15, "Bye"},
      {"\r\nOK\r\n", "\r\n+CUSD: 0,\"0041\",72\r\n", Answer::kDone, false, 0, 72, "0041"},
      {"\r\n+CME ERROR: 30\r\n", "", Answer::kRefused, false, -1, -1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer + c.first);
    modem().Expect(kRequest).Reply(c.first);
    if (!c.answer.empty()) modem().ReplyAfter(100, c.answer);
    const UssdAnswer a = engine().RunUssd(1, "*100#");
    EXPECT_EQ(a.outcome, c.outcome);
    EXPECT_EQ(a.by_network, c.by_network);
    EXPECT_EQ(a.status, c.status);
    EXPECT_EQ(a.dcs, c.dcs);
    EXPECT_EQ(a.text, c.text);
  }
  EXPECT_EQ(engine().TakeIndications().size(), 0u);
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
