// The device and storage queries against replies captured in the shape of
// several makers' modems, with and without unsolicited lines in front.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

class QueriesTest : public EngineFixture {
 protected:
  void SetUp() override { OpenSlot(1); }

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
    std::string maker_reply, maker;
    std::string model_reply, model;
    std::string imei_reply, imei;
  } cases[] = {
      {"Huawei E173 with its notices", "\r\n^RSSI:17\r\n\r\nhuawei\r\n\r\nOK\r\n", "HUAWEI",
       "\r\n^MODE:5,4\r\n\r\n^SRVST:2\r\n\r\nE173\r\n\r\nOK\r\n", "E173",
       "\r\n^BOOT:31563406,0,0,0,72\r\n\r\n351234567890123\r\n\r\nOK\r\n", "351234567890123"},
      {"Sierra Wireless MC7455", "\r\nSierra Wireless, Incorporated\r\n\r\nOK\r\n",
       "SIERRA WIRELESS, INCORPORATED", "\r\nMC7455\r\n\r\nOK\r\n", "MC7455",
       "\r\n359072060000000\r\n\r\nOK\r\n", "359072060000000"},
      {"Option GlobeTrotter", "\r\nOption N.V.\r\n\r\nOK\r\n", "OPTION N.V.",
       "\r\nGlobeTrotter HSDPA Modem\r\n\r\nOK\r\n", "GLOBETROTTER HSDPA MODEM",
       "\r\n+CGSN: 353456789012345\r\n\r\nOK\r\n", "353456789012345"},
      {"SIMCom SIM800L with a new message notice",
       "\r\n+CMTI: \"SM\",1\r\n\r\nSIMCOM_Ltd\r\n\r\nOK\r\n", "SIMCOM_LTD",
       "\r\nSIMCOM_SIM800L\r\n\r\nOK\r\n", "SIMCOM_SIM800L", "\r\n867856030000000\r\n\r\nOK\r\n",
       "867856030000000"},
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

TEST_F(QueriesTest, RefusalsGiveEachQueryItsErrorValue) {
  const std::string refusals[] = {"\r\nERROR\r\n", "\r\n+CME ERROR: 3\r\n",
                                  "\r\n+CMS ERROR: 321\r\n"};
  for (const auto& r : refusals) {
    SCOPED_TRACE(r);
    EXPECT_EQ(Ask("AT+CGMI\r", r, [&] { return engine().DeviceManufacture(1); }), "ERROR");
    EXPECT_EQ(Ask("AT+CGSN\r", r, [&] { return engine().DeviceIMEI(1); }), "ERROR");
    EXPECT_EQ(Ask("AT+CPMS?\r", r, [&] { return engine().GetMessageStorageID(1); }), "0");
    EXPECT_EQ(Ask("AT+CPMS=\"SM\"\r", r, [&] { return engine().SetMessageStorageID(1, "SM"); }),
              "ERROR");
    EXPECT_EQ(Ask("AT+CMGD=7\r", r, [&] { return engine().RemoveMessage(1, 7); }), "ERROR");
  }
}

TEST_F(QueriesTest, Storage) {
  EXPECT_EQ(Ask("AT+CPMS?\r", "\r\n+CPMS: \"SM\",3,30,\"SM\",3,30,\"SM\",3,30\r\n\r\nOK\r\n",
                [&] { return engine().GetMessageStorageID(1); }),
            "SM");
  EXPECT_EQ(Ask("AT+CPMS?\r", "\r\n^RSSI:9\r\n\r\n+CPMS: \"me\",0,255,\"SM\",0,30\r\n\r\nOK\r\n",
                [&] { return engine().GetMessageStorageID(1); }),
            "ME");
  EXPECT_EQ(Ask("AT+CPMS=\"ME\"\r", "\r\n+CPMS: 0,255,0,30,0,30\r\n\r\nOK\r\n",
                [&] { return engine().SetMessageStorageID(1, "ME"); }),
            "OK");
}

TEST_F(QueriesTest, RemoveMessageWritesTheIndexInDecimal) {
  for (int32_t index : {7, 0, 123456, -3}) {
    const std::string command = "AT+CMGD=" + std::to_string(index) + "\r";
    EXPECT_EQ(Ask(command, "\r\nOK\r\n", [&] { return engine().RemoveMessage(1, index); }), "OK");
  }
}

}  // namespace
}  // namespace tarvex::testing
