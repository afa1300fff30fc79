// The cut for concatenated messages: when one message is enough, and where a
// long text breaks without tearing an escape or surrogate pair.
#include "codec/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tarvex/error.h"
#include "tarvex/sms_submit.h"

namespace tarvex {
namespace {

// The most is 255 parts.
TEST(SplitTest, PartSizes) {
  const struct {
    const char* name;
    std::u16string text;
    std::vector<size_t> sizes;  // UTF-16 units per element
  } kCases[] = {
      {"empty", u"", {0}},
      {"160 septets fit one", std::u16string(160, u'a'), {160}},
      {"161 septets", std::u16string(161, u'a'), {153, 8}},
      {"306 = two full parts", std::u16string(306, u'a'), {153, 153}},
      {"80 escape pairs fit one", std::u16string(80, u'\u20AC'), {80}},
      {"an escape pair is not cut", std::u16string(152, u'a') + std::u16string(5, u'['), {152, 5}},
      {"70 UCS2 fit one", std::u16string(70, u'\u0416'), {70}},
      {"71 UCS2", std::u16string(71, u'\u0416'), {67, 4}},
      {"a surrogate pair is not cut", std::u16string(66, u'\u0416') + u"\U0001F600abc", {66, 5}},
      {"one unit outside GSM makes all UCS2", std::u16string(100, u'a') + u"\u0416", {67, 34}},
      {"escapes count once in UCS2",
       std::u16string(600, u'{') + u"\u00E7",
       {67, 67, 67, 67, 67, 67, 67, 67, 65}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FitsSingle(c.text), c.sizes.size() == 1);
    const auto parts = SplitForParts(c.text);
    std::vector<size_t> sizes;
    std::u16string joined;
    for (const auto& p : parts) {
      sizes.push_back(p.size());
      joined += p;
      if (c.sizes.size() == 1) continue;
      SMSSubmit s;  // every part goes out as one
      s.PhoneNumber = "+123";
      s.MessageText = p;
      EXPECT_NO_THROW(s.EncodeLongSMS("01", static_cast<int>(parts.size()), 1));
    }
    EXPECT_EQ(sizes, c.sizes);
    EXPECT_EQ(joined, c.text);
  }
  EXPECT_EQ(SplitForParts(std::u16string(153 * 255, u'a')).size(), 255u);
  EXPECT_THROW(SplitForParts(std::u16string(153 * 255 + 1, u'a')), Error);
}

}  // namespace
}  // namespace tarvex
