// Sending: the AT+CMGS dialogue, refusals and silence in it, the cut of
// SendMessage, and the parts, events and references of SendLongMessage.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/engine_fixture.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

namespace tarvex::testing {
namespace {

constexpr char kCtrlZ = '\x1A';
const std::u16string kEuro = u"\u20AC";       // two septets
const std::u16string kEmoji = u"\U0001F600";  // a surrogate pair
const std::u16string kBe = u"\u0431";         // UCS2

struct Progress {
  int16_t modem_id, count, part;
  std::u16string text;
  bool operator==(const Progress&) const = default;
};

std::u16string Repeat(std::u16string_view unit, size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

// The PDU the encoder makes for "12345": a single message, or one part.
SubmitPdu Encoded(const std::u16string& text, int total = 1, int part = 1,
                  const std::string& ref = "00") {
  SMSSubmit submit;
  submit.PhoneNumber = "12345";
  submit.MessageText = text;
  return total == 1 ? submit.Encode() : submit.EncodeLongSMS(ref, total, part);
}

class SendTest : public EngineFixture {
 protected:
  void SetUp() override {
    OpenSlot(1);
    engine().OnSendProgress(
        [this](int16_t id, int16_t count, int16_t part, const std::u16string& text) {
          events_.push_back({id, count, part, text});
        });
  }

  static std::string Command(const SubmitPdu& pdu) {
    return "AT+CMGS=" + std::to_string(pdu.tpdu_octets) + "\r";
  }

  // One message the modem accepts, whatever its PDU.
  void ScriptAccepted(const SubmitPdu& pdu) {
    modem().Expect(Command(pdu)).Reply("\r\n> ");
    modem().ExpectAnyWrite().Reply("\r\n+CMGS: 12\r\n").Reply("\r\nOK\r\n");
  }

  // The PDU writes (what follows each prompt), without their Ctrl-Z.
  std::vector<std::string> PdusWritten() {
    std::vector<std::string> pdus;
    for (const auto& w : modem().Writes()) {
      if (!w.empty() && w.back() == kCtrlZ) pdus.push_back(w.substr(0, w.size() - 1));
    }
    return pdus;
  }

  std::vector<Progress> events_;
};

// "+491234", "Hi": fourteen octets after the SMSC length.
const std::string kHiPdu = "00110006919421430000FF02C834";

TEST_F(SendTest, TheModemsAnswersDecideTheResult) {
  struct Case {
    const char* name;
    const char* before_prompt;
    const char* after_pdu;  // empty: the PDU is never written
    const char* expected;
  } cases[] = {
      {"prompt in pieces", "\r\n|> ", "\r\n+CMGS: 3\r\n|\r\nO|K\r\n", "OK"},
      {"notice before the prompt", "\r\n+CMTI: \"SM\",1\r\n|\r\n> ", "\r\nOK\r\n", "OK"},
      {"refused after the PDU", "\r\n> ", "\r\nERROR\r\n", "ERROR"},
      {"command refused", "\r\n+CMS ERROR: 302\r\n", "", "ERROR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    Script("AT+CMGS=13\r", c.before_prompt);
    if (*c.after_pdu) Script(kHiPdu + kCtrlZ, c.after_pdu);
    std::u16string text = u"Hi";
    EXPECT_EQ(engine().SendMessage(1, "+491234", text), c.expected);
    ExpectScriptMet();
    EXPECT_EQ(events_, (std::vector<Progress>{{1, 1, 1, u"Hi"}}));
  }
}

TEST_F(SendTest, DeadlinesOfTheDialogue) {
  std::u16string text = u"Hi";
  // No prompt: the command's deadline, then Esc so that a late prompt does
  // not swallow the next command.
  modem().Expect("AT+CMGS=13\r");
  modem().Expect("\x1B");
  uint32_t start = clock().TickCount();
  EXPECT_EQ(engine().SendMessage(1, "+491234", text), "TIMEOUT");
  EXPECT_EQ(clock().TickCount() - start, 10 + Tarvex::kDefaultCommandTimeoutMs);
  ExpectScriptMet();

  // The prompt, then an answer too late for the send deadline, counted from
  // the PDU on.
  engine().SetSendTimeout(5000);
  modem().Expect("AT+CMGS=13\r").Reply("\r\n> ");
  modem().Expect(kHiPdu + kCtrlZ).ReplyAfter(6000, "\r\nOK\r\n");
  start = clock().TickCount();
  EXPECT_EQ(engine().SendMessage(1, "+491234", text), "TIMEOUT");
  EXPECT_EQ(clock().TickCount() - start, 10 + 10 + 5000u);
  EXPECT_TRUE(modem().PortOpen());
}

TEST_F(SendTest, BlankNumberRaisesAfterTheEventAndWritesNothing) {
  std::u16string text = Repeat(u"a", 200);
  EXPECT_EQ(ErrorOf([&] { engine().SendMessage(1, "   ", text); }), kInvalidArgument);
  EXPECT_EQ(text, Repeat(u"a", 160));  // the cut stays although the send failed
  EXPECT_EQ(events_.size(), 1u);
  EXPECT_EQ(ErrorOf([&] { engine().SendLongMessage(1, "", Repeat(u"a", 300)); }), kInvalidArgument);
  EXPECT_EQ(events_.size(), 2u);
  EXPECT_EQ(modem().Writes(), std::vector<std::string>{});
}

// SendMessage cuts to one message and writes the cut back; SendLongMessage
// splits.  Neither breaks an escape pair or a surrogate pair.
TEST_F(SendTest, TextsAreCutAndSplitAtTheirBoundaries) {
  struct Case {
    const char* name;
    bool cut;  // SendMessage
    std::u16string text;
    std::vector<std::u16string> parts;  // one: sent as an ordinary message
  } cases[] = {
      {"€ across the limit", true, Repeat(u"a", 159) + kEuro + u"b", {Repeat(u"a", 159)}},
      {"€ at the limit", true, Repeat(u"a", 158) + kEuro + u"b", {Repeat(u"a", 158) + kEuro}},
      {"😀 across the limit", true, Repeat(kBe, 69) + kEmoji, {Repeat(kBe, 69)}},
      {"😀 at the limit", true, Repeat(kBe, 68) + kEmoji + kBe, {Repeat(kBe, 68) + kEmoji}},
      {"161", false, Repeat(u"x", 161), {Repeat(u"x", 153), Repeat(u"x", 8)}},
      {"€ at a part's end",
       false,
       Repeat(u"x", 152) + kEuro + Repeat(u"x", 10),
       {Repeat(u"x", 152), kEuro + Repeat(u"x", 10)}},
      {"€ fill one message", false, Repeat(kEuro, 80), {Repeat(kEuro, 80)}},
      {"ucs2 71", false, Repeat(kBe, 71), {Repeat(kBe, 67), Repeat(kBe, 4)}},
  };
  std::set<std::string> references;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    events_.clear();
    const int total = static_cast<int>(c.parts.size());
    std::vector<Progress> expected_events;
    for (int i = 0; i < total; ++i) {
      ScriptAccepted(Encoded(c.parts[i], total, i + 1));
      expected_events.push_back(
          {1, static_cast<int16_t>(total), static_cast<int16_t>(i + 1), c.parts[i]});
    }
    std::u16string text = c.text;
    const int sleeps_before = clock().Sleeps();
    EXPECT_EQ(
        c.cut ? engine().SendMessage(1, "12345", text) : engine().SendLongMessage(1, "12345", text),
        "OK");
    EXPECT_EQ(clock().Sleeps() - sleeps_before, 2 * total);  // after each command and PDU
    EXPECT_EQ(text, c.cut ? c.parts[0] : c.text);
    ExpectScriptMet();
    EXPECT_EQ(events_, expected_events);
    // One reference for all parts; each part exactly as the encoder makes it.
    const std::vector<std::string> pdus = PdusWritten();
    ASSERT_EQ(pdus.size(), c.parts.size());
    const std::string ref = total == 1 ? "00" : pdus[0].substr(pdus[0].find("050003") + 6, 2);
    for (int i = 0; i < total; ++i) EXPECT_EQ(pdus[i], Encoded(c.parts[i], total, i + 1, ref).hex);
    if (total > 1) references.insert(ref);
  }
  // Three draws from 256 values all alike would be a fixed reference.
  EXPECT_GT(references.size(), 1u);
}

TEST_F(SendTest, APartThatIsNotAcceptedEndsTheLongMessage) {
  const SubmitPdu first = Encoded(Repeat(u"y", 153), 3, 1);  // 400 letters: 153 + 153 + 94
  ScriptAccepted(first);
  modem().Expect(Command(first)).Reply("\r\n> ");
  modem().ExpectAnyWrite().Reply("\r\n+CMS ERROR: 38\r\n");
  SendReport report;
  engine().SendText(1, "12345", Repeat(u"y", 400), false, report);
  EXPECT_EQ(report.Result(), "ERROR");
  ExpectScriptMet();  // the third part's command is never written
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1], (Progress{1, 3, 2, Repeat(u"y", 153)}));
  // What went out and what stopped it, part by part.
  EXPECT_EQ(report.total, 3);
  ASSERT_EQ(report.parts.size(), 2u);
  EXPECT_EQ(report.parts[0].outcome, Answer::kDone);
  EXPECT_EQ(report.parts[0].reference, 12);
  EXPECT_EQ(report.parts[1].outcome, Answer::kRefused);
  EXPECT_EQ(report.parts[1].error.number, 38);
  EXPECT_EQ(report.parts[1].text, Repeat(u"y", 153));
}

// Only the tool turns national tables on: then each part of a long send names
// them (149 septets and an 11-septet header fill 140 octets as 153 and 7 do),
// while SendMessage stays on the default alphabet and UCS2.
TEST_F(SendTest, NationalTablesGoOnlyWhereAsked) {
  engine().SetNationalTables({gsm7::NationalChoice::kLanguage, 1});
  const std::u16string text = Repeat(u"\u011F", 298);  // two parts through Turkish locking shift
  for (int i = 0; i < 2; ++i) ScriptAccepted(Encoded(Repeat(u"y", 153), 2, 1));
  EXPECT_EQ(engine().SendLongMessage(1, "12345", text), "OK");
  ExpectScriptMet();
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1], (Progress{1, 2, 2, Repeat(u"\u011F", 149)}));
  for (const std::string& pdu : PdusWritten()) {
    SMSDeliver part;
    std::string entry = "1\r\n" + pdu;
    part.Decode(entry);
    EXPECT_EQ(part.Tables(), (gsm7::ShiftTables{1, 0}));
    EXPECT_EQ(part.MessageText(), Repeat(u"\u011F", 149));
  }
  modem().ClearLog();
  std::u16string one = u"\u011F";  // SendMessage may cut its argument
  ScriptAccepted(Encoded(one));
  EXPECT_EQ(engine().SendMessage(1, "12345", one), "OK");
  EXPECT_EQ(PdusWritten(), std::vector<std::string>{Encoded(one).hex});
}

}  // namespace
}  // namespace tarvex::testing
