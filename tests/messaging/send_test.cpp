// Sending through a scripted modem: the AT+CMGS dialogue, what a refusal or a
// silent modem does to it, the cut of SendMessage, and the parts, events and
// references of SendLongMessage.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "codec/sms_submit.h"
#include "common/text.h"
#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

constexpr char kCtrlZ = '\x1A';

struct Progress {
  int16_t modem_id, count, part;
  std::u16string text;
  bool operator==(const Progress&) const = default;
};

void PrintTo(const Progress& p, std::ostream* os) {
  *os << "(" << p.modem_id << ", " << p.count << ", " << p.part << ", \"" << Utf16ToUtf8(p.text)
      << "\")";
}

std::u16string Repeat(std::u16string_view unit, size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

std::string SinglePdu(const std::string& number, const std::u16string& text) {
  SMSSubmit submit;
  submit.PhoneNumber = number;
  submit.MessageText = text;
  return submit.Encode();
}

std::string PartPdu(const std::string& number, const std::u16string& text, const std::string& ref,
                    int total, int part) {
  SMSSubmit submit;
  submit.PhoneNumber = number;
  submit.MessageText = text;
  return submit.EncodeLongSMS(ref, total, part);
}

// The concatenation header of a written SMS-SUBMIT ("" when there is none):
// skips SMSC, first octet, reference, address, PID, DCS, VP and UDL.
std::string ConcatHeader(const std::string& pdu) {
  size_t pos = 2 + 2 * std::stoul(pdu.substr(0, 2), nullptr, 16);
  const unsigned first = std::stoul(pdu.substr(pos, 2), nullptr, 16);
  pos += 4;  // first octet, message reference
  const unsigned digits = std::stoul(pdu.substr(pos, 2), nullptr, 16);
  pos += 4 + 2 * ((digits + 1) / 2);  // length, type, semi-octets
  pos += 4;                           // PID, DCS
  if (first & 0x10) pos += 2;         // relative validity period
  pos += 2;                           // UDL
  if (!(first & 0x40)) return "";
  return pdu.substr(pos, 12);
}

class SendTest : public EngineFixture {
 protected:
  void SetUp() override {
    OpenSlot(1);
    engine().OnSendProgress(
        [this](int16_t& id, int16_t& count, int16_t& part, std::u16string& text) {
          events_.push_back({id, count, part, text});
        });
  }

  // One message the modem accepts: the command with its octet count, the
  // prompt, the PDU with Ctrl-Z, then "+CMGS" and OK.
  void ScriptAccepted(size_t pdu_chars) {
    modem().Expect("AT+CMGS=" + std::to_string(pdu_chars / 2 - 1) + "\r").Reply("\r\n> ");
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

TEST_F(SendTest, FourteenOctetPduGoesOutAfterThePrompt) {
  const std::string pdu = "00110006919421430000FF02C834";  // "+491234", "Hi"
  ASSERT_EQ(SinglePdu("+491234", u"Hi"), pdu);
  modem().Expect("AT+CMGS=13\r").Reply("\r\n> ");
  modem().Expect(pdu + kCtrlZ).Reply("\r\n+CMGS: 7\r\n").Reply("\r\nOK\r\n");
  std::u16string text = u"Hi";
  const int sleeps_before = clock().Sleeps();
  EXPECT_EQ(engine().SendMessage(1, "+491234", text), "OK");
  ExpectScriptMet();
  EXPECT_EQ(events_, (std::vector<Progress>{{1, 1, 1, u"Hi"}}));
  EXPECT_EQ(clock().Sleeps() - sleeps_before, 2);  // 10 ms after the command, 10 ms after the PDU
}

TEST_F(SendTest, TheModemsAnswersDecideTheResult) {
  const std::string pdu = SinglePdu("12345", u"Test");
  const std::string command = "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1) + "\r";
  struct Case {
    const char* name;
    std::vector<std::string> before_prompt;  // empty: the prompt comes at once
    std::vector<std::string> after_pdu;      // empty: the PDU is never written
    std::string expected;
  } cases[] = {
      {"accepted", {"\r\n> "}, {"\r\n+CMGS: 3\r\n\r\nOK\r\n"}, "OK"},
      {"prompt in pieces", {"\r\n", "> "}, {"\r\n+CMGS: 3\r\n", "\r\nO", "K\r\n"}, "OK"},
      {"notice before the prompt", {"\r\n+CMTI: \"SM\",1\r\n", "\r\n> "}, {"\r\nOK\r\n"}, "OK"},
      {"refused after the PDU", {"\r\n> "}, {"\r\nERROR\r\n"}, "ERROR"},
      {"OK and ERROR", {"\r\n> "}, {"\r\nOK\r\n\r\nERROR\r\n"}, "ERROR"},
      {"command refused", {"\r\nERROR\r\n"}, {}, "ERROR"},
      {"command refused, extended", {"\r\n+CMS ERROR: 302\r\n"}, {}, "ERROR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    modem().Expect(command);
    for (const auto& chunk : c.before_prompt) modem().Reply(chunk);
    if (!c.after_pdu.empty()) {
      modem().Expect(pdu + kCtrlZ);
      for (const auto& chunk : c.after_pdu) modem().Reply(chunk);
    }
    std::u16string text = u"Test";
    EXPECT_EQ(engine().SendMessage(1, "12345", text), c.expected);
    ExpectScriptMet();
  }
}

TEST_F(SendTest, DeadlinesOfTheDialogue) {
  const std::string pdu = SinglePdu("12345", u"Test");
  const std::string command = "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1) + "\r";
  std::u16string text = u"Test";

  // No prompt: the command's deadline, then Esc so that a late prompt does
  // not swallow the next command.
  modem().Expect(command);
  modem().Expect("\x1B");
  uint32_t start = clock().TickCount();
  EXPECT_EQ(engine().SendMessage(1, "12345", text), "TIMEOUT");
  EXPECT_EQ(clock().TickCount() - start, 10 + Tarvex::kDefaultCommandTimeoutMs);
  ExpectScriptMet();

  // The prompt, then no answer to the PDU: the send deadline from the PDU on.
  modem().Expect(command).Reply("\r\n> ");
  modem().Expect(pdu + kCtrlZ);
  start = clock().TickCount();
  EXPECT_EQ(engine().SendMessage(1, "12345", text), "TIMEOUT");
  EXPECT_EQ(clock().TickCount() - start, 10 + 10 + Tarvex::kDefaultSendTimeoutMs);
  EXPECT_TRUE(modem().PortOpen());

  engine().SetSendTimeout(5000);
  modem().Expect(command).Reply("\r\n> ");
  modem().Expect(pdu + kCtrlZ).ReplyAfter(6000, "\r\nOK\r\n");
  EXPECT_EQ(engine().SendMessage(1, "12345", text), "TIMEOUT");
}

TEST_F(SendTest, SendMessageCutsToOneMessageAndWritesTheCutBack) {
  const std::u16string euro = u"\u20AC";       // two septets
  const std::u16string emoji = u"\U0001F600";  // a surrogate pair
  const std::u16string be = u"\u0431";         // UCS2
  struct Case {
    const char* name;
    std::u16string text;
    std::u16string expected;
  } cases[] = {
      {"160 letters stay", Repeat(u"a", 160), Repeat(u"a", 160)},
      {"200 letters", Repeat(u"a", 200), Repeat(u"a", 160)},
      {"escape pair across the limit", Repeat(u"a", 159) + euro + u"b", Repeat(u"a", 159)},
      {"escape pair at the limit", Repeat(u"a", 158) + euro + u"b", Repeat(u"a", 158) + euro},
      {"ucs2", Repeat(be, 75), Repeat(be, 70)},
      {"surrogate pair across the limit", Repeat(be, 69) + emoji, Repeat(be, 69)},
      {"surrogate pair at the limit", Repeat(be, 68) + emoji + be, Repeat(be, 68) + emoji},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    events_.clear();
    const std::string pdu = SinglePdu("12345", c.expected);
    ScriptAccepted(pdu.size());
    std::u16string text = c.text;
    EXPECT_EQ(engine().SendMessage(1, "12345", text), "OK");
    EXPECT_EQ(text, c.expected);
    EXPECT_EQ(events_, (std::vector<Progress>{{1, 1, 1, c.expected}}));
    EXPECT_EQ(PdusWritten(), std::vector<std::string>{pdu});
  }
}

TEST_F(SendTest, BadNumberRaisesAfterTheEventAndWritesNothing) {
  for (const std::string number : {"", "   "}) {
    events_.clear();
    std::u16string text = u"Hello";
    EXPECT_EQ(ErrorOf([&] { engine().SendMessage(1, number, text); }), kInvalidArgument);
    EXPECT_EQ(events_.size(), 1u);
    EXPECT_EQ(ErrorOf([&] { engine().SendLongMessage(1, number, Repeat(u"a", 300)); }),
              kInvalidArgument);
    EXPECT_EQ(events_.size(), 2u);
  }
  EXPECT_EQ(modem().Writes(), std::vector<std::string>{});
}

TEST_F(SendTest, LongMessagesSplitAtTheirBoundaries) {
  const std::u16string euro = u"\u20AC";
  const std::u16string emoji = u"\U0001F600";
  const std::u16string be = u"\u0431";
  struct Case {
    const char* name;
    std::u16string text;
    std::vector<std::u16string> parts;  // one: sent as an ordinary message
  } cases[] = {
      {"160", Repeat(u"x", 160), {Repeat(u"x", 160)}},
      {"161", Repeat(u"x", 161), {Repeat(u"x", 153), Repeat(u"x", 8)}},
      {"306", Repeat(u"x", 306), {Repeat(u"x", 153), Repeat(u"x", 153)}},
      {"307", Repeat(u"x", 307), {Repeat(u"x", 153), Repeat(u"x", 153), Repeat(u"x", 1)}},
      {"escape pair at a part's end",
       Repeat(u"x", 152) + euro + Repeat(u"x", 10),
       {Repeat(u"x", 152), euro + Repeat(u"x", 10)}},
      {"escape pairs fill one message", Repeat(euro, 80), {Repeat(euro, 80)}},
      {"ucs2 70", Repeat(be, 70), {Repeat(be, 70)}},
      {"ucs2 71", Repeat(be, 71), {Repeat(be, 67), Repeat(be, 4)}},
      {"surrogate pair at a part's end",
       Repeat(be, 66) + emoji + Repeat(be, 5),
       {Repeat(be, 66), emoji + Repeat(be, 5)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    events_.clear();
    const int total = static_cast<int>(c.parts.size());
    for (int i = 1; i <= total; ++i) {
      ScriptAccepted(total == 1 ? SinglePdu("12345", c.parts[0]).size()
                                : PartPdu("12345", c.parts[i - 1], "00", total, i).size());
    }
    EXPECT_EQ(engine().SendLongMessage(1, "12345", c.text), "OK");
    ExpectScriptMet();

    std::vector<Progress> expected_events;
    for (int i = 1; i <= total; ++i) {
      expected_events.push_back({1, static_cast<int16_t>(total), static_cast<int16_t>(i),
                                 c.parts[static_cast<size_t>(i - 1)]});
    }
    EXPECT_EQ(events_, expected_events);

    const std::vector<std::string> pdus = PdusWritten();
    ASSERT_EQ(pdus.size(), c.parts.size());
    if (total == 1) {
      EXPECT_EQ(pdus[0], SinglePdu("12345", c.parts[0]));
      EXPECT_EQ(ConcatHeader(pdus[0]), "");
      continue;
    }
    // One reference for all parts; each part exactly as the encoder makes it.
    const std::string ref = ConcatHeader(pdus[0]).substr(6, 2);
    for (int i = 1; i <= total; ++i) {
      char counts[8];
      std::snprintf(counts, sizeof counts, "%02X%02X", total & 0xFF, i & 0xFF);
      const std::string header = "050003" + ref + counts;
      EXPECT_EQ(ConcatHeader(pdus[static_cast<size_t>(i - 1)]), header);
      EXPECT_EQ(pdus[static_cast<size_t>(i - 1)],
                PartPdu("12345", c.parts[static_cast<size_t>(i - 1)], ref, total, i));
    }
  }
}

TEST_F(SendTest, APartThatIsNotAcceptedEndsTheLongMessage) {
  const std::u16string text = Repeat(u"y", 400);  // 153 + 153 + 94
  const size_t octets = PartPdu("12345", Repeat(u"y", 153), "00", 3, 1).size();
  struct Case {
    const char* name;
    std::string answer_to_part2;  // "" = silence
    std::string expected;
  } cases[] = {
      {"ERROR", "\r\nERROR\r\n", "ERROR"},
      {"silence", "", "TIMEOUT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    modem().ClearLog();
    events_.clear();
    ScriptAccepted(octets);
    modem().Expect("AT+CMGS=" + std::to_string(octets / 2 - 1) + "\r").Reply("\r\n> ");
    modem().ExpectAnyWrite();
    if (!c.answer_to_part2.empty()) modem().Reply(c.answer_to_part2);
    EXPECT_EQ(engine().SendLongMessage(1, "12345", text), c.expected);
    ExpectScriptMet();  // the third part's command is never written
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1], (Progress{1, 3, 2, Repeat(u"y", 153)}));
  }
}

TEST_F(SendTest, EachLongMessageDrawsAFreshReference) {
  const std::u16string text = Repeat(u"z", 200);
  std::set<std::string> references;
  for (int i = 0; i < 8; ++i) {
    modem().ClearLog();
    ScriptAccepted(PartPdu("12345", Repeat(u"z", 153), "00", 2, 1).size());
    ScriptAccepted(PartPdu("12345", Repeat(u"z", 47), "00", 2, 2).size());
    ASSERT_EQ(engine().SendLongMessage(1, "12345", text), "OK");
    references.insert(ConcatHeader(PdusWritten()[0]).substr(6, 2));
  }
  // Eight draws from 256 values all alike would be a fixed reference.
  EXPECT_GT(references.size(), 1u);
}

}  // namespace
}  // namespace tarvex::testing
