#include "modemsim/modem.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/deliver_builder.h"
#include "codec/sms_submit.h"
#include "modemsim/sim_fixture.h"

namespace tarvex::modemsim {
namespace {

std::string Deliver(const std::u16string& text) {
  DeliverFields deliver;
  deliver.text = text;
  return BuildDeliverPdu(deliver);
}

std::string Submit(const std::string& to, const std::u16string& text) {
  SMSSubmit submit;
  submit.PhoneNumber = to;
  submit.MessageText = text;
  return submit.Encode();
}

std::string CmgsLine(const std::string& pdu) {
  return "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1);
}

class ModemTest : public SimTest {
 protected:
  // Lines and their whole replies, in order.
  void Run(const std::vector<std::pair<std::string, std::string>>& steps) {
    for (const auto& [line, reply] : steps) EXPECT_EQ(Command(line), reply) << line;
  }
  // AT+CMGS with its length, then the PDU: the reply to the PDU.
  std::string Send(const std::string& pdu) {
    EXPECT_EQ(Command(CmgsLine(pdu)), "\r\n> ");
    return Write(pdu + "\x1A");
  }
};

// Canned answers the tool shows are checked end to end; here the stateful ones.
TEST_F(ModemTest, AnswersLikeAPduModemAndErrorsFollowCmee) {
  ModemOptions options;
  options.identity.manufacturer = "Acme";
  options.identity.model = "GSM-9";
  Start(options);
  EchoOff();
  Run({
      {"AT", "\r\nOK\r\n"},
      {"AT+CGMI;+CGMM", "\r\nAcme\r\n\r\nGSM-9\r\n\r\nOK\r\n"},
      {"AT+COPS=3,2;+COPS?", "\r\n+COPS: 0,2,\"00101\",0\r\n\r\nOK\r\n"},
      {"AT+CMGF=0;+CMGF?", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT+CNMI=2,1;+CNMI?", "\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n"},
      {"ATS7=45S7?", "\r\n045\r\n\r\nOK\r\n"},
      {"AT+XYZ", "\r\nERROR\r\n"},
      {"AT+CMGF=0+CMEE", "\r\nERROR\r\n"},  // unreadable line
      {"hello", ""},                        // not a command line: modems keep quiet
      {"AT+CMGR=99", "\r\nERROR\r\n"},
      {"AT+CMEE=1;+CMGR=99", "\r\n+CMS ERROR: 321\r\n"},
      {"AT+CREG=7", "\r\n+CME ERROR: 3\r\n"},
      // The failing command ends the line: +CSQ never runs.
      {"AT+CPMS=\"XX\";+CSQ", "\r\n+CMS ERROR: 302\r\n"},
      {"AT+CMEE=2;+CMGR=99", "\r\n+CMS ERROR: invalid memory index\r\n"},
      {"AT+CUSD=9", "\r\n+CME ERROR: operation not allowed\r\n"},
      {"ATV0", "0\r"},
      {"AT+CSQ", "+CSQ: 21,99\r\n0\r"},
      {"AT+XYZ", "4\r"},
  });
}

TEST_F(ModemTest, EchoFollowsE0E1AndReset) {
  EXPECT_EQ(Command("AT"), "AT\r\r\nOK\r\n");
  EXPECT_EQ(Write("AT+CGMX\bI\r"), "AT+CGMX\bI\r\r\nTarvex\r\n\r\nOK\r\n");
  EchoOff();
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
  EXPECT_EQ(Command("ATE1"), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT"), "AT\r\r\nOK\r\n");
  EchoOff();
  EXPECT_EQ(Command("ATZ"), "\r\nOK\r\n");
  EXPECT_EQ(Command("AT"), "AT\r\r\nOK\r\n");
  // "A/" repeats the last line at once, with no CR.
  EXPECT_EQ(Write("A/"), "A/\r\nOK\r\n");
}

TEST_F(ModemTest, EachStorageKeepsItsOwnMessages) {
  Start();
  modem().Preload("SM", {kRecUnread, Deliver(u"one")});
  modem().Preload("SM", {kRecRead, Deliver(u"two")});
  const std::string me = Deliver(u"in the phone");
  modem().Preload("ME", {kRecUnread, me});
  EchoOff();
  Run({
      {"AT+CPMS?", "\r\n+CPMS: \"SM\",2,30,\"SM\",2,30,\"SM\",2,30\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"ME\"", "\r\n+CPMS: 1,100,2,30,2,30\r\n\r\nOK\r\n"},
      {"AT+CMGL=4",
       "\r\n+CMGL: 1,0,," + std::to_string(TpduLength(me)) + "\r\n" + me + "\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"SM\",\"ME\",\"ME\"", "\r\n+CPMS: 2,30,1,100,1,100\r\n\r\nOK\r\n"},
      {"AT+CPMS?", "\r\n+CPMS: \"SM\",2,30,\"ME\",1,100,\"ME\",1,100\r\n\r\nOK\r\n"},
      {"AT+CPMS=\"MT\"", "\r\nERROR\r\n"},
  });
}

TEST_F(ModemTest, CmgsTakesThePduAfterThePromptAndLogsIt) {
  EchoOff();
  const std::string pdu = Submit("+31611112222", u"Hi there");
  EXPECT_EQ(Send(pdu), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
  SMSSubmit part;
  part.PhoneNumber = "+447700900123";
  part.MessageText = u"second part";
  const std::string long_pdu = part.EncodeLongSMS("A7", 2, 2);
  EXPECT_EQ(Send(long_pdu), "\r\n+CMGS: 2\r\n\r\nOK\r\n");
  ASSERT_EQ(modem().sent().size(), 2u);
  EXPECT_EQ(SentMessageJson(modem().sent()[0]), R"({"pdu":")" + pdu +
                                                    R"(","to":"+31611112222","text":"Hi there",)" +
                                                    R"("ref":"","part":1,"total":1,"mr":1})");
  EXPECT_EQ(SentMessageJson(modem().sent()[1]),
            R"({"pdu":")" + long_pdu + R"(","to":"+447700900123","text":"second part",)" +
                R"("ref":"0003A7","part":2,"total":2,"mr":2})");
}

// Nothing refused or aborted is sent, and the modem takes commands again.
TEST_F(ModemTest, CmgsRefusesBadPdusAndEscAborts) {
  const std::string pdu = Submit("+31611112222", u"Hi");
  const std::string n = std::to_string(pdu.size() / 2 - 1);
  const std::string wrong = std::to_string(pdu.size() / 2);
  const std::string kCms304 = "\r\n+CMS ERROR: 304\r\n";
  struct Case {
    const char* name;
    std::string prelude;
    std::string line;
    std::string body;  // "": the line itself is refused
    std::string reply;
  } cases[] = {
      {"length off by one", "AT", "AT+CMGS=" + wrong, pdu + "\x1A", "\r\nERROR\r\n"},
      {"length off, numeric", "AT+CMEE=1", "AT+CMGS=" + wrong, pdu + "\x1A", kCms304},
      {"not hex", "AT+CMEE=1", "AT+CMGS=" + n, pdu.substr(0, pdu.size() - 2) + "ZZ\x1A", kCms304},
      {"a deliver, not a submit", "AT+CMEE=1", CmgsLine(Deliver(u"x")), Deliver(u"x") + "\x1A",
       kCms304},
      {"Esc aborts", "AT", "AT+CMGS=" + n, pdu + "\x1B", ""},
      {"text mode", "AT+CMGF=1", "AT+CMGS=" + n, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start();
    EchoOff();
    Command(c.prelude);
    if (c.body.empty()) {
      EXPECT_EQ(Command(c.line), "\r\nERROR\r\n");
    } else {
      EXPECT_EQ(Command(c.line), "\r\n> ");
      EXPECT_EQ(Write(c.body), c.reply);
    }
    EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
    EXPECT_TRUE(modem().sent().empty());
  }
}

TEST_F(ModemTest, LoopbackMessagesArriveAsDeliversWithNotice) {
  ModemOptions options;
  options.loopback_number = "+31699990000";
  options.notify = true;
  options.wall_clock = [] { return WallTime{2027, 1, 2, 3, 4, 5, 0}; };
  Start(options);
  EchoOff();
  EXPECT_EQ(Send(Submit("+31699990000", u"\u041f\u0440\u0438\u0432\u0435\u0442")),
            "\r\n+CMGS: 1\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
  // Same digits, other prefix: not ours.
  EXPECT_EQ(Send(Submit("0031699990000", u"elsewhere")), "\r\n+CMGS: 2\r\n\r\nOK\r\n");
  SMSSubmit part;
  part.PhoneNumber = "+31699990000";
  part.MessageText = u"part one";
  Send(part.EncodeLongSMS("5C", 2, 1));

  MessageStore& sim = *modem().store("SM");
  ASSERT_EQ(sim.used(), 2);
  SMSDeliver wide = Decoded(*sim.Find(1));
  EXPECT_EQ(wide.PhoneNumber(), "+31699990000");
  EXPECT_EQ(wide.MessageText(), u"\u041f\u0440\u0438\u0432\u0435\u0442");
  EXPECT_EQ(wide.DataCoding(), 8);
  EXPECT_EQ(wide.MessageTime().year, 2027);
  SMSDeliver joined = Decoded(*sim.Find(2));
  EXPECT_EQ(joined.MultiPartSMSRef(), "00035C");
  EXPECT_EQ(joined.MultiPartSMSNumber(), 1);
  EXPECT_EQ(joined.MessageText(), u"part one");
  EXPECT_EQ(sim.Find(2)->stat, kRecUnread);
}

class StoredMessagesTest : public ModemTest {
 protected:
  void SetUp() override {
    Start();
    pdus_.clear();
    for (int stat : {kRecUnread, kRecRead, kStoSent, kStoUnsent, kRecUnread}) {
      pdus_.push_back(
          Deliver(u"message " + std::u16string(1, static_cast<char16_t>(u'0' + pdus_.size()))));
      modem().Preload("SM", {stat, pdus_.back()});
    }
    EchoOff();
  }
  std::vector<int> Left() { return modem().store("SM")->Indices(kStatAll); }
  // Every preloaded PDU has the same length.
  std::string Header(const std::string& fields) {
    return fields + ",," + std::to_string(TpduLength(pdus_[0]));
  }
  std::vector<std::string> pdus_;
};

TEST_F(StoredMessagesTest, ListingShowsHeadersAndMarksUnreadRead) {
  EXPECT_EQ(Command("AT+CMGL=0"), "\r\n" + Header("+CMGL: 1,0") + "\r\n" + pdus_[0] + "\r\n" +
                                      Header("+CMGL: 5,0") + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CMGL=0"), "\r\nOK\r\n");
  std::string read = Command("AT+CMGL=1");
  for (const char* index : {"1", "2", "5"}) {
    EXPECT_NE(read.find(Header(std::string("+CMGL: ") + index + ",1")), std::string::npos) << index;
  }
  EXPECT_EQ(Command("AT+CMGL=3"),
            "\r\n" + Header("+CMGL: 3,3") + "\r\n" + pdus_[2] + "\r\n\r\nOK\r\n");
  std::string all = Command("AT+CMGL=4");
  EXPECT_EQ(std::count(all.begin(), all.end(), '+'), 5);
  EXPECT_EQ(Command("AT+CMGL=5"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT+CMGF=1;+CMGL=4"), "\r\nERROR\r\n");
}

TEST_F(StoredMessagesTest, ReadingOneGivesItsHeaderAndMarksItRead) {
  EXPECT_EQ(Command("AT+CMGR=5"),
            "\r\n" + Header("+CMGR: 0") + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CMGR=5").substr(0, 11), "\r\n+CMGR: 1,");
  EXPECT_EQ(Command("AT+CMGR=4").substr(0, 11), "\r\n+CMGR: 2,");
  Command("AT+CMEE=1");
  EXPECT_EQ(Command("AT+CMGR=6"), "\r\n+CMS ERROR: 321\r\n");  // empty place
  EXPECT_EQ(Command("AT+CMGR=0"), "\r\n+CMS ERROR: 321\r\n");
}

TEST_F(StoredMessagesTest, DeleteByIndexAndByFlag) {
  // Stats by index: 1 unread, 2 read, 3 sent, 4 unsent, 5 unread.
  struct Case {
    const char* line;
    std::vector<int> left;
    const char* reply;
  } cases[] = {
      {"AT+CMGD=2", {1, 3, 4, 5}, "\r\nOK\r\n"},
      {"AT+CMGD=9", {1, 2, 3, 4, 5}, "\r\nOK\r\n"},  // an empty place
      {"AT+CMGD=1,1", {1, 3, 4, 5}, "\r\nOK\r\n"},
      {"AT+CMGD=1,2", {1, 4, 5}, "\r\nOK\r\n"},
      {"AT+CMGD=1,3", {1, 5}, "\r\nOK\r\n"},
      {"AT+CMGD=0,4", {}, "\r\nOK\r\n"},
      {"AT+CMGD=31", {1, 2, 3, 4, 5}, "\r\nERROR\r\n"},
      {"AT+CMGD=1,5", {1, 2, 3, 4, 5}, "\r\nERROR\r\n"},
      {"AT+CMGD", {1, 2, 3, 4, 5}, "\r\nERROR\r\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(Command(c.line), c.reply) << c.line;
    EXPECT_EQ(Left(), c.left) << c.line;
  }
  SetUp();
  EXPECT_EQ(Command("AT+CMGD=?"), "\r\n+CMGD: (1,2,3,4,5),(0-4)\r\n\r\nOK\r\n");
}

// The answer's text in each mode is checked end to end through the tool.
TEST_F(ModemTest, UssdAnswersAfterItsDelay) {
  struct Case {
    UssdMode mode;
    int64_t reply_delay;
    std::vector<Emission> expected;
  } cases[] = {
      {UssdMode::kOk, 0, {{1000, "\r\nOK\r\n"}, {2500, "\r\n+CUSD: 0,\"Hi \u00e9\",15\r\n"}}},
      {UssdMode::kOk, 200, {{1200, "\r\nOK\r\n"}, {2700, "\r\n+CUSD: 0,\"Hi \u00e9\",15\r\n"}}},
      {UssdMode::kStatus4, 0, {{1000, "\r\nOK\r\n"}, {2500, "\r\n+CUSD: 4\r\n"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    ModemOptions options;
    options.ussd_text = "Hi \u00e9";
    options.ussd_mode = c.mode;
    options.ussd_delay_ms = 1500;
    options.faults.delay_ms = c.reply_delay;
    Start(options);
    now_ = 0;
    Command("ATE0");
    emissions_.clear();
    now_ = 1000;
    Command("AT+CUSD=1,\"*100#\",15");
    EXPECT_EQ(emissions_, c.expected);
  }
  // Cancelling, or asking with presentation off, brings no answer.
  for (const char* line : {"AT+CUSD=2", "AT+CUSD=0,\"*100#\",15", "AT+CUSD=1"}) {
    Start();
    EchoOff();
    EXPECT_EQ(Command(line), "\r\nOK\r\n") << line;
  }
}

}  // namespace
}  // namespace tarvex::modemsim
