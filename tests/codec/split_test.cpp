// The cut for concatenated messages: when one message is enough, and where a
// long text breaks without tearing an escape or surrogate pair.
#include "codec/split.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/sms_submit.h"
#include "common/error.h"

namespace tarvex {
namespace {

std::u16string Repeat(std::u16string_view unit, size_t times) {
  std::u16string s;
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

TEST(SplitTest, PartSizes) {
  const struct {
    const char* name;
    std::u16string text;
    std::vector<size_t> sizes;  // UTF-16 units per element
  } kCases[] = {
      {"empty", u"", {0}},
      {"160 septets fit one", Repeat(u"a", 160), {160}},
      {"161 septets", Repeat(u"a", 161), {153, 8}},
      {"200 characters", Repeat(u"a", 200), {153, 47}},
      {"306 = two full parts", Repeat(u"a", 306), {153, 153}},
      {"80 escape pairs fit one", Repeat(u"\u20AC", 80), {80}},
      {"an escape pair is not cut", Repeat(u"a", 152) + Repeat(u"[", 5), {152, 5}},
      {"70 UCS2 fit one", Repeat(u"\u0416", 70), {70}},
      {"71 UCS2", Repeat(u"\u0416", 71), {67, 4}},
      {"a surrogate pair is not cut", Repeat(u"\u0416", 66) + u"\U0001F600" + u"abc", {66, 5}},
      {"one unit outside GSM makes all UCS2", Repeat(u"a", 100) + u"\u0416", {67, 34}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FitsSingle(c.text), c.sizes.size() == 1) << c.name;
    const auto parts = SplitForParts(c.text);
    std::vector<size_t> sizes;
    std::u16string joined;
    for (const auto& p : parts) {
      sizes.push_back(p.size());
      joined += p;
    }
    EXPECT_EQ(sizes, c.sizes) << c.name;
    EXPECT_EQ(joined, c.text) << c.name;
  }
}

TEST(SplitTest, EveryPartEncodesAndTheLimitIs255Parts) {
  const std::u16string text = Repeat(u"x{", 300) + u"\u00E7";
  const auto parts = SplitForParts(text);
  for (size_t i = 0; i < parts.size(); ++i) {
    SMSSubmit s;
    s.PhoneNumber = "+123";
    s.MessageText = parts[i];
    EXPECT_NO_THROW(s.EncodeLongSMS("01", static_cast<int>(parts.size()), static_cast<int>(i + 1)));
  }
  EXPECT_EQ(SplitForParts(Repeat(u"a", 153 * 255)).size(), 255u);
  EXPECT_THROW(SplitForParts(Repeat(u"a", 153 * 255 + 1)), Error);
}

}  // namespace
}  // namespace tarvex
