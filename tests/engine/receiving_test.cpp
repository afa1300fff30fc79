// The receiving operations: the readers of storage and indication answers,
// and the storage selection put back as the modem had it.
#include "engine/receiving.h"

#include "engine/engine_fixture.h"

namespace tarvex {
namespace {

using testing::EngineFixture;

TEST(ReceivingReaders, StorageAnswers) {
  EXPECT_EQ(ReadStorageOf("\r\n+CPMS: \"ME\",3,100,\"SM\",0,30,\"SM\",0,30\r\n"), "ME");
  EXPECT_EQ(ReadStorageOf("\r\n+CPMS: SM,1,30\r\n"), "SM");
  EXPECT_EQ(ReadStorageOf("\r\n"), "");
  EXPECT_EQ(ReadStoragesOffered("+CPMS: (\"SM\",\"ME\",\"SR\"),(\"SM\",\"ME\"),(\"SM\")"),
            (std::vector<std::string>{"SM", "ME", "SR"}));
  EXPECT_EQ(ReadStoragesOffered("+CPMS: \"SM\",\"ME\""), (std::vector<std::string>{"SM", "ME"}));
}

TEST(ReceivingReaders, IndicationModesNeverDeliverDirectly) {
  struct Case {
    const char* answer;
    std::vector<std::string> first_two;
  } cases[] = {
      {"+CNMI: (0-3),(0-3),(0,2),(0-2),(0,1)", {"2,1,0,2,0", "2,1,0,1,0"}},
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

TEST(ReceivingReaders, WholeNoticesKeepAHeaderWithoutItsPdu) {
  const std::string cmti = "\r\n+CMTI: \"SM\",3\r\n";
  EXPECT_EQ(WholeNotices(cmti), cmti.size());
  EXPECT_EQ(WholeNotices("\r\n+CMTI: \"SM\""), 2u);
  EXPECT_EQ(WholeNotices("\r\n+CDS: 25\r\n"), 2u);
  const std::string cds = "\r\n+CDS: 25\r\n0791AB\r\n";
  EXPECT_EQ(WholeNotices(cds), cds.size());
}

class ReceivingTest : public EngineFixture {};

TEST_F(ReceivingTest, ListingPutsTheReadStorageBack) {
  OpenSlot();
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

TEST_F(ReceivingTest, RefusedModesAreSkippedAndAnIdleNoticeIsFiled) {
  OpenSlot();
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
}  // namespace tarvex
