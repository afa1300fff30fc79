// `tarvex send` and `tarvex list` against the simulator: what the simulator
// logs as sent decodes back to the number and text given; listing joins,
// deletes only what was shown and decoded, and brings 1000 messages back whole.
#include <algorithm>
#include <map>
#include <set>

#include "codec/deliver_builder.h"
#include "common/text.h"
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class MessagesTest : public ToolTest {
 protected:
  // The texts of the log entries after the first `skip`, parts joined by
  // reference in part order, with their destinations.
  std::vector<std::pair<std::string, std::string>> Delivered(const std::string& log, size_t skip) {
    std::vector<Json> entries = SentLog(log);
    entries.erase(entries.begin(),
                  entries.begin() + static_cast<long>(std::min(skip, entries.size())));
    std::map<std::string, std::vector<Json>> by_ref;
    std::vector<std::pair<std::string, std::string>> whole;
    for (const Json& e : entries) {
      if (e["total"].get<int>() <= 1) {
        whole.emplace_back(e["to"], e["text"]);
      } else {
        by_ref[e["ref"].get<std::string>()].push_back(e);
      }
    }
    for (auto& [ref, parts] : by_ref) {
      std::sort(parts.begin(), parts.end(),
                [](const Json& a, const Json& b) { return a["part"] < b["part"]; });
      std::string text;
      for (const Json& p : parts) text += p["text"].get<std::string>();
      EXPECT_EQ(parts.size(), parts[0]["total"].get<size_t>()) << "ref " << ref;
      whole.emplace_back(parts[0]["to"], text);
    }
    return whole;
  }
};

std::string Repeat(const std::string& piece, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += piece;
  return text;
}

TEST_F(MessagesTest, SentTextsArriveAsGiven) {
  const std::string log = StatePath("sent.jsonl");
  StartModem({"--log", log});
  struct Case {
    const char* name;
    std::string text;
    size_t parts;
  };
  const std::vector<Case> cases = {
      {"short", "See you at 8 {ok}", 1},
      {"160 GSM characters", Repeat("0123456789", 16), 1},
      {"400 characters", Repeat("The quick brown fox jumps over the lazy dog. ", 9).substr(0, 400),
       3},
      {"extension characters at the part boundary",
       Repeat("a", 152) + "\xE2\x82\xAC" + Repeat("b", 20), 2},
      {"UCS2 with a surrogate pair at the boundary",
       Repeat("\xD0\x96", 66) + "\xF0\x9F\x98\x80" + Repeat("\xD0\xAF", 10), 2},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult r = Tool({"send", "-m", "1", "+31612345678", c.text, "--json"});
    ASSERT_EQ(r.status, 0) << r.Describe();
    EXPECT_EQ(r.JsonLines().at(0)["Parts"].size(), c.parts) << r.Describe();
    const auto delivered = Delivered(log, seen);
    seen = SentLog(log).size();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].first, "+31612345678");
    EXPECT_EQ(delivered[0].second, c.text);
  }
}

TEST_F(MessagesTest, TextFromStdinAndSingleCut) {
  const std::string log = StatePath("sent.jsonl");
  StartModem({"--log", log});
  RunResult r =
      Tool({"send", "-m", "1", "+31687654321", "-"}, 30000ms, "Piped \xE2\x82\xAC text\n");
  ASSERT_EQ(r.status, 0) << r.Describe();
  auto delivered = Delivered(log, 0);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].first, "+31687654321");
  EXPECT_EQ(delivered[0].second, "Piped \xE2\x82\xAC text");

  r = Tool({"send", "-m", "1", "+4915112345678", Repeat("x", 200), "--single"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  EXPECT_NE(r.err.find("cut"), std::string::npos) << r.Describe();
  delivered = Delivered(log, 1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].second, Repeat("x", 160));

  // A refused number leaves nothing sent and says why.
  r = Tool({"send", "-m", "1", "", "text"});
  EXPECT_EQ(r.status, 5) << r.Describe();
  EXPECT_EQ(SentLog(log).size(), 2u);
}

