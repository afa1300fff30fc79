// The reply parsers as pure functions, on replies as modems send them (after
// the engine removed unsolicited lines) and on replies of odd shapes.
#include "engine/text_decode.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvex {
namespace {

TEST(TextDecodeTest, IdentityParsersOnOddShapes) {
  EXPECT_EQ(TextDecode::DeviceModel("\r\nOK\r\n"), "OK");  // a modem that only says OK
  EXPECT_EQ(TextDecode::DeviceModel("E173"), "");          // no CR at all
  EXPECT_EQ(TextDecode::DeviceModel("\r"), "");
  EXPECT_EQ(TextDecode::DeviceSerialNumber("\r\nabc"), "abc");  // no second CR: left as it is
  EXPECT_EQ(TextDecode::DeviceModel("\r\n+CGMM: mc7455  \r\n"), "MC7455");
}

TEST(TextDecodeTest, MessageStorageTakesTheFirstQuotedName) {
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
  } cases[] = {
      {"three storages", "\r\n+CPMS: \"SM\",3,30,\"SM\",3,30,\"SM\",3,30\r\n\r\nOK\r\n", "SM"},
      {"phone memory, lower case", "\r\n+CPMS: \"me\",0,100,\"me\",0,100\r\n\r\nOK\r\n", "ME"},
      {"no quotation marks: the rest unchanged", "\r\n+CPMS: 3,30\r\n\r\nOK\r\n",
       "+CPMS: 3,30\r\n\r\nOK\r\n"},
      {"one quotation mark", "\r\n+CPMS: \"SM", "SM"},
      {"no cr", "+CPMS: \"SM\"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextDecode::MessageStorage(c.reply), c.expected) << c.name;
  }
}

TEST(TextDecodeTest, UssdResponseDecodesTheAnswerText) {
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
  } cases[] = {
      {"gsm text", "\r\n+CUSD: 0,\"Balance 5000\",15\r\n", "BALANCE 5000"},
      {"ucs2 cyrillic", "\r\n+CUSD: 0,\"04110430043B0430043D0441\",72\r\n", "БАЛАНС"},
      {"ucs2 that is not hex stays text", "\r\n+CUSD: 0,\"Hi there\",72\r\n", "HI THERE"},
      {"no coding scheme", "\r\n+CUSD: 0,\"Saldo 12\"\r\n", "SALDO 12"},
      {"status alone, too short for text", "+CUSD: 2", ""},
      {"no blank after the colon loses a character", "\r\n+CUSD:0,\"Abc\",15\r\n", "BC"},
      {"quotation mark inside the text", "\r\n+CUSD: 0,\"Say \"hi\",15\r\n", "SAY \"HI"},
      {"no answer", "\r\nOK\r\n", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextDecode::USSDResponse(c.reply), c.expected) << c.name;
  }
}

TEST(TextDecodeTest, UpperCaseCoversTheLettersOfEuropeanScripts) {
  EXPECT_EQ(text::UpperCase("abc xyz 09"), "ABC XYZ 09");
  EXPECT_EQ(text::UpperCase("ärger øre ÿ"), "ÄRGER ØRE Ÿ");
  EXPECT_EQ(text::UpperCase("łódź ıi"), "ŁÓDŹ II");
  EXPECT_EQ(text::UpperCase("ωμέγας"), "ΩΜΈΓΑΣ");
  EXPECT_EQ(text::UpperCase("привет ёж"), "ПРИВЕТ ЁЖ");
  // Not UTF-8: ASCII letters only, other bytes untouched.
  EXPECT_EQ(text::UpperCase("a\xE9z"), "A\xE9Z");
}

}  // namespace
}  // namespace tarvex
