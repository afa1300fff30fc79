// What a receiver meets: arrivals announced as +CNMI asks (or not at all),
// long messages out of order, a full storage, the SIM's PIN and busy states,
// the network, the device going away.  Each case runs control lines and AT
// lines through the fixture and compares the bytes.  Status reports are read
// end to end: handed over with +CDS in the demo, kept in SR in the status
// test.
#include <gtest/gtest.h>

#include "modemsim/sim_fixture.h"

namespace tarvex::modemsim {
namespace {

class ReceivingTest : public SimTest {
 protected:
  // With the echo off, runs the steps in order: "AT..." lines get their
  // reply, anything else is a control line; returns all the modem sent.
  std::string Run(ModemOptions options, const std::vector<std::string>& steps) {
    Start(std::move(options));
    EchoOff();
    std::string out;
    for (const std::string& step : steps) {
      if (step.rfind("AT", 0) == 0) {
        out += Command(step);
      } else {
        modem().Control(*ParseControlLine(step), now_);
        out += Write("");
      }
    }
    return out;
  }
};

const std::string kHi = "deliver from=+31611112222 text=Hi";
const std::string kCmti = "\r\n+CMTI: \"SM\",1\r\n";

TEST_F(ReceivingTest, IndicationsFollowCnmi) {
  ModemOptions narrow;
  narrow.cnmi_modes = "(1,2),(0,1),(0),(0,2),(0)";
  ModemOptions mute;
  mute.faults.no_indications = true;
  const struct {
    const char* name;
    std::vector<std::string> steps;
    std::string expected;
    ModemOptions options = {};
  } kCases[] = {
      {"mode 0 keeps it until mode 2",
       {"AT+CNMI=0,1", kHi, "AT+CNMI=2"},
       "\r\nOK\r\n\r\nOK\r\n" + kCmti},
      {"mt 0 stores silently",
       {kHi, "AT+CPMS?"},
       "\r\n+CPMS: \"SM\",1,30,\"SM\",1,30,\"SM\",1,30\r\n\r\nOK\r\n"},
      {"no indications ever", {"AT+CNMI=2,1", kHi}, "\r\nOK\r\n", mute},
      {"a mode the modem refuses",
       {"AT+CMEE=1;+CNMI=?", "AT+CNMI=2,2", "AT+CNMI=3,1"},
       "\r\n+CNMI: (1,2),(0,1),(0),(0,2),(0)\r\n\r\nOK\r\n"
       "\r\n+CMS ERROR: 303\r\n\r\n+CMS ERROR: 303\r\n",
       narrow},
      {"a bogus index",
       {"AT+CNMI=1,1", "indicate index=9", "AT+CMEE=1;+CMGR=9"},
       "\r\nOK\r\n\r\n+CMTI: \"SM\",9\r\n\r\n+CMS ERROR: 321\r\n"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Run(c.options, c.steps), c.expected) << c.name;
  // <mt> 2 hands the PDU over instead of storing it.
  EXPECT_NE(Run(ModemOptions{}, {"AT+CNMI=2,2", kHi}).find("\r\n+CMT: ,"), std::string::npos);
  EXPECT_EQ(modem().store("SM")->used(), 0);
}

TEST_F(ReceivingTest, LongMessagePartsArriveInTheirOrderAndTime) {
  Run(ModemOptions{}, {"AT+CNMI=2,1", "deliver from=+447700900123 text=\"" + std::string(400, 'x') +
                                          "\" order=3,1 gap=1000 ref=42 after=500"});
  EXPECT_EQ(emissions_.back(), (Emission{2500, "\r\n+CMTI: \"SM\",2\r\n"}));
  EXPECT_EQ(Decoded(*modem().store("SM")->Find(1)).MultiPartSMSNumber(), 3);
  EXPECT_EQ(Decoded(*modem().store("SM")->Find(2)).MultiPartSMSRef(), "00032A");
  EXPECT_THROW(modem().Control(*ParseControlLine("deliver text=x order=2"), now_),
               std::runtime_error);
  EXPECT_THROW(ParseControlLine("deliver text=\"open"), std::runtime_error);
}

TEST_F(ReceivingTest, FullStorageHoldsArrivalsUntilRoomIsMade) {
  ModemOptions o;
  o.sim_total = 1;
  o.faults.full_error = true;
  EXPECT_EQ(Run(o, {"AT+CNMI=2,1", kHi, kHi, "AT+CMGD=1"}),
            "\r\nOK\r\n" + kCmti + "\r\n+CMS ERROR: 322\r\n\r\nOK\r\n" + kCmti);
}

TEST_F(ReceivingTest, SimPinBusyAndNetwork) {
  ModemOptions o;
  o.sim.pin = "1234";
  o.sim.busy_commands = 1;
  EXPECT_EQ(Run(o, {"AT+CMEE=1", "AT+CPIN?", "AT+CPIN?", "AT+CPMS?", "AT+CREG?", "AT+CPIN=\"1111\"",
                    "AT+CPIN=\"2222\"", "AT+CPINR=\"SIM PIN\"", "AT+CPIN=\"3333\"", "AT+CPIN?",
                    "AT+CPIN=\"12345678\",\"4321\"", "AT+CPIN?",
                    "set registration=roaming signal=99", "AT+CREG?;+CSQ"}),
            "\r\nOK\r\n\r\n+CME ERROR: 14\r\n\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n"
            "\r\n+CMS ERROR: 311\r\n\r\n+CREG: 0,0\r\n\r\nOK\r\n"
            "\r\n+CME ERROR: 16\r\n\r\n+CME ERROR: 16\r\n\r\n+CPINR: SIM PIN,1,3\r\n\r\nOK\r\n"
            "\r\n+CME ERROR: 16\r\n\r\n+CPIN: SIM PUK\r\n\r\nOK\r\n\r\nOK\r\n"
            "\r\n+CPIN: READY\r\n\r\nOK\r\n\r\n+CREG: 0,5\r\n\r\n+CSQ: 99,99\r\n\r\nOK\r\n");
  EXPECT_THROW(modem().Control(*ParseControlLine("set signal=40"), now_), std::runtime_error);
}

TEST_F(ReceivingTest, VanishedDeviceComesBackReset) {
  ModemOptions o;
  o.sim.pin = "1234";
  Run(o, {"AT+CPIN=\"1234\"", "vanish back=3000 after=100"});
  EXPECT_EQ(hung_up_at_, 1100);
  modem().Reattach(now_ + 3000);
  EXPECT_EQ(Command("AT+CPIN?"), "AT+CPIN?\r\r\n+CPIN: SIM PIN\r\n\r\nOK\r\n");
}

}  // namespace
}  // namespace tarvex::modemsim