TEST_F(MessagesTest, ListJoinDeleteEmptiesTheDemoInbox) {
  StartModem({"--demo-inbox"});
  RunResult r = Tool({"list", "-m", "1", "--join", "--delete", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  const std::vector<Json> messages = r.JsonLines();
  ASSERT_EQ(messages.size(), 3u) << r.Describe();
  const Json& joined = messages[2];
  EXPECT_EQ(joined["MultiPartSMS"], true);
  EXPECT_EQ(joined["Parts"], Json::array({1, 2, 3}));
  EXPECT_EQ(joined["MissingParts"], Json::array());
  EXPECT_GT(joined["MessageText"].get<std::string>().size(), 300u);

  r = Tool({"list", "-m", "1", "--all", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  EXPECT_TRUE(r.JsonLines().empty()) << r.Describe();
}

TEST_F(MessagesTest, ListKeepsWhatItCouldNotShowWhole) {
  auto part = [](int number) {
    DeliverFields message;
    message.sender = "+31611111111";
    message.text = Utf8ToUtf16("part " + std::to_string(number) + " ");
    message.concat = DeliverFields::Concat{0x5A, 3, number, false};
    return BuildDeliverPdu(message);
  };
  DeliverFields single;
  single.text = u"Whole message";
  const std::string broken = "07911326040000F0040B91";  // cut short inside the sender
  {
    std::ofstream inbox(StatePath("inbox.txt"));
    inbox << part(3) << "\n"
          << BuildDeliverPdu(single) << "\n"
          << broken << "\n"
          << part(1) << "\n";
  }
  StartModem({"--inbox", StatePath("inbox.txt")});

  RunResult r = Tool({"list", "-m", "1", "--join", "--delete", "--json"});
  EXPECT_EQ(r.status, 1) << r.Describe();
  const std::vector<Json> shown = r.JsonLines();
  ASSERT_EQ(shown.size(), 3u) << r.Describe();
  const Json& incomplete = shown[0];
  EXPECT_EQ(incomplete["Parts"], Json::array({1, 3}));
  EXPECT_EQ(incomplete["MissingParts"], Json::array({2}));
  EXPECT_EQ(incomplete["MessageText"], "part 1 part 3 ");
  EXPECT_EQ(shown[1]["MessageText"], "Whole message");
  EXPECT_TRUE(shown[2].contains("error")) << r.Describe();
  EXPECT_EQ(shown[2]["PDU"], broken);

  // Only the whole single message went; the parts and the broken entry stay.
  r = Tool({"list", "-m", "1", "--all", "--json"});
  std::set<std::string> left;
  for (const Json& m : r.JsonLines()) {
    left.insert(m.contains("error") ? "broken" : m["MessageText"].get<std::string>());
  }
  EXPECT_EQ(left, (std::set<std::string>{"part 1 ", "part 3 ", "broken"})) << r.Describe();
}

// Unsolicited lines in front of a reply, and junk in front of a listing,
// change nothing that is shown.  (Junk in front of an identity answer is
// another matter: the parsers take the first line, as documented.)
TEST_F(MessagesTest, LineNoiseBeforeTheReplyIsIgnored) {
  const std::vector<std::vector<std::string>> cases = {
      {"--garbage-before", "CMGL"}, {"--urc-before", "CMGL"}, {"--urc-before", "CGMM"}};
  for (const auto& noise : cases) {
    SCOPED_TRACE(noise[0] + " " + noise[1]);
    TearDown();
    SetUp();
    ASSERT_NO_FATAL_FAILURE(StartModem({"--demo-inbox", noise[0], noise[1]}));
    RunResult r = Tool({"list", "-m", "1", "--join", "--json"});
    ASSERT_EQ(r.status, 0) << r.Describe();
    EXPECT_EQ(r.JsonLines().size(), 3u) << r.Describe();
    r = Tool({"info", "-m", "1", "--json"});
    ASSERT_EQ(r.status, 0) << r.Describe();
    EXPECT_EQ(r.JsonLines().at(0)["DeviceModel"], "MODEMSIM-1") << r.Describe();
  }
}

TEST_F(MessagesTest, ThousandMessagesComeBackWhole) {
  StartModem({"--generate-inbox", "1000"});
  const RunResult r = Tool({"list", "-m", "1", "--json"}, 120000ms);
  ASSERT_EQ(r.status, 0) << r.Describe().substr(0, 2000);
  const std::vector<Json> messages = r.JsonLines();
  ASSERT_EQ(messages.size(), 1000u);
  std::set<std::string> ids;
  for (const Json& m : messages) {
    ASSERT_FALSE(m.contains("error")) << m.dump();
    ASSERT_FALSE(m["MessageText"].get<std::string>().empty()) << m.dump();
    ids.insert(m["MessageID"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), 1000u);
}

}  // namespace
}  // namespace tarvex::e2e
