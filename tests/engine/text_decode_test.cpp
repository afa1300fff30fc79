// The reply parsers as pure functions, on replies as modems send them and on
// replies of odd shapes; and the removal of unsolicited lines before them.
#include "engine/text_decode.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/reply.h"

namespace tarvex {
namespace {

struct Case {
  const char* name;
  std::string reply;
  std::string expected;
};

TEST(TextDecodeTest, IdentityParsersOnOddShapes) {
  EXPECT_EQ(TextDecode::DeviceModel("\r\nOK\r\n"), "OK");  // a modem that only says OK
  EXPECT_EQ(TextDecode::DeviceModel("E173"), "");          // no CR at all
  EXPECT_EQ(TextDecode::DeviceModel("\r"), "");
  EXPECT_EQ(TextDecode::DeviceSerialNumber("\r\nabc"), "abc");  // no second CR: left as it is
  EXPECT_EQ(TextDecode::DeviceModel("\r\n+CGMM: mc7455  \r\n"), "MC7455");
}

TEST(TextDecodeTest, MessageStorageTakesTheFirstQuotedName) {
  const Case cases[] = {
      {"phone memory, lower case", "\r\n+CPMS: \"me\",0,100,\"SM\",0,100\r\n\r\nOK\r\n", "ME"},
      {"no quotation marks: the rest unchanged", "\r\n+CPMS: 3,30\r\n\r\nOK\r\n",
       "+CPMS: 3,30\r\n\r\nOK\r\n"},
      {"one quotation mark", "\r\n+CPMS: \"SM", "SM"},
      {"no cr", "+CPMS: \"SM\"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TextDecode::MessageStorage(c.reply), c.expected) << c.name;
}

TEST(TextDecodeTest, UssdResponseDecodesTheAnswerText) {
  const Case cases[] = {
      {"ucs2 cyrillic", "\r\n+CUSD: 0,\"04110430043B0430043D0441\",72\r\n", "БАЛАНС"},
      {"ucs2 that is not hex stays text", "\r\n+CUSD: 0,\"Hi there\",72\r\n", "HI THERE"},
      {"no coding scheme", "\r\n+CUSD: 0,\"Saldo 12\"\r\n", "SALDO 12"},
      {"status alone, too short for text", "+CUSD: 2", ""},
      {"no blank after the colon loses a character", "\r\n+CUSD:0,\"Abc\",15\r\n", "BC"},
      {"quotation mark inside the text", "\r\n+CUSD: 0,\"Say \"hi\",15\r\n", "SAY \"HI"},
      {"no answer", "\r\nOK\r\n", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TextDecode::USSDResponse(c.reply), c.expected) << c.name;
}

TEST(TextDecodeTest, UpperCaseCoversTheLettersOfEuropeanScripts) {
  EXPECT_EQ(text::UpperCase("ärger øre ÿ"), "ÄRGER ØRE Ÿ");
  EXPECT_EQ(text::UpperCase("łódź ıi"), "ŁÓDŹ II");
  EXPECT_EQ(text::UpperCase("ωμέγας"), "ΩΜΈΓΑΣ");
  EXPECT_EQ(text::UpperCase("привет ёж"), "ПРИВЕТ ЁЖ");
  // Not UTF-8: ASCII letters only, other bytes untouched.
  EXPECT_EQ(text::UpperCase("a\xE9z"), "A\xE9Z");
}

TEST(RemoveUnsolicitedTest, NoticesGoAndTheAnswerKeepsItsShape) {
  const Case cases[] = {
      {"huawei notices in front", "\r\n^RSSI:14\r\n\r\n^MODE:5,4\r\n\r\nhuawei\r\n\r\nOK\r\n",
       "\r\nhuawei\r\n\r\nOK\r\n"},
      {"notice without its blank line", "^BOOT:1,0,0,0,8\r\n\r\nE173\r\n\r\nOK\r\n",
       "\r\nE173\r\n\r\nOK\r\n"},
      {"notice behind the final code", "\r\nOK\r\n\r\n+CDSI: \"SR\",1\r\n", "\r\nOK\r\n"},
      {"ring and registration", "\r\nRING\r\n\r\n+CREG: 1\r\n\r\n+CGREG: 5\r\n\r\nSM\r\n",
       "\r\nSM\r\n"},
      {"pdu notice takes its pdu line", "\r\n+CMT: ,24\r\n07911326040000F0\r\n\r\nOK\r\n",
       "\r\nOK\r\n"},
      {"notice between listing lines",
       "\r\n+CMGL: 1,0,,5\r\nAA\r\n\r\n+CMTI: \"SM\",2\r\n+CMGL: 2,0,,5\r\nBB\r\n",
       "\r\n+CMGL: 1,0,,5\r\nAA\r\n+CMGL: 2,0,,5\r\nBB\r\n"},
      {"a word that only starts like a notice stays", "\r\nRINGO\r\n", "\r\nRINGO\r\n"},
      {"cusd answer is no notice", "\r\n+CUSD: 0,\"x\",15\r\n", "\r\n+CUSD: 0,\"x\",15\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RemoveUnsolicited(c.reply), c.expected) << c.name;
}

}  // namespace
}  // namespace tarvex
