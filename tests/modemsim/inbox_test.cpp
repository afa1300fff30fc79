#include "modemsim/inbox.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "modemsim/sim_fixture.h"

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

// Same count, same messages, each a readable default-alphabet deliver.
TEST(GenerateInboxTest, SameCountSameMessagesAllReadable) {
  std::vector<StoredMessage> a = GenerateInbox(40);
  ASSERT_EQ(a.size(), 40u);
  std::set<std::u16string> texts;
  std::set<std::string> senders;
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].pdu, GenerateInbox(40)[i].pdu);
    EXPECT_EQ(a[i].stat, kRecUnread);
    SMSDeliver d = Decoded(a[i]);
    EXPECT_EQ(d.DataCoding(), 0) << i;
    texts.insert(d.MessageText());
    senders.insert(d.PhoneNumber());
  }
  EXPECT_EQ(texts.size(), 40u);
  EXPECT_GE(senders.size(), 3u);
  EXPECT_TRUE(GenerateInbox(0).empty());
}

}  // namespace
}  // namespace tarvex::modemsim
