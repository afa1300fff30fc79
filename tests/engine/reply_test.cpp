// The removal of unsolicited lines from replies of several modems.
#include "engine/reply.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvex {
namespace {

TEST(RemoveUnsolicitedTest, NoticesGoAndTheAnswerKeepsItsShape) {
  struct Case {
    const char* name;
    std::string reply;
    std::string expected;
  } cases[] = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(RemoveUnsolicited(c.reply), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tarvex
