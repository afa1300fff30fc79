// The standard transaction through the public queries and USSD requests:
// replies of several makers' modems and in odd pieces, when a wait ends, stale
// and unsolicited input, the argument guard, the host's pump during a wait.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

using TransactionTest = SlotOneTest;
constexpr const char* kRequest = "AT+CUSD=1,\"*100#\",15\r";
// Each query as a row can name it.
using Call = std::string (*)(Tarvex&);
std::string Maker(Tarvex& e) { return e.DeviceManufacture(1); }
std::string Model(Tarvex& e) { return e.DeviceModel(1); }
std::string Imei(Tarvex& e) { return e.DeviceIMEI(1); }
std::string Storage(Tarvex& e) { return e.GetMessageStorageID(1); }
std::string RemoveMinus3(Tarvex& e) { return e.RemoveMessage(1, -3); }

TEST_F(TransactionTest, RepliesGiveTheirResult) {
  struct Case {
    const char* name;
    const char* command;
    Call call;
    std::string reply;  // its reads split at '|'; empty: a silent modem
    const char* expected;
  } cases[] = {
      {"Huawei E173 with its notices", "AT+CGMI\r", Maker,
       "\r\n^RSSI:17\r\n\r\nhuawei\r\n\r\nOK\r\n", "HUAWEI"},
      {"Quectel EC25, prefixed", "AT+CGMI\r", Maker, "\r\n+CGMI: Quectel\r\n\r\nOK\r\n", "QUECTEL"},
      {"Quectel EC25, prefixed", "AT+CGSN\r", Imei, "\r\n+CGSN: 866758040000000\r\n\r\nOK\r\n",
       "866758040000000"},
      {"byte by byte", "AT+CGMM\r", Model, "\r|\n|E|1|\r|\n|\r|\n|O|K|\r|\n", "E1"},
      {"OK and ERROR", "AT+CGMM\r", Model, "\r\nOK\r\n\r\nERROR\r\n", "ERROR"},
      {"extended error in pieces", "AT+CGMM\r", Model, "\r\n+CME ERR|OR: 10\r|\n", "ERROR"},
      {"a word holding OK is no final code", "AT+CGMM\r", Model, "\r\nNOK\r\n|\r\nOK\r\n", "NOK"},
      {"storage: a notice, lower case", "AT+CPMS?\r", Storage,
       "\r\n^RSSI:9\r\n\r\n+CPMS: \"me\",0,255,\"SM\",0,30\r\n\r\nOK\r\n", "ME"},
      {"storage refused", "AT+CPMS?\r", Storage, "\r\nERROR\r\n", "0"},
      {"remove", "AT+CMGD=-3\r", RemoveMinus3, "\r\nOK\r\n", "OK"},
      // Silence runs to the deadline: the whole timeout after the 10 ms pause.
      {"silent", "AT+CGMM\r", Model, "", "TIMEOUT"},
      {"silent after an OK without its CR LF", "AT+CGMM\r", Model, "\r\nE173\r\n\r\nOK", "TIMEOUT"},
  };
  engine().SetCommandTimeout(2000);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.command);
    modem().ClearLog();
    Script(c.command, c.reply);
    const uint32_t start = clock().TickCount();
    EXPECT_EQ(c.call(engine()), c.expected);
    const bool silent = std::string_view(c.name).starts_with("silent");
    EXPECT_EQ(clock().TickCount() - start, 10u + (silent ? 2000u : 0u));
    // Polls wait on the port instead of spinning: about one read per 5 ms.
    EXPECT_LE(modem().Reads(), 2000 / 5 + 3);
    EXPECT_TRUE(modem().PortOpen());
    ExpectScriptMet();
  }
}

