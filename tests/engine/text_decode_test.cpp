// The reply parsers as pure functions, on replies as modems send them and on
// replies of odd shapes; and the removal of unsolicited lines before them.
#include "engine/text_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/modem_errors.h"
#include "tarvex/reply.h"

namespace tarvex {
namespace {

// Each parser's own odd shapes; the replies of named modems go through the
// engine's queries (TransactionTest).
TEST(TextDecodeTest, ParsersOnOddShapes) {
  using namespace TextDecode;
  const struct {
    const char* name;
    std::string (*parse)(std::string_view);
    std::string reply, expected;
  } cases[] = {
      {"a modem that only says OK", DeviceModel, "\r\nOK\r\n", "OK"},
      {"prefix and blanks", DeviceModel, "\r\n+CGMM: mc7455  \r\n", "MC7455"},
      {"ucs2 cyrillic", USSDResponse, "\r\n+CUSD: 0,\"04110430043B0430043D0441\",72\r\n", "БАЛАНС"},
      {"ucs2 that is not hex stays text", USSDResponse, "\r\n+CUSD: 0,\"Hi there\",72\r\n",
       "HI THERE"},
      {"no coding scheme", USSDResponse, "\r\n+CUSD: 0,\"Saldo 12\"\r\n", "SALDO 12"},
      {"no blank after the colon loses a character", USSDResponse, "\r\n+CUSD:0,\"Abc\",15\r\n",
       "BC"},
      {"quotation mark inside the text", USSDResponse, "\r\n+CUSD: 0,\"Say \"hi\",15\r\n",
       "SAY \"HI"},
      {"letters of European scripts", USSDResponse,
       "\r\n+CUSD: 0,\"ärger øre ÿ łódź ıi ωμέγας ёж\"\r\n", "ÄRGER ØRE Ÿ ŁÓDŹ II ΩΜΈΓΑΣ ЁЖ"},
      {"not UTF-8: ASCII letters only", USSDResponse, "\r\n+CUSD: 0,\"a\xE9z\"\r\n", "A\xE9Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.parse(c.reply), c.expected) << c.name;
}

// Lines that are not the command's own answer go wherever they arrive; the
// ones a receiver needs are kept, a two-line notice with its PDU.
TEST(RemoveUnsolicitedTest, NoticesGoAndTheAnswerKeepsItsShape) {
  const struct {
    const char* name;
    std::string reply, own, expected;
    std::vector<std::string> kept = {};
  } cases[] = {
      {"notice without its blank line", "^BOOT:1,0,0,0,8\r\n\r\nE173\r\n\r\nOK\r\n", "",
       "\r\nE173\r\n\r\nOK\r\n"},
      {"kept behind the final code",
       "\r\nOK\r\n\r\n+CDSI: \"SR\",1\r\n",
       "",
       "\r\nOK\r\n",
       {"+CDSI: \"SR\",1"}},
      {"notice between listing lines",
       "\r\n+CMGL: 1,0,,5\r\nAA\r\n\r\n+CMTI: \"SM\",2\r\n+CMGL: 2,0,,5\r\nBB\r\n",
       "+CMGL:",
       "\r\n+CMGL: 1,0,,5\r\nAA\r\n+CMGL: 2,0,,5\r\nBB\r\n",
       {"+CMTI: \"SM\",2"}},
      {"the command's own answer and its errors stay",
       "\r\n+CUSD: 0,\"x\",15\r\n\r\n+CME ERROR: 3\r\n",
       "+CUSD:", "\r\n+CUSD: 0,\"x\",15\r\n\r\n+CME ERROR: 3\r\n"},
      {"a late answer of another command goes", "\r\n+CUSD: 0,\"x\",15\r\n\r\nE1\r\n",
       "+CGMM:", "\r\nE1\r\n"},
  };
  for (const auto& c : cases) {
    std::vector<Unsolicited> kept;
    EXPECT_EQ(RemoveUnsolicited(c.reply, c.own, &kept), c.expected) << c.name;
    std::vector<std::string> texts;
    for (const auto& k : kept) texts.push_back(k.text);
    EXPECT_EQ(texts, c.kept) << c.name;
  }
}

// Final codes are whole lines; the error's meaning comes from the tables.
TEST(ClassifyTest, FinalCodesAndTheirMeanings) {
  const struct {
    const char* reply;
    const char* described;  // the kind and number as the tool names them
  } cases[] = {
      {"\r\nE173\r\n\r\nOK\r\n", "OK"},
      {"\r\n+CMS ERROR: 38\r\n", "+CMS ERROR 38: network out of order"},
      {"\r\n+CME ERROR: 14\r\n", "+CME ERROR 14: SIM busy"},
      {"\r\n+CMS ERROR: 999\r\n", "+CMS ERROR 999"},
      {"\r\n+CME ERROR: SIM not inserted\r\n", "+CME ERROR: SIM not inserted"},
      {"AT+CGMM\r\r\nCOMMAND NOT SUPPORT\r\n", "COMMAND NOT SUPPORT"},
  };
  for (const auto& c : cases) {
    const FinalCode code = Classify(c.reply);
    EXPECT_EQ(code.kind == FinalCode::kOk ? "OK" : DescribeModemError(code), c.described)
        << c.reply;
  }
}

}  // namespace
}  // namespace tarvex
