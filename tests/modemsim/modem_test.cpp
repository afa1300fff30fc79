#include "modemsim/modem.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "codec/deliver_builder.h"
#include "modemsim/sim_fixture.h"
#include "tarvex/sms_submit.h"

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
  return submit.Encode().hex;
}

class ModemTest : public SimTest {
 protected:
  void Run(const std::vector<std::pair<std::string, std::string>>& steps) {
    for (const auto& [line, reply] : steps) EXPECT_EQ(Command(line), reply) << line;
  }
  // AT+CMGS with its length, then the PDU: the reply to the PDU.
  std::string Send(const std::string& pdu) {
    EXPECT_EQ(Command("AT+CMGS=" + std::to_string(TpduLength(pdu))), "\r\n> ");
    return Write(pdu + "\x1A");
  }
};

// Identity and canned answers are checked end to end; here the stateful ones.
TEST_F(ModemTest, AnswersLikeAPduModemAndErrorsFollowCmee) {
  Run({
      {"AT", "AT\r\r\nOK\r\n"},
      {"ATE0", "ATE0\r\r\nOK\r\n"},
      {"ATE1", "\r\nOK\r\n"},
      {"ATE0", "ATE0\r\r\nOK\r\n"},
      {"ATZ", "\r\nOK\r\n"},
      {"AT", "AT\r\r\nOK\r\n"},
  });
  EXPECT_EQ(Write("A/"), "A/\r\nOK\r\n");  // repeats the last line at once, with no CR
  EXPECT_EQ(Write("AT+CGMX\bI\r"), "AT+CGMX\bI\r\r\nTarvex\r\n\r\nOK\r\n");
  EchoOff();
  Run({
      {"AT+COPS=3,2;+COPS?", "\r\n+COPS: 0,2,\"00101\",0\r\n\r\nOK\r\n"},
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

// Sent PDUs are logged (what the log holds is read end to end); those to the
// loopback number come back as delivers.
TEST_F(ModemTest, CmgsLogsThePduAndLoopsOwnNumberBack) {
  ModemOptions options;
  options.loopback_number = "+31699990000";
  options.notify = true;
  options.wall_clock = [] { return WallTime{2027, 1, 2, 3, 4, 5, 0}; };
  Start(options);
  EchoOff();
  const std::string pdu = Submit("+31611112222", u"Hi there");
  EXPECT_EQ(Send(pdu), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
  const std::u16string privet = u"\u041f\u0440\u0438\u0432\u0435\u0442";
  EXPECT_EQ(Send(Submit("+31699990000", privet)),
            "\r\n+CMGS: 2\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n");
  // The national form of the same number is not ours: the network would
  // complete it with another country's code.
  EXPECT_EQ(Send(Submit("0699990000", u"elsewhere")), "\r\n+CMGS: 3\r\n\r\nOK\r\n");
  EXPECT_EQ(modem().sent().size(), 3u);
  MessageStore& sim = *modem().store("SM");
  ASSERT_EQ(sim.used(), 1);
  SMSDeliver wide = Decoded(*sim.Find(1));
  EXPECT_EQ(wide.PhoneNumber(), "+31699990000");
  EXPECT_EQ(wide.MessageText(), privet);
  EXPECT_EQ(wide.MessageTime().year, 2027);
  EXPECT_EQ(sim.Find(1)->stat, kRecUnread);
}

// Nothing refused or aborted is sent, and the modem takes commands again.
TEST_F(ModemTest, CmgsRefusesBadPdusAndEscAborts) {
  const std::string pdu = Submit("+31611112222", u"Hi");
  const std::string n = std::to_string(pdu.size() / 2 - 1);
  const std::string kCms304 = "\r\n+CMS ERROR: 304\r\n";
  struct Case {
    const char* name;
    std::string prelude, line;
    std::string body;  // "": the line itself is refused
    std::string reply;
  } cases[] = {
      {"length off by one", "AT+CMEE=1", "AT+CMGS=" + std::to_string(pdu.size() / 2), pdu + "\x1A",
       kCms304},
      {"not hex", "AT+CMEE=1", "AT+CMGS=" + n, pdu.substr(0, pdu.size() - 2) + "ZZ\x1A", kCms304},
      // Its length right, so that the type is what is refused.
      {"a deliver, not a submit", "AT+CMEE=1",
       "AT+CMGS=" + std::to_string(TpduLength(Deliver(u"x"))), Deliver(u"x") + "\x1A", kCms304},
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

class StoredMessagesTest : public ModemTest {
 protected:
  // Stats by index: 1 unread, 2 read, 3 sent, 4 unsent, 5 unread.
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
  // Every preloaded PDU has the same length.
  std::string Header(const std::string& fields) {
    return fields + ",," + std::to_string(TpduLength(pdus_[0]));
  }
  std::vector<std::string> pdus_;
};

TEST_F(StoredMessagesTest, ListingAndReadingMarkUnreadRead) {
  EXPECT_EQ(Command("AT+CMGL=0"), "\r\n" + Header("+CMGL: 1,0") + "\r\n" + pdus_[0] + "\r\n" +
                                      Header("+CMGL: 5,0") + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CMGL=0"), "\r\nOK\r\n");
  std::string read = Command("AT+CMGL=1");
  for (const char* index : {"1", "2", "5"}) {
    EXPECT_NE(read.find(Header(std::string("+CMGL: ") + index + ",1")), std::string::npos) << index;
  }
  EXPECT_EQ(Command("AT+CMGL=3"),
            "\r\n" + Header("+CMGL: 3,3") + "\r\n" + pdus_[2] + "\r\n\r\nOK\r\n");

  SetUp();
  EXPECT_EQ(Command("AT+CMGR=5"),
            "\r\n" + Header("+CMGR: 0") + "\r\n" + pdus_[4] + "\r\n\r\nOK\r\n");
  EXPECT_EQ(Command("AT+CMGR=5").substr(0, 11), "\r\n+CMGR: 1,");
  EXPECT_EQ(Command("AT+CMGR=4").substr(0, 11), "\r\n+CMGR: 2,");
  EXPECT_EQ(Command("AT+CMEE=1;+CMGR=6"), "\r\n+CMS ERROR: 321\r\n");  // empty place

  // Each storage keeps its own messages.
  const std::string me = Deliver(u"in the ME");
  modem().Preload("ME", {kRecUnread, me});
  Run({
      {"AT+CPMS=\"ME\"", "\r\n+CPMS: 1,100,5,30,5,30\r\n\r\nOK\r\n"},
      {"AT+CMGL=4", "\r\n" + Header("+CMGL: 1,0") + "\r\n" + me + "\r\n\r\nOK\r\n"},
      {"AT+CPMS?", "\r\n+CPMS: \"ME\",1,100,\"SM\",5,30,\"SM\",5,30\r\n\r\nOK\r\n"},
  });
}

TEST_F(StoredMessagesTest, DeleteByIndexAndByFlag) {
  struct Case {
    const char* line;
    std::vector<int> left;
    const char* reply;
  } cases[] = {
      {"AT+CMGD=9", {1, 2, 3, 4, 5}, "\r\nOK\r\n"},  // an empty place
      {"AT+CMGD=1,3", {1, 5}, "\r\nOK\r\n"},
      {"AT+CMGD=0,4", {}, "\r\nOK\r\n"},
      {"AT+CMGD=31", {1, 2, 3, 4, 5}, "\r\nERROR\r\n"},
      {"AT+CMGD=?", {1, 2, 3, 4, 5}, "\r\n+CMGD: (1,2,3,4,5),(0-4)\r\n\r\nOK\r\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    EXPECT_EQ(Command(c.line), c.reply) << c.line;
    EXPECT_EQ(modem().store("SM")->Indices(kStatAll), c.left) << c.line;
  }
}

// What the tool makes of each mode is its own test's, over a scripted port.
// The answer comes its delay after the OK, however late the OK was; a
// delayed reply does not delay the echo.
TEST_F(ModemTest, UssdAnswersAsNamedItsDelayAfterTheOk) {
  ModemOptions options;
  options.ussd_text = "Hi \u00e9";
  for (const auto& [mode, answer] : {std::pair{UssdMode::kStatus4, "\r\n+CUSD: 4\r\n"},
                                     {UssdMode::kUcs2, "\r\n+CUSD: 0,\"00480069002000E9\",72\r\n"},
                                     {UssdMode::kNone, ""}}) {
    options.ussd_mode = mode;
    Start(options);
    EchoOff();
    EXPECT_EQ(Command("AT+CUSD=1,\"*100#\",15"), "\r\nOK\r\n" + std::string(answer));
  }
  options.ussd_mode = UssdMode::kOk;
  options.ussd_delay_ms = 1500;
  options.faults.delay_ms = 200;
  Start(options);
  now_ = 1000;
  emissions_.clear();
  Command("AT+CUSD=1,\"*100#\",15");
  EXPECT_EQ(emissions_, (std::vector<Emission>{{1000, "AT+CUSD=1,\"*100#\",15\r"},
                                               {1200, "\r\nOK\r\n"},
                                               {2700, "\r\n+CUSD: 0,\"Hi \u00e9\",15\r\n"}}));
}

}  // namespace
}  // namespace tarvex::modemsim
