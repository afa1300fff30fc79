// Listing: real listings cut into entries (through a scripted modem and as a
// pure parser), and what an error, silence or a malformed header gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/message_entry.h"
#include "engine/engine_fixture.h"
#include "engine/message_list.h"

namespace tarvex::testing {
namespace {

// Two SMS-DELIVER PDUs as a Huawei E173 listed them.
const std::string kPdu1 =
    "07919730071111F1040B919746121611F10000811170021222230DC8329BFD6681EE6F399B1C02";
const std::string kPdu2 =
    "07919730071111F1440B919746121611F10008811170021232238C0500030302010421043F0430";

std::vector<std::string> Items(const Collection<std::string>& c) {
  std::vector<std::string> items;
  for (int32_t i = 1; i <= c.Count(); ++i) items.push_back(c.Item(i));
  return items;
}

// A listing of n messages with indexes first, first+1, ...
std::string Listing(int first, int n, const std::string& line_end = "\r\n") {
  std::string reply = "\r\n";
  for (int i = 0; i < n; ++i) {
    reply += "+CMGL: " + std::to_string(first + i) + ",1,,39" + line_end;
    reply += (i % 2 ? kPdu2 : kPdu1) + line_end;
  }
  return reply + "\r\nOK\r\n";
}

using ListingTest = SlotOneTest;

TEST_F(ListingTest, ListingsBecomeEntriesInOrder) {
  std::vector<std::string> ten;
  for (int i = 0; i < 10; ++i) ten.push_back(MakeEntry(1 + i, i % 2 ? kPdu2 : kPdu1));
  struct Case {
    const char* name;
    std::string reply;
    size_t chunk;  // bytes per read
    std::vector<std::string> expected;
    // The tool's outcome: a refusal or silence is never an empty storage.
    Answer::Outcome outcome = Answer::kDone;
    int cms = -1;
  } cases[] = {
      {"ten messages in 16-byte reads", Listing(1, 10), 16, ten},
      {"lines ended by CR alone",
       Listing(3, 2, "\r"),
       4096,
       {MakeEntry(3, kPdu1), MakeEntry(4, kPdu2)}},
      {"empty storage", "\r\nOK\r\n", 4096, {}},
      {"storage refused", "\r\n+CMS ERROR: 321\r\n", 4096, {}, Answer::kRefused, 321},
      {"ERROR behind a listing", Listing(1, 1) + "\r\nERROR\r\n", 4096, {}, Answer::kRefused},
      {"silent", "", 4096, {}, Answer::kNoAnswer},
      {"no final code", "\r\n+CMGL: 1,0,,39\r\n" + kPdu1 + "\r\n", 4096, {}, Answer::kNoAnswer},
  };
  engine().SetCommandTimeout(1000);
  for (const Case& c : cases) {
    modem().Expect("AT+CMGL=1\r").ReplyInChunks(c.reply, c.chunk);
    const tarvex::Listing listing = engine().ListStored(1, ibxOldMessage);
    EXPECT_EQ(Items(listing.entries), c.expected) << c.name;
    EXPECT_EQ(listing.outcome, c.outcome) << c.name;
    EXPECT_EQ(listing.error.number, c.cms) << c.name;
  }
  EXPECT_TRUE(modem().PortOpen());
  ExpectScriptMet();
}

// A malformed header raises its error through ReadMessage, which frees the
// slot as every error does (TransactionTest's argument guard shows that).
TEST(MessageListTest, CutsEntriesOutOfOddShapes) {
  struct Case {
    const char* name;
    std::string data;
    std::vector<std::string> expected;
    int32_t error = 0;
  } cases[] = {
      {"blanks around the index", "+CMGL:  7 ,1,,5\r\nAABB\r\n", {"7\r\nAABB"}},
      {"negative index", "+CMGL: -2,1,,5\r\nAABB\r\n", {"-2\r\nAABB"}},
      {"LF alone", "+CMGL: 1,1,,5\nAABB\n+CMGL: 2,1,,5\nCCDD\n", {"1\r\nAABB", "2\r\nCCDD"}},
      {"PDU without a line end", "+CMGL: 1,1,,5\r\nAABB", {"1\r\nAABB"}},
      {"no header", "\r\n+CMGR: 1,,5\r\nAABB\r\n\r\nOK\r\n", {}},
      {"index that is no number", "+CMGL: x1,0,,5\r\nAABB\r\n", {}, kTypeMismatch},
      {"index beyond 32 bits", "+CMGL: 4294967296,0,,5\r\nAABB\r\n", {}, kOverflow},
      {"no comma after the colon", "+CMGL: 3\r\nAABB\r\n", {}, kInvalidArgument},
  };
  for (const Case& c : cases) {
    std::vector<std::string> entries;
    EXPECT_EQ(ErrorOf([&] { entries = Items(TextDecode::MessageList(c.data)); }), c.error)
        << c.name;
    EXPECT_EQ(entries, c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tarvex::testing