// The deadline counts silence, so a flowing reply is not cut; chatter without
// an answer still ends at ten times the deadline.
TEST_F(TransactionTest, TheDeadlineCountsSilence) {
  engine().SetCommandTimeout(1000);
  modem()
      .Expect("AT+CGMM\r")
      .ReplyAfter(900, "\r\nE1")
      .ReplyAfter(1800, "73\r\n")
      .ReplyAfter(2700, "\r\nOK\r\n");
  EXPECT_EQ(engine().DeviceModel(1), "E173");
  auto& step = modem().Expect("AT+CGMM\r");
  for (uint32_t at = 900; at <= 30000; at += 900) step.ReplyAfter(at, "\r\n^RSSI:18\r\n");
  const uint32_t start = clock().TickCount();
  EXPECT_EQ(engine().DeviceModel(1), "TIMEOUT");
  EXPECT_EQ(clock().TickCount() - start, 10u + 10000u);
}

// Nine backspaces and ";+CMGD=1,4" once made a modem delete every message:
// no control character, DEL or quotation mark reaches a command line.
TEST_F(TransactionTest, TheArgumentGuardRefusesControlCharactersBeforeWriting) {
  const struct {
    std::string text;
    const char* named;
  } cases[] = {
      {"*100#\b\b\b\b\b\b\b\b\b;+CMGD=1,4", "U+0008 (backspace)"},
      {"x\x7F", "U+007F (delete)"},
      {"*100#\",15", "U+0022 (quotation mark)"},
  };
  for (const auto& c : cases) {
    for (auto call : {+[](Tarvex&e, const std::string&t) { e.SendCommand(1, t); },
                      +[](Tarvex&e, const std::string&t) { e.SetMessageStorageID(1, t); }}) {
      try {
        call(engine(), c.text);
        ADD_FAILURE() << c.named << " passed";
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), kInvalidArgument);
        EXPECT_NE(std::string(e.what()).find(c.named), std::string::npos) << e.what();
      }
    }
  }
  EXPECT_EQ(modem().Writes(), std::vector<std::string>{});
  // The slot was left free: the next command goes through.
  modem().Expect("AT+CPMS=\"SM\"\r").Reply("\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  EXPECT_EQ(engine().SetMessageStorageID(1, "SM"), "OK");
}

// Stale input (a late USSD answer, an abandoned command's final code) is
// dropped before the command goes out; notices a receiver needs reach the
// caller, from stale input and from inside a reply; the others are only taken out.
TEST_F(TransactionTest, StaleInputGoesAndNoticesAreHandedToTheCaller) {
  modem().Feed("\r\n+CUSD: 0,\"Late\",15\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",3\r\n\r\n+CIEV: 1,24\r\n");
  modem()
      .Expect("AT+CGMM\r")
      .Reply("\r\n+CDS: 24\r\n0791AA\r\n\r\n^RSSI:9\r\n\r\nE173\r\n\r\nOK\r\n");
  EXPECT_EQ(engine().DeviceModel(1), "E173");
  ExpectScriptMet();
  std::vector<std::string> taken;
  for (const Indication& i : engine().TakeIndications()) {
    EXPECT_EQ(i.ModemID, 1);
    taken.push_back(i.text);
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"+CMTI: \"SM\",3", "+CDS: 24\r\n0791AA"}));
  EXPECT_TRUE(engine().TakeIndications().empty());
}

TEST_F(TransactionTest, ACallFromThePumpOnTheWaitingSlotIsRefusedAndTheWaitGoesOn) {
  modem().Expect("AT+CGMM\r").ReplyAfter(50, "\r\nE1").ReplyAfter(60, "73\r\n\r\nOK\r\n");
  int passes = 0;
  pump().OnEvents([&] {
    ++passes;
    EXPECT_EQ(ErrorOf([&] { engine().DeviceIMEI(1); }), kSlotBusy);
    EXPECT_FALSE(engine().DeviceClose(1));
    EXPECT_EQ(engine().DeviceName(2), "");  // another slot is free to work meanwhile
  });
  EXPECT_EQ(engine().DeviceModel(1), "E173");
  EXPECT_GE(passes, 1);
  EXPECT_TRUE(modem().PortOpen());
  EXPECT_EQ(modem().Writes(), std::vector<std::string>{"AT+CGMM\r"});
}

