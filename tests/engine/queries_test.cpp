// The device and storage queries against replies in the shape of several
// makers' modems, and the value each query gives for a refusal.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

class QueriesTest : public SlotOneTest {
 protected:
  std::string Ask(const std::string& command, const std::string& reply,
                  const std::function<std::string()>& call) {
    modem().ClearLog();
    modem().Expect(command).Reply(reply);
    std::string result = call();
    ExpectScriptMet();
    return result;
  }
};

TEST_F(QueriesTest, IdentityOfRealModems) {
  struct Case {
    const char* modem;
    std::string maker_reply, maker, model_reply, model, imei_reply, imei;
  } cases[] = {
      {"Huawei E173 with its notices", "\r\n^RSSI:17\r\n\r\nhuawei\r\n\r\nOK\r\n", "HUAWEI",
       "\r\n^MODE:5,4\r\n\r\n^SRVST:2\r\n\r\nE173\r\n\r\nOK\r\n", "E173",
       "\r\n^BOOT:31563406,0,0,0,72\r\n\r\n351234567890123\r\n\r\nOK\r\n", "351234567890123"},
      {"Sierra Wireless MC7455", "\r\nSierra Wireless, Incorporated\r\n\r\nOK\r\n",
       "SIERRA WIRELESS, INCORPORATED", "\r\nMC7455\r\n\r\nOK\r\n", "MC7455",
       "\r\n359072060000000\r\n\r\nOK\r\n", "359072060000000"},
      {"Quectel EC25, prefixed forms", "\r\n+CGMI: Quectel\r\n\r\nOK\r\n", "QUECTEL",
       "\r\n+CGMM: EC25\r\n\r\nOK\r\n", "EC25", "\r\n+CGSN: 866758040000000\r\n\r\nOK\r\n",
       "866758040000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modem);
    EXPECT_EQ(Ask("AT+CGMI\r", c.maker_reply, [&] { return engine().DeviceManufacture(1); }),
              c.maker);
    EXPECT_EQ(Ask("AT+CGMM\r", c.model_reply, [&] { return engine().DeviceModel(1); }), c.model);
    EXPECT_EQ(Ask("AT+CGSN\r", c.imei_reply, [&] { return engine().DeviceIMEI(1); }), c.imei);
  }
}

TEST_F(QueriesTest, StorageAndRemoval) {
  EXPECT_EQ(Ask("AT+CPMS?\r", "\r\n^RSSI:9\r\n\r\n+CPMS: \"me\",0,255,\"SM\",0,30\r\n\r\nOK\r\n",
                [&] { return engine().GetMessageStorageID(1); }),
            "ME");
  EXPECT_EQ(Ask("AT+CPMS=\"ME\"\r", "\r\n+CPMS: 0,255,0,30,0,30\r\n\r\nOK\r\n",
                [&] { return engine().SetMessageStorageID(1, "ME"); }),
            "OK");
  EXPECT_EQ(Ask("AT+CMGD=-3\r", "\r\nOK\r\n", [&] { return engine().RemoveMessage(1, -3); }), "OK");
  EXPECT_EQ(
      Ask("AT+CMGD=123456\r", "\r\nOK\r\n", [&] { return engine().RemoveMessage(1, 123456); }),
      "OK");
  // A refusal: "0" for the storage query, "ERROR" for the others.
  for (const std::string r :
       {"\r\nERROR\r\n", "\r\n+CME ERROR: 3\r\n", "\r\n+CMS ERROR: 321\r\n"}) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Ask("AT+CPMS?\r", r, [&] { return engine().GetMessageStorageID(1); }), "0");
    EXPECT_EQ(Ask("AT+CPMS=\"SM\"\r", r, [&] { return engine().SetMessageStorageID(1, "SM"); }),
              "ERROR");
    EXPECT_EQ(Ask("AT+CMGD=7\r", r, [&] { return engine().RemoveMessage(1, 7); }), "ERROR");
  }
}

// The tool's outcome tells the modem's reason from silence; the documented
// result stays "ERROR" / "TIMEOUT".
TEST_F(QueriesTest, OutcomesCarryTheModemsReason) {
  engine().SetCommandTimeout(1000);
  const struct {
    std::string reply;
    Answer::Outcome outcome;
    FinalCode::Kind kind;
    int number;
  } cases[] = {
      {"\r\n+CME ERROR: 10\r\n", Answer::kRefused, FinalCode::kCmeError, 10},
      {"\r\n+CMS ERROR: 321\r\n", Answer::kRefused, FinalCode::kCmsError, 321},
      {"\r\nERROR\r\n", Answer::kRefused, FinalCode::kError, -1},
      {"", Answer::kNoAnswer, FinalCode::kNone, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    modem().Expect("AT+CGMM\r").Reply(c.reply);
    const Answer a = engine().Ask(1, Tarvex::Query::kModel);
    EXPECT_EQ(a.outcome, c.outcome);
    EXPECT_EQ(a.error.kind, c.kind);
    EXPECT_EQ(a.error.number, c.number);
    EXPECT_EQ(a.Result(), c.outcome == Answer::kRefused ? "ERROR" : "TIMEOUT");
  }
  ExpectScriptMet();
}

// The tool's option: numeric extended errors after the documented
// initialisation; a modem that refuses them is opened all the same.
TEST_F(QueriesTest, ExtendedErrorsFollowTheInitialisation) {
  engine().SetExtendedErrors(true);
  for (const char* answer : {"\r\nOK\r\n", "\r\nERROR\r\n"}) {
    Configure(2, "4", "9600");
    ScriptInitialisation(2);
    modem(2).Expect("AT+CMEE=1\r").Reply(answer);
    EXPECT_TRUE(engine().DeviceOpen(2)) << answer;
    EXPECT_TRUE(engine().DeviceClose(2));
    ExpectScriptMet(2);
  }
}

}  // namespace
}  // namespace tarvex::testing
