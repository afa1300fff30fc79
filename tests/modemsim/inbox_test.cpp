#include "modemsim/inbox.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarvex::modemsim {
namespace {

constexpr char kHello[] = "07919999999999F9040B912143658709F100002111228195058005C8329BFD06";

TEST(ParseInboxTest, ReadsPdusWithOptionalStatus) {
  std::string text = std::string("# two messages\n\n") + kHello + "\r\n  1, " + kHello + "  \n" +
                     "# the end\n" + "3,00aa11";
  std::vector<StoredMessage> inbox = ParseInbox(text);
  ASSERT_EQ(inbox.size(), 3u);
  EXPECT_EQ(inbox[0].stat, kRecUnread);
  EXPECT_EQ(inbox[0].pdu, kHello);
  EXPECT_EQ(inbox[1].stat, kRecRead);
  EXPECT_EQ(inbox[2].stat, kStoSent);
  EXPECT_EQ(inbox[2].pdu, "00AA11");
}

TEST(ParseInboxTest, NamesTheLineOfABadEntry) {
  for (const char* bad : {"ZZ00", "0", "0791", "07919999999999F9", "4,00AA", "x,00AA"}) {
    std::string text = std::string(kHello) + "\n" + bad;
    try {
      ParseInbox(text);
      ADD_FAILURE() << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
}  // namespace tarvex::modemsim