TEST_F(TransactionTest, AnErrorFromThePumpEndsTheWaitAndLeavesTheSlotUsable) {
  modem().Expect("AT+CGMM\r").ReplyAfter(1000, "\r\nE173\r\n").ReplyAfter(1000, "\r\nOK\r\n");
  pump().OnEvents([&] {
    if (clock().TickCount() > 100000 + 200) throw Error(kInterrupted, "interrupted");
  });
  EXPECT_EQ(ErrorOf([&] { engine().DeviceModel(1); }), kInterrupted);
  pump().OnEvents(nullptr);
  // The abandoned answer is stale now and does not become the next one's.
  clock().Advance(2000);
  modem().Expect("AT+CGMI\r").Reply("\r\nhuawei\r\n\r\nOK\r\n");
  EXPECT_EQ(engine().DeviceManufacture(1), "HUAWEI");
}

TEST_F(TransactionTest, PortErrors) {
  modem().Expect("AT+CGMM\r").Reply("\r\nE1").HangUp();
  EXPECT_EQ(ErrorOf([&] { engine().DeviceModel(1); }), kPortNotOpen);

  EXPECT_EQ(ErrorOf([&] { engine().DeviceModel(9); }), kSubscriptOutOfRange);
  ASSERT_TRUE(engine().DeviceClose(1));
  EXPECT_EQ(ErrorOf([&] { engine().RemoveMessage(1, 1); }), kPortNotOpen);
}

// What the tool sees of an answer.
std::string Detail(const UssdAnswer& a) {
  const char* outcomes[] = {"done", "refused", "no answer"};
  return std::string(outcomes[a.outcome]) + " " + std::to_string(a.status) + "," +
         std::to_string(a.dcs) + "," + a.text + (a.by_network ? " by the network" : "");
}

// Status 4 or 2 without text is the network's refusal for the tool; the
// documented result stays the empty text.
TEST_F(TransactionTest, UssdAnswersInTheirShapes) {
  struct Case {
    const char* name;
    const char* reads;  // 100 ms apart
    const char* result;
    const char* detail;
  } cases[] = {
      {"menu", "\r\nOK\r\n|\r\n+CUSD: 1,\"Menu\",15\r\n", "MENU", "done 1,15,Menu"},
      {"not supported", "\r\nOK\r\n|\r\n+CUSD: 4\r\n", "", "refused 4,-1, by the network"},
      {"ended without text", "\r\nOK\r\n|\r\n+CUSD: 2\r\n", "", "refused 2,-1, by the network"},
      {"answer in pieces", "\r\nOK\r\n|\r\n+CUSD: 0,\"Bal|ance 5\",1|5\r|\n", "BALANCE 5",
       "done 0,15,Balance 5"},
      {"menu over several lines",
       "\r\nOK\r\n|\r\n+CUSD: 1,\"1 Balance\r\n|2 Bundles\r\n|3 Help\",15\r\n",
       "1 BALANCE\r\n2 BUNDLES\r\n3 HELP", "done 1,15,1 Balance\r\n2 Bundles\r\n3 Help"},
      {"network error", "\r\nOK\r\n|\r\n+CME ERROR: 100\r\n", "ERROR", "refused -1,-1,"},
      {"answer before the OK", "\r\n+CUSD: 0,\"First\",15\r\n\r\nOK\r\n", "FIRST",
       "done 0,15,First"},
      {"refused", "\r\nERROR\r\n", "ERROR", "refused -1,-1,"},
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

TEST_F(TransactionTest, UssdTimeOutBoundsTheWaitForTheAnswer) {
  struct Case {
    const char* name;
    int32_t timeout;  // -2: left out (10000)
    uint32_t answer_after;
    std::string expected;
  } cases[] = {
      {"default, in time", -2, 9990, "BALANCE 1"},
      {"default, too late", -2, 10015, "TIMEOUT"},
      {"zero: one read, even with the answer waiting", 0, 0, "TIMEOUT"},
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

TEST_F(TransactionTest, UssdHostEventsRunWhileTheNetworkAnswers) {
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
