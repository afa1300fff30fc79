// `tarvex send` and `tarvex list` against the simulator: what it logs as sent
// decodes back to the number and text given; listing joins, deletes only what
// was shown whole, and brings 1000 messages back.
#include <algorithm>
#include <set>

#include "codec/deliver_builder.h"
#include "common/text.h"
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class MessagesTest : public ToolTest {
 protected:
  // The message that the log's entries after the first `skip` make up: its
  // destination and its parts' texts.
  std::pair<std::string, std::string> Delivered(const std::string& log, size_t skip) {
    std::vector<Json> parts = JsonLines(std::ifstream(log));
    parts.erase(parts.begin(), parts.begin() + static_cast<long>(std::min(skip, parts.size())));
    if (parts.empty()) return {};
    std::string text;
    for (const Json& p : parts) {
      EXPECT_EQ(p["part"], &p - &parts[0] + 1) << "parts go out in order";
      EXPECT_EQ(p["ref"], parts[0]["ref"]);
      EXPECT_EQ(std::max(p["total"].get<size_t>(), size_t{1}), parts.size());
      text += p["text"].get<std::string>();
    }
    return {parts[0]["to"], text};
  }
};

TEST_F(MessagesTest, SentTextsArriveAsGiven) {
  const std::string log = StatePath("sent.jsonl");
  StartModem({"--log", log});
  std::string letters;  // 400 of them, so that parts out of order would show
  for (int i = 0; i < 400; ++i) letters += static_cast<char>('a' + i % 23);
  struct Case {
    const char* name;
    std::string arg;
    std::string logged;  // the text the simulator received
    std::string flag = "";
    std::string input = "";
  };
  const std::vector<Case> cases = {
      {"3 parts", letters, letters},
      {"text from stdin", "-", "Piped \xE2\x82\xAC text", "", "Piped \xE2\x82\xAC text\n"},
      {"stdin not UTF-8, sent lossy", "-", "caf\xEF\xBF\xBD", "--lossy", "caf\xE9"},
      {"cut to one message", std::string(200, 'x'), std::string(160, 'x'), "--single"},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"send", "-m", "1", "+31612345678", c.arg};
    if (!c.flag.empty()) args.push_back(c.flag);
    const RunResult r = Tool(args, 30000ms, c.input);
    ASSERT_EQ(r.status, 0) << r.Describe();
    if (c.flag == "--single") {
      EXPECT_NE(r.err.find("cut"), std::string::npos) << r.Describe();
    }
    EXPECT_EQ(Delivered(log, seen), std::make_pair(std::string("+31612345678"), c.logged));
    seen = JsonLines(std::ifstream(log)).size();
  }
  // Without --lossy such input is refused before the modem is touched.
  const RunResult r = Tool({"send", "-m", "1", "+31612345678", "-", "--json"}, 30000ms, "caf\xE9");
  EXPECT_EQ(r.status, 2) << r.Describe();
  EXPECT_NE(r.err.find("not UTF-8"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.JsonLines().at(0)["Result"], "FAILED") << r.Describe();
  EXPECT_EQ(JsonLines(std::ifstream(log)).size(), seen);
}

TEST_F(MessagesTest, ListKeepsWhatItCouldNotShowWhole) {
  auto part = [](int total, int number) {
    DeliverFields message;
    message.sender = "+31611111111";
    message.text =
        Utf8ToUtf16("part " + std::to_string(number) + "/" + std::to_string(total) + " ");
    message.concat = DeliverFields::Concat{0x50 + total, total, number, false};
    return BuildDeliverPdu(message);
  };
  DeliverFields single;
  single.text = u"Whole message";
  const std::string broken = "07911326040000F0040B91";  // cut short inside the sender
  std::ofstream(StatePath("inbox.txt")) << part(3, 3) << "\n"
                                        << BuildDeliverPdu(single) << "\n"
                                        << broken << "\n"
                                        << part(3, 1) << "\n"
                                        << part(2, 2) << "\n"
                                        << part(2, 1) << "\n";
  // Junk in front of the listing, replies in 1-byte pieces.
  StartModem({"--inbox", StatePath("inbox.txt"), "--garbage-before", "CMGL", "--chunk", "1"});

  RunResult r = Tool({"list", "-m", "1", "--join", "--delete", "--json"});
  EXPECT_EQ(r.status, 1) << r.Describe();
  const std::vector<Json> shown = r.JsonLines();
  ASSERT_EQ(shown.size(), 4u) << r.Describe();
  EXPECT_EQ(shown[0]["Parts"], Json::array({1, 3}));
  EXPECT_EQ(shown[0]["MissingParts"], Json::array({2}));
  EXPECT_EQ(shown[0]["MessageText"], "part 1/3 part 3/3 ");
  EXPECT_EQ(shown[1]["MessageText"], "Whole message");
  EXPECT_TRUE(shown[2].contains("error")) << r.Describe();
  EXPECT_EQ(shown[2]["PDU"], broken);
  EXPECT_EQ(shown[3]["MessageText"], "part 1/2 part 2/2 ");

  // Only the whole messages went; the parts and the broken entry stay.
  r = Tool({"list", "-m", "1", "--all", "--json"});
  std::set<std::string> left;
  for (const Json& m : r.JsonLines()) {
    left.insert(m.contains("error") ? "broken" : m["MessageText"].get<std::string>());
  }
  EXPECT_EQ(left, (std::set<std::string>{"part 1/3 ", "part 3/3 ", "broken"})) << r.Describe();
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
