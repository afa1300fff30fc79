#include "modemsim/modem.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "codec/deliver_builder.h"
#include "codec/sms_deliver.h"
#include "codec/sms_submit.h"
#include "modemsim/sim_fixture.h"

namespace tarvex::modemsim {
namespace {

std::string Deliver(const std::u16string& text, const std::string& sender = "+31612345678") {
  DeliverFields deliver;
  deliver.sender = sender;
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

SMSDeliver Decoded(const StoredMessage& m) {
  SMSDeliver d;
  std::string entry = "1\r\n" + m.pdu;
  d.Decode(entry);
  return d;
}

// Lines and their whole replies, run in order on one modem with echo off.
struct Step {
  std::string line;
  std::string reply;
};

class ModemTest : public SimTest {
 protected:
  void Run(const std::vector<Step>& steps) {
    for (const Step& s : steps) EXPECT_EQ(Command(s.line), s.reply) << s.line;
  }
};

TEST_F(ModemTest, AnswersIdentityAndStatusLikeAPduModem) {
  ModemOptions options;
  options.identity.manufacturer = "Acme";
  options.identity.model = "GSM-9";
  options.identity.imei = "490154203237518";
  Start(options);
  EchoOff();
  Run({
      {"AT", "\r\nOK\r\n"},
      {"at+cgmi", "\r\nAcme\r\n\r\nOK\r\n"},
      {"AT+GMM", "\r\nGSM-9\r\n\r\nOK\r\n"},
      {"AT+CGSN", "\r\n490154203237518\r\n\r\nOK\r\n"},
      {"ATI", "\r\nAcme\r\nGSM-9\r\nRevision: TVXSIM_1.0.0\r\n\r\nOK\r\n"},
      {"AT+CGMI;+CGMM", "\r\nAcme\r\n\r\nGSM-9\r\n\r\nOK\r\n"},
      {"AT+CGMM=?", "\r\nOK\r\n"},
      {"AT+GCAP", "\r\n+GCAP: +CGSM\r\n\r\nOK\r\n"},
      {"AT+CPIN?", "\r\n+CPIN: READY\r\n\r\nOK\r\n"},
      {"AT+CREG?", "\r\n+CREG: 0,1\r\n\r\nOK\r\n"},
      {"AT+COPS=3,2;+COPS?", "\r\n+COPS: 0,2,\"00101\",0\r\n\r\nOK\r\n"},
      {"AT+CSCA?", "\r\n+CSCA: \"+31624000000\",145\r\n\r\nOK\r\n"},
      {"AT+CMGF=0;+CMGF?", "\r\n+CMGF: 0\r\n\r\nOK\r\n"},
      {"AT+CMGL=?", "\r\n+CMGL: (0-4)\r\n\r\nOK\r\n"},
      {"AT+CSMS=1", "\r\n+CSMS: 1,1,1\r\n\r\nOK\r\n"},
      {"AT+CNMI=2,1;+CNMI?", "\r\n+CNMI: 2,1,0,0,0\r\n\r\nOK\r\n"},
      {"ATS7=45S7?", "\r\n045\r\n\r\nOK\r\n"},
      {"AT+XYZ", "\r\nERROR\r\n"},
      {"AT+CMGF=0+CMEE", "\r\nERROR\r\n"},
      {"hello", ""},  // not a command line: modems keep quiet
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

TEST_F(ModemTest, ErrorsFollowCmeeAndStopTheLine) {
  EchoOff();
  Run({
      {"AT+CMGR=99", "\r\nERROR\r\n"},
      {"AT+CMEE=1;+CMGR=99", "\r\n+CMS ERROR: 321\r\n"},
      {"AT+CREG=7", "\r\n+CME ERROR: 3\r\n"},
      {"AT+XYZ", "\r\nERROR\r\n"},  // unknown commands stay plain
      // The failing command ends the line: +CSQ never runs.
      {"AT+CPMS=\"XX\";+CSQ", "\r\n+CMS ERROR: 302\r\n"},
      {"AT+CMEE=2;+CMGR=99", "\r\n+CMS ERROR: invalid memory index\r\n"},
      {"AT+CUSD=9", "\r\n+CME ERROR: operation not allowed\r\n"},
      {"ATV0", "0\r"},
      {"AT+CSQ", "+CSQ: 21,99\r\n0\r"},
      {"AT+XYZ", "4\r"},
  });
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
      {"AT+CPMS=\"SM\",\"SM\",\"SM\",\"SM\"", "\r\nERROR\r\n"},
      {"AT+CPMS=?", "\r\n+CPMS: (\"SM\",\"ME\"),(\"SM\",\"ME\"),(\"SM\",\"ME\")\r\n\r\nOK\r\n"},
  });
}

TEST_F(ModemTest, CmgsTakesThePduAfterThePromptAndLogsIt) {
  EchoOff();
  const std::string pdu = Submit("+31611112222", u"Hi there");
  EXPECT_EQ(Command(CmgsLine(pdu)), "\r\n> ");
  EXPECT_EQ(Write(pdu + "\x1A"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");

  SMSSubmit part;
  part.PhoneNumber = "+447700900123";
  part.MessageText = u"second part";
  const std::string long_pdu = part.EncodeLongSMS("A7", 2, 2);
  EXPECT_EQ(Command(CmgsLine(long_pdu)), "\r\n> ");
  EXPECT_EQ(Write(long_pdu + "\x1A"), "\r\n+CMGS: 2\r\n\r\nOK\r\n");

  ASSERT_EQ(modem().sent().size(), 2u);
  auto first = nlohmann::json::parse(SentMessageJson(modem().sent()[0]));
  EXPECT_EQ(first["pdu"], pdu);
  EXPECT_EQ(first["to"], "+31611112222");
  EXPECT_EQ(first["text"], "Hi there");
  EXPECT_EQ(first["ref"], "");
  EXPECT_EQ(first["part"], 1);
  EXPECT_EQ(first["total"], 1);
  const SentMessage& second = modem().sent()[1];
  EXPECT_EQ(second.to, "+447700900123");
  EXPECT_EQ(second.text, "second part");
  EXPECT_EQ(second.ref, "0003A7");
  EXPECT_EQ(second.part, 2);
  EXPECT_EQ(second.total, 2);
}

TEST_F(ModemTest, CmgsRefusesBadPdusAndEscAborts) {
  const std::string pdu = Submit("+31611112222", u"Hi");
  const std::string n = std::to_string(pdu.size() / 2 - 1);
  const std::string wrong = std::to_string(pdu.size() / 2);
  struct Case {
    const char* name;
    std::string prelude;
    std::string line;
    std::string body;
    std::string reply;
  } cases[] = {
      {"length off by one", "", "AT+CMGS=" + wrong, pdu, "\r\nERROR\r\n"},
      {"length off, numeric", "AT+CMEE=1", "AT+CMGS=" + wrong, pdu, "\r\n+CMS ERROR: 304\r\n"},
      {"not hex", "AT+CMEE=1", "AT+CMGS=" + n, pdu.substr(0, pdu.size() - 2) + "ZZ",
       "\r\n+CMS ERROR: 304\r\n"},
      {"a deliver, not a submit", "AT+CMEE=1", CmgsLine(Deliver(u"x")), Deliver(u"x"),
       "\r\n+CMS ERROR: 304\r\n"},
      {"text mode", "AT+CMGF=1", "AT+CMGS=" + n, "", ""},
  };
  for (const Case& c : cases) {
    Start();
    EchoOff();
    if (!c.prelude.empty()) Command(c.prelude);
    std::string prompt = Command(c.line);
    if (c.body.empty()) {
      EXPECT_EQ(prompt, "\r\nERROR\r\n") << c.name;
    } else {
      EXPECT_EQ(prompt, "\r\n> ") << c.name;
      EXPECT_EQ(Write(c.body + "\x1A"), c.reply) << c.name;
    }
    EXPECT_TRUE(modem().sent().empty()) << c.name;
  }

  Start();
  EchoOff();
  EXPECT_EQ(Command("AT+CMGS=" + n), "\r\n> ");
  EXPECT_EQ(Write(pdu + "\x1B"), "");
  EXPECT_EQ(Command("AT"), "\r\nOK\r\n");
  EXPECT_TRUE(modem().sent().empty());
}

TEST_F(ModemTest, LoopbackMessagesArriveAsDeliversWithNotice) {
  ModemOptions options;
  options.loopback_number = "+31699990000";
  options.notify = true;
  options.wall_clock = [] { return WallTime{2027, 1, 2, 3, 4, 5, 0}; };
  Start(options);
  EchoOff();
  const std::string pdu = Submit("+31699990000", u"\u041f\u0440\u0438\u0432\u0435\u0442");
  Command(CmgsLine(pdu));
  EXPECT_EQ(Write(pdu + "\x1A"), "\r\n+CMGS: 1\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
  SMSSubmit part;
  part.PhoneNumber = "0031699990000";  // same digits, other prefix: not ours
  part.MessageText = u"elsewhere";
  Command(CmgsLine(part.Encode()));
  EXPECT_EQ(Write(part.Encode() + "\x1A"), "\r\n+CMGS: 2\r\n\r\nOK\r\n");

  part.PhoneNumber = "+31699990000";
  part.MessageText = u"part one";
  const std::string long_pdu = part.EncodeLongSMS("5C", 2, 1);
  Command(CmgsLine(long_pdu));
  Write(long_pdu + "\x1A");

  MessageStore& sim = *modem().store("SM");
  ASSERT_EQ(sim.used(), 2);
  SMSDeliver wide = Decoded(*sim.Find(1));
  EXPECT_EQ(wide.PhoneNumber(), "+31699990000");
  EXPECT_EQ(wide.MessageText(), u"\u041f\u0440\u0438\u0432\u0435\u0442");
  EXPECT_EQ(wide.DataCoding(), 8);
  EXPECT_EQ(wide.MessageTime().year, 2027);
  SMSDeliver joined = Decoded(*sim.Find(2));
  EXPECT_TRUE(joined.MultiPartSMS());
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
  std::string Header(const char* prefix, int index_or_stat, int stat) {
    std::string h = std::string(prefix) + std::to_string(index_or_stat);
    if (stat >= 0) h += "," + std::to_string(stat);
    return h + ",," + std::to_string(TpduLength(pdus_[0]));
  }
  std::vector<std::string> pdus_;
};

TEST_F(StoredMessagesTest, ListingShowsHeadersAndMarksUnreadRead) {
  const std::string h1 = Header("+CMGL: ", 1, 0);
  const std::string h5 = Header("+CMGL: ", 5, 0);
  EXPECT_EQ(Command("AT+CMGL=0"),
            "\r\n" + h1 + "\r\n" + pdus_[0] + "\r\n" + h5 + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CMGL=0"), "\r\nOK\r\n");
  std::string read = Command("AT+CMGL=1");
  for (int index : {1, 2, 5}) {
    EXPECT_NE(read.find(Header("+CMGL: ", index, 1)), std::string::npos) << index;
  }
  EXPECT_EQ(Command("AT+CMGL=3"),
            "\r\n" + Header("+CMGL: ", 3, 3) + "\r\n" + pdus_[2] + "\r\n\r\nOK\r\n");
  std::string all = Command("AT+CMGL=4");
  EXPECT_EQ(std::count(all.begin(), all.end(), '+'), 5);
  EXPECT_EQ(Command("AT+CMGL=5"), "\r\nERROR\r\n");
  EXPECT_EQ(Command("AT+CMGF=1;+CMGL=4"), "\r\nERROR\r\n");
}

TEST_F(StoredMessagesTest, ReadingOneGivesItsHeaderAndMarksItRead) {
  EXPECT_EQ(Command("AT+CMGR=5"),
            "\r\n" + Header("+CMGR: ", 0, -1) + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
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
      {"AT+CMGD=2,0", {1, 3, 4, 5}, "\r\nOK\r\n"},
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

TEST_F(ModemTest, UssdAnswersAfterItsDelayInEachMode) {
  struct Case {
    UssdMode mode;
    int64_t reply_delay;
    std::vector<Emission> expected;
  } cases[] = {
      {UssdMode::kOk, 0, {{1000, "\r\nOK\r\n"}, {2500, "\r\n+CUSD: 0,\"Hi \u00e9\",15\r\n"}}},
      {UssdMode::kOk, 200, {{1200, "\r\nOK\r\n"}, {2700, "\r\n+CUSD: 0,\"Hi \u00e9\",15\r\n"}}},
      {UssdMode::kStatus4, 0, {{1000, "\r\nOK\r\n"}, {2500, "\r\n+CUSD: 4\r\n"}}},
      {UssdMode::kUcs2,
       0,
       {{1000, "\r\nOK\r\n"}, {2500, "\r\n+CUSD: 0,\"00480069002000E9\",72\r\n"}}},
      {UssdMode::kNone, 0, {{1000, "\r\nOK\r\n"}}},
  };
  for (const Case& c : cases) {
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
    EXPECT_EQ(emissions_, c.expected) << static_cast<int>(c.mode);
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
