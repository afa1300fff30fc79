// The cut for concatenated messages: when one message is enough, where a long
// text breaks without tearing an escape or surrogate pair, and which national
// tables (if any) give the fewest parts.  Every part is encoded and read back.
#include "codec/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

namespace tarvex {
namespace {

using gsm7::ShiftTables;

std::u16string Repeat(std::u16string_view unit, size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s += unit;
  return s;
}

// "off" is SplitForParts' rule: 160 septets or 70 UCS2 units in one message,
// 153 or 67 in a part.  Header octets (with the length octet) cost their
// septets and fill bits: one shift element leaves 155 in a message and 149 in
// a part, two 152 and 146.
TEST(SplitTest, TextsComeBackInTheFewestParts) {
  const struct {
    const char* choice;
    std::u16string text;
    std::vector<size_t> sizes;  // UTF-16 units per part
    ShiftTables tables;
    bool ucs2;
  } kCases[] = {
      {"off", u"", {0}, {0, 0}, false},
      {"off", Repeat(u"a", 160), {160}, {0, 0}, false},
      {"off", Repeat(u"a", 161), {153, 8}, {0, 0}, false},
      {"off", Repeat(u"a", 306), {153, 153}, {0, 0}, false},
      {"off", Repeat(u"€", 80), {80}, {0, 0}, false},                         // 80 escape pairs
      {"off", Repeat(u"a", 152) + Repeat(u"[", 5), {152, 5}, {0, 0}, false},  // pair not cut
      {"off", Repeat(u"Ж", 70), {70}, {0, 0}, true},
      {"off", Repeat(u"Ж", 71), {67, 4}, {0, 0}, true},
      {"off", Repeat(u"Ж", 66) + u"\U0001F600abc", {66, 5}, {0, 0}, true},  // pair not cut
      {"off", Repeat(u"a", 100) + u"Ж", {67, 34}, {0, 0}, true},  // one unit makes all UCS2
      {"off", Repeat(u"{", 600) + u"ç", {67, 67, 67, 67, 67, 67, 67, 67, 65}, {0, 0}, true},
      {"tr", u"ş" + Repeat(u"a", 153), {154}, {0, 1}, false},  // 155 septets, single shift first
      {"tr", Repeat(u"ğ", 298), {149, 149}, {1, 0}, false},    // 5 parts by single shift
      {"tr", u"plain text", {10}, {0, 0}, false},              // needs no table
      {"tr", u"Привет", {6}, {0, 0}, true},                    // the tables cannot carry it
      {"es", Repeat(u"a", 148) + u"ú" + Repeat(u"b", 10), {148, 11}, {0, 2}, false},
      {"hi", Repeat(u"नमस्ते ", 40), {149, 131}, {6, 0}, false},
      {"auto", u"Ação " + Repeat(u"ã", 150), {155}, {3, 0}, false},
      {"auto", u"ş" + Repeat(u"a", 60), {61}, {0, 0}, true},  // UCS2 ties: no table needed
      {"auto", Repeat(u"^", 100), {100}, {3, 0}, false},      // Portuguese has ^ unescaped
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.choice) + " " + std::to_string(c.text.size()));
    const MessagePlan plan = PlanMessage(c.text, gsm7::ParseNationalChoice(c.choice));
    EXPECT_EQ(plan.tables, c.tables);
    EXPECT_EQ(plan.ucs2, c.ucs2);
    if (c.choice == std::string("off")) {
      EXPECT_EQ(FitsSingle(c.text), c.sizes.size() == 1);
    }
    std::vector<size_t> sizes;
    std::u16string joined;
    for (size_t i = 0; i < plan.parts.size(); ++i) {
      sizes.push_back(plan.parts[i].size());
      SMSSubmit s;
      s.PhoneNumber = "+905321234567";
      s.MessageText = plan.parts[i];
      s.Tables = plan.tables;
      const auto total = static_cast<int32_t>(plan.parts.size());
      std::string entry =
          "1\r\n" + (total == 1 ? s.Encode() : s.EncodeLongSMS("5A", total, i + 1)).hex;
      SMSDeliver d;
      d.Decode(entry);
      EXPECT_EQ(d.Tables(), c.ucs2 ? ShiftTables{} : c.tables);
      joined += d.MessageText();
    }
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(joined, c.text);
  }
  EXPECT_THROW(gsm7::ParseNationalChoice("xx"), Error);
  // The most is 255 parts.
  EXPECT_EQ(SplitForParts(Repeat(u"a", 153 * 255)).size(), 255u);
  EXPECT_THROW(SplitForParts(Repeat(u"a", 153 * 255 + 1)), Error);
}

}  // namespace
}  // namespace tarvex
