// The one GSM 7-bit table: positions that differ from ASCII, the extension
// table, and escapes the way a receiver must read them.
#include "codec/gsm_alphabet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvex {
namespace {

std::u16string From(const std::vector<uint8_t>& septets) {
  return gsm7::FromSeptets(septets.data(), septets.size());
}

std::vector<uint8_t> To(std::u16string_view text) {
  uint8_t out[2];
  return std::vector<uint8_t>(out, out + gsm7::EncodeInto(text, out, sizeof out));
}

TEST(GsmAlphabetTest, CharactersAndTheirSeptets) {
  const struct {
    char16_t c;
    std::vector<uint8_t> septets;  // empty: not in the alphabet
  } kCases[] = {
      {u'@', {0x00}},          {u'\u00A3', {0x01}}, {u'$', {0x02}},      {u'\u0394', {0x10}},
      {u'_', {0x11}},          {u'\u039E', {0x1A}}, {u'\u00C9', {0x1F}}, {u'\u00A4', {0x24}},
      {u'\u00A1', {0x40}},     {u'\u00A7', {0x5F}}, {u'\u00BF', {0x60}}, {u'\u00E0', {0x7F}},
      {u'\u20AC', {27, 0x65}}, {u'[', {27, 0x3C}},  {u']', {27, 0x3E}},  {u'{', {27, 0x28}},
      {u'}', {27, 0x29}},      {u'\\', {27, 0x2F}}, {u'^', {27, 0x14}},  {u'~', {27, 0x3D}},
      {u'|', {27, 0x40}},      {u'\f', {27, 0x0A}}, {u'`', {}},          {u'\u00E7', {}},
      {u'\u03B1', {}},         {u'\u2126', {}},     {u'\t', {}},         {u'\u0000', {}},
  };
  for (const auto& c : kCases) {
    const std::u16string text(1, c.c);
    SCOPED_TRACE(static_cast<int>(c.c));
    EXPECT_EQ(gsm7::SeptetLength(c.c), static_cast<int>(c.septets.size()));
    EXPECT_EQ(gsm7::CanEncode(text), !c.septets.empty());
    if (c.septets.empty()) continue;
    EXPECT_EQ(To(text), c.septets);
    EXPECT_EQ(From(c.septets), text);
  }
  for (uint8_t s = 0; s < 128; ++s) {
    if (s == gsm7::kEscape) continue;
    const std::u16string c = From({s});
    ASSERT_EQ(c.size(), 1u) << int{s};
    EXPECT_EQ(To(c), std::vector<uint8_t>{s}) << int{s};
  }
}

TEST(GsmAlphabetTest, EscapesCountsAndEncodeIntoCapacity) {
  EXPECT_EQ(From({27, 'a'}), u"a");  // no extension for 'a': its default character
  EXPECT_EQ(From({27, 0x00}), u"@");
  EXPECT_EQ(From({'x', 27}), u"x ");      // a lone escape at the end
  EXPECT_EQ(From({27, 27, 'b'}), u" b");  // the further-table escape

  const std::u16string text = u"[x]\u20AC\u0394";
  EXPECT_EQ(gsm7::CountSeptets(text), 8);
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  // Counting goes on past the room, and an escape pair is never half-written.
  EXPECT_EQ(gsm7::EncodeInto(text, out, 3), 8u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{27, 0x3C, 'x', 0xEE}));
  EXPECT_EQ(gsm7::EncodeInto(u"ab\u00E7", out, 4), gsm7::kNotGsm);
}

}  // namespace
}  // namespace tarvex
