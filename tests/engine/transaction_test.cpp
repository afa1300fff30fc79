// The standard transaction through the public queries: how replies arrive,
// when a wait ends, stale and unsolicited input, the argument guard, and what
// the host's pump may do while a query waits.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

using TransactionTest = SlotOneTest;

TEST_F(TransactionTest, ReplyShapesGiveTheirResult) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::string expected;
  } cases[] = {
      {"whole", {"\r\nE173\r\n\r\nOK\r\n"}, "E173"},
      {"byte by byte", {"\r", "\n", "E", "1", "\r", "\n", "\r", "\n", "O", "K", "\r", "\n"}, "E1"},
      {"OK and ERROR", {"\r\nOK\r\n\r\nERROR\r\n"}, "ERROR"},
      {"extended equipment error in pieces", {"\r\n+CME ERR", "OR: 10\r", "\n"}, "ERROR"},
      {"indicator events are no answer", {"\r\n+CIEV: 1,24\r\n\r\nE173\r\n\r\nOK\r\n"}, "E173"},
      {"a word holding OK is no final code", {"\r\nNOK\r\n", "\r\nOK\r\n"}, "NOK"},
      {"unsolicited lines in front",
       {"\r\n^RSSI:18\r\n", "\r\n+CMTI: \"SM\",4\r\n", "\r\nE173\r\n\r\nOK\r\n"},
       "E173"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto& step = modem().Expect("AT+CGMM\r");
    for (const auto& chunk : c.chunks) step.Reply(chunk);
    EXPECT_EQ(engine().DeviceModel(1), c.expected);
    ExpectScriptMet();
  }
}

TEST_F(TransactionTest, SilenceRunsToTheDeadline) {
  struct Case {
    const char* name;
    std::string command, reply;
    std::function<std::string()> call;
    std::string expected;
  } cases[] = {
      {"silent", "AT+CGMM\r", "", [&] { return engine().DeviceModel(1); }, "TIMEOUT"},
      {"OK without its CR LF", "AT+CGMM\r", "\r\nE173\r\n\r\nOK",
       [&] { return engine().DeviceModel(1); }, "TIMEOUT"},
      {"storage", "AT+CPMS?\r", "", [&] { return engine().GetMessageStorageID(1); }, "0"},
      {"ussd request", "AT+CUSD=1,\"*100#\",15\r", "",
       [&] { return engine().SendCommand(1, "*100#"); }, "TIMEOUT"},
  };
  engine().SetCommandTimeout(2000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    modem().Expect(c.command);
    if (!c.reply.empty()) modem().Reply(c.reply);
    const uint32_t start = clock().TickCount();
    EXPECT_EQ(c.call(), c.expected);
    // 10 ms pause after the command, then the whole timeout of silence.
    EXPECT_EQ(clock().TickCount() - start, 10u + 2000u);
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
      {"*100#\r", "U+000D (carriage return)"},
      {std::string("x\0y", 3), "U+0000 (null)"},
      {"x\x1A", "U+001A (substitute, Ctrl-Z)"},
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
  // Nothing is written to a port that is gone.
  EXPECT_EQ(ErrorOf([&] { engine().DeviceIMEI(1); }), kPortNotOpen);
  EXPECT_EQ(modem().Writes(), std::vector<std::string>{"AT+CGMM\r"});

  EXPECT_EQ(ErrorOf([&] { engine().DeviceModel(9); }), kSubscriptOutOfRange);
  EXPECT_FALSE(engine().DeviceClose(9));
  ASSERT_TRUE(engine().DeviceClose(1));
  EXPECT_EQ(ErrorOf([&] { engine().RemoveMessage(1, 1); }), kPortNotOpen);
}

}  // namespace
}  // namespace tarvex::testing
