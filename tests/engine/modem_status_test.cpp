// The modem-state and receiving parsers on replies of named modems, the
// queries that send more than one command, and what a trace may show of a PIN.
#include "engine/modem_status.h"

#include <gtest/gtest.h>

#include "engine/engine_fixture.h"
#include "engine/receiving.h"

namespace tarvex::testing {
namespace {

TEST(ModemStatusParsers, RepliesOfRealModems) {
  struct Case {
    const char* modem;
    std::string text;
    std::string expected;
  };
  auto run = [](const char* what, const std::vector<Case>& cases, auto parse) {
    for (const Case& c : cases) EXPECT_EQ(parse(c.text), c.expected) << what << ": " << c.modem;
  };
  run("tries",
      {{"Quectel EC25 +CPINR", "\r\n+CPINR: SIM PIN,2,3\r\n+CPINR: SIM PUK,10,10\r\n\r\nOK\r\n",
        "2/10"},
       {"Huawei E3372 ^CPIN", "\r\n^CPIN: SIM PIN,3,10,3,10,3\r\n\r\nOK\r\n", "3/10"},
       {"Quectel M95 +QPINC", "\r\n+QPINC: \"SC\",1,9\r\n\r\nOK\r\n", "1/9"},
       {"Sierra MC7455 +CPINC", "\r\n+CPINC: 3,3,10,10\r\n\r\nOK\r\n", "3/10"}},
      [](const std::string& t) {
        PinTries p;
        return ParsePinTries(t, p) ? std::to_string(p.pin) + "/" + std::to_string(p.puk) : "?";
      });
  run("signal",
      {{"Huawei E173, no signal", "\r\n+CSQ: 99,99\r\n\r\nOK\r\n", "99 unknown"},
       {"weakest", "\r\n+CSQ: 1,99\r\n\r\nOK\r\n", "1 -111 dBm 0 bars"}},
      [](const std::string& t) {
        SignalQuality s;
        if (!ParseSignal(t, s)) return std::string("?");
        return std::to_string(s.rssi) + (s.known() ? " " + std::to_string(s.dBm()) + " dBm " +
                                                         std::to_string(s.Bars()) + " bars"
                                                   : " unknown");
      });
  run("registration",
      {{"Quectel EC25 roaming on LTE", "\r\n+CREG: 2,5,\"1A2B\",\"01C2D03\",7\r\n\r\nOK\r\n",
        "2 roaming 1A2B 01C2D03"},
       {"Huawei E173, a notice beside the answer",
        "\r\n+CREG: 1,\"00C3\",\"1A2B\"\r\n\r\n+CREG: 2,3\r\n\r\nOK\r\n",
        "2 registration denied  "}},
      [](const std::string& t) {
        Registration r;
        return ParseRegistration(t, r)
                   ? std::to_string(r.mode) + " " + r.StatusText() + " " + r.lac + " " + r.cell
                   : "?";
      });
  run("service centre",
      {{"Huawei in UCS2 character set", "\r\n+CSCA: \"002B0033003100360032\",145\r\n\r\nOK\r\n",
        "+3162"}},
      [](const std::string& t) {
        ServiceCentre s;
        return ParseServiceCentre(t, s) ? s.number : "?";
      });
}

TEST(ModemStatusParsers, ReportRoutingKeepsTheModemsOtherValues) {
  const auto offers = *ParseCnmiOffers("\r\n+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)\r\n");
  const auto cds_only_stored = *ParseCnmiOffers("+CNMI: (0,1,2),(0,1),(0),(0,2),(0,1)");
  const auto no_reports = *ParseCnmiOffers("+CNMI: (0-2),(0-3),(0),(0),(0,1)");
  struct Case {
    const char* name;
    std::vector<int> found;
    std::vector<std::set<int>> offers;
    std::string expected;
  } cases[] = {
      {"kept", {2, 1, 0, 0, 0}, offers, "2,1,0,1,0"},
      {"mode 0 shows nothing", {0, 1, 0, 0, 1}, offers, "2,1,0,1,1"},
      {"only stored reports", {1, 1, 0, 0, 0}, cds_only_stored, "1,1,0,2,0"},
      {"nothing known", {}, {}, "2,,,1"},
      {"no report routing", {2, 1, 0, 0, 0}, no_reports, "none"},
  };
  for (const Case& c : cases) {
    const auto choice = ChooseReportRouting(c.found, c.offers, 1);
    EXPECT_EQ(choice ? choice->arguments : "none", c.expected) << c.name;
  }
}

TEST(ModemStatusParsers, TracesNeverShowAPin) {
  EXPECT_EQ(MaskSecrets("AT+CPIN=\"1234\"\r"), "AT+CPIN=\"****\"\r");
  EXPECT_EQ(MaskSecrets("at+cpin=12345678\r\nAT+CSQ\r"), "at+cpin=****\r\nAT+CSQ\r");
  EXPECT_EQ(MaskSecrets("AT+CPIN=\"87654321\",\"1234\"\r"), "AT+CPIN=\"****\",\"****\"\r");
  EXPECT_EQ(MaskSecrets("\r\n+CPIN: SIM PIN\r\n"), "\r\n+CPIN: SIM PIN\r\n");
}

TEST(ReceivingReaders, IndicationModesNeverDeliverDirectly) {
  struct Case {
    const char* answer;
    std::vector<std::string> first_two;
  } cases[] = {
      {"+CNMI: (0,1),(0,1,2),(0),(0,1),(0)", {"1,1,0,1,0", "1,1,0,0,0"}},
      {"+CNMI: (0-2),(0-3),(0)", {"2,1,0", "1,1,0"}},  // no <ds>, no <bfr>
      {"", {"2,1,0,2,0", "2,1,0,1,0"}},                // the modem did not tell
  };
  for (const Case& c : cases) {
    const auto modes = IndicationModes(OfferedValues(c.answer));
    ASSERT_GE(modes.size(), 2u) << c.answer;
    EXPECT_EQ(std::vector<std::string>(modes.begin(), modes.begin() + 2), c.first_two) << c.answer;
    for (const std::string& m : modes) EXPECT_EQ(m.substr(1, 3), ",1,") << c.answer;
  }
}

using ModemStatusTest = SlotOneTest;

TEST_F(ModemStatusTest, BusySimIsWaitedForOnTheClock) {
  modem().Expect("AT+CPIN?\r").Reply("\r\n+CME ERROR: 14\r\n");
  modem().Expect("AT+CPIN?\r").Reply("\r\n+CMS ERROR: 314\r\n");
  modem().Expect("AT+CPIN?\r").Reply("\r\n+CPIN: READY\r\n\r\nOK\r\n");
  const uint32_t start = clock().TickCount();
  const PinState ready = engine().AwaitSim(1, 20000);
  EXPECT_TRUE(ready.ready() && ready.waited_busy);
  EXPECT_GE(clock().TickCount() - start, 2000u);
  ExpectScriptMet();

  // A SIM that stays busy is given up on after the wait, not looped on.
  modem().ClearLog();
  for (int i = 0; i < 4; ++i) modem().Expect("AT+CPIN?\r").Reply("\r\n+CME ERROR: 14\r\n");
  EXPECT_TRUE(engine().AwaitSim(1, 3000).busy());
  EXPECT_LE(modem().Writes().size(), 4u);
}

TEST_F(ModemStatusTest, PinIsDigitsOnlyAndNeverInTheMessage) {
  for (const char* bad : {"12a4", "123", "123456789", "1234\";+CMGD=1,4"}) {
    try {
      engine().EnterPin(1, bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kInvalidArgument);
      EXPECT_EQ(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
  ExpectScriptMet();
}

TEST_F(ModemStatusTest, StoredReportIsReadFromItsStorageAndDeleted) {
  const std::string pdu = "0891683108608805F906750D91683109731147F4313050913492003130509134430000";
  modem().Expect("AT+CNMI?\r").Reply("\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n");
  modem().Expect("AT+CNMI=?\r").Reply("\r\n+CNMI: (0-2),(0-3),(0),(0,2),(0,1)\r\n\r\nOK\r\n");
  modem().Expect("AT+CNMI=2,1,0,2,0\r").Reply("\r\nOK\r\n");
  const IndicationRouting routing = engine().RouteStatusReports(1);
  EXPECT_EQ(routing.ds, 2);

  modem().Feed("\r\n+CDSI: \"SR\",3\r\n");
  const std::vector<Indication> notices = engine().AwaitIndications(1, 60000);
  ASSERT_EQ(notices.size(), 1u);
  const auto notice = ParseReportNotice(notices[0].text);
  ASSERT_TRUE(notice);

  modem()
      .Expect("AT+CPMS?\r")
      .Reply("\r\n+CPMS: \"SM\",1,30,\"SM\",1,30,\"SM\",1,30\r\n\r\nOK\r\n");
  modem().Expect("AT+CPMS=\"SR\"\r").Reply("\r\n+CPMS: 1,10,1,30,1,30\r\n\r\nOK\r\n");
  modem().Expect("AT+CMGR=3\r").Reply("\r\n+CMGR: 0,,25\r\n" + pdu + "\r\n\r\nOK\r\n");
  modem().Expect("AT+CMGD=3\r").Reply("\r\nOK\r\n");
  modem().Expect("AT+CPMS=\"SM\"\r").Reply("\r\n+CPMS: 1,30,1,30,1,30\r\n\r\nOK\r\n");
  const Answer read = engine().ReadStored(1, notice->storage, notice->index,
                                          [](const std::string&) { return true; });
  EXPECT_EQ(read.value, pdu);

  modem().Expect("AT+CNMI=2,1,0,0,0\r").Reply("\r\nOK\r\n");
  EXPECT_TRUE(engine().RestoreRouting(1, routing).done());
  ExpectScriptMet();
}

TEST_F(ModemStatusTest, DirectReportWaitsForItsPduLine) {
  modem().Feed("\r\n+CDS: 25\r\n");
  const uint32_t start = clock().TickCount();
  modem().Feed("07911326040000F0060B911326880736F4");
  modem().Feed("111011719551401110117195714000\r\n");
  const std::vector<Indication> notices = engine().AwaitIndications(1, 60000);
  ASSERT_EQ(notices.size(), 1u);
  EXPECT_EQ(ParseReportNotice(notices[0].text)->pdu,
            "07911326040000F0060B911326880736F4111011719551401110117195714000");
  EXPECT_LT(clock().TickCount() - start, 1000u);
  EXPECT_TRUE(engine().AwaitIndications(1, 5000).empty());
}

// Listing another storage must not leave the user's reads pointed at it; a
// notice inside the listing is kept.
TEST_F(ModemStatusTest, ListingPutsTheReadStorageBack) {
  modem()
      .Expect("AT+CPMS?\r")
      .Reply("\r\n+CPMS: \"ME\",1,100,\"ME\",1,100,\"ME\",1,100\r\n\r\nOK\r\n");
  modem().Expect("AT+CPMS=\"SM\"\r").Reply("\r\n+CPMS: 1,30,1,100,1,100\r\n\r\nOK\r\n");
  modem()
      .Expect("AT+CMGL=4\r")
      .Reply("\r\n+CMTI: \"SM\",7\r\n+CMGL: 7,0,,5\r\n0011223344\r\n\r\nOK\r\n");
  modem().Expect("AT+CPMS=\"ME\"\r").Reply("\r\n+CPMS: 1,100,1,100,1,100\r\n\r\nOK\r\n");
  const Listing listing = engine().ListStorage(1, "SM");
  ASSERT_TRUE(listing.done());
  ASSERT_EQ(listing.entries.Count(), 1);
  EXPECT_EQ(listing.entries.Item(1), "7\r\n0011223344");
  ASSERT_EQ(engine().TakeIndications().size(), 1u);
  ExpectScriptMet();
}

TEST_F(ModemStatusTest, RefusedModesAreSkippedAndAnIdleNoticeIsFiled) {
  modem().Expect("AT+CNMI=?\r").Reply("\r\n+CNMI: (0-2),(0-3),(0),(0-2),(0,1)\r\n\r\nOK\r\n");
  modem().Expect("AT+CNMI=2,1,0,2,0\r").Reply("\r\n+CMS ERROR: 303\r\n");
  modem().Expect("AT+CNMI=2,1,0,1,0\r").Reply("\r\nOK\r\n");
  EXPECT_EQ(engine().EnableIndications(1).value, "2,1,0,1,0");
  modem().Feed("\r\n+CMTI: \"S");
  EXPECT_FALSE(engine().WaitForIndication(1, 1000));
  modem().Feed("M\",4\r\n");
  EXPECT_TRUE(engine().WaitForIndication(1, 1000));
  EXPECT_EQ(engine().TakeIndications().at(0).text, "+CMTI: \"SM\",4");
  ExpectScriptMet();
}

}  // namespace
}  // namespace tarvex::testing
