// The GSM 7-bit tables: the default one's positions that differ from ASCII, the
// extension table, escapes as a receiver must read them; the national tables'
// filled positions, and messages phones sent through them (split_test encodes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "tarvex/national_tables.h"
#include "tarvex/sms_deliver.h"

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
  EXPECT_EQ(From({27, 'a'}), u"a");       // no extension for 'a': its default character
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

namespace tarvex::gsm7 {
namespace {

int Defined(const char16_t* table) {
  int n = 0;
  for (int s = 0; s < 128; ++s) n += table[s] != kNoChar;
  return n;
}

// Filled positions of annex A's tables by language identifier (A.3.x locking,
// A.2.x single shift); -1 where the standard has no table.  A table that lost
// LF, CR or space, or filled the escape or 0D, is off by one here.
TEST(NationalTablesTest, HoldTheStandardsPositions) {
  const int kLocking[] = {-1, 127, -1, 127, 114, 120, 127, 120, 120, 116, 110, 102, 120, 127};
  const int kSingle[] = {-1, 17, 19, 37, 82, 70, 88, 73, 82, 75, 76, 77, 78, 90};
  for (int l = 1; l < kLanguageCount; ++l) {
    SCOPED_TRACE(std::string(LanguageCode(l)));
    EXPECT_EQ(LanguageFromCode(LanguageCode(l)), l);
    EXPECT_EQ(HasLockingShift(l) ? Defined(LockingShiftTable(l)) : -1, kLocking[l]);
    EXPECT_EQ(HasSingleShift(l) ? Defined(SingleShiftTable(l)) : -1, kSingle[l]);
  }
  EXPECT_EQ(LockingShiftTable(2), DefaultTable());  // Spanish has no locking table
}

// SMS-DELIVER PDUs as a phone sends them (service centre +9051230000, sender
// +905234125678); the unknown language 14 reads through the default tables.
TEST(NationalTablesTest, DecodeWhatPhonesSend) {
  const struct {
    const char* name;
    const char* pdu;
    std::u16string text;
    const char* how;  // tables locking/single, and the part of a concatenated one
  } kCases[] = {
      {"Turkish single shift (8-bit reference)",
       "07910915320000F0440C9109254321658700005210312143650C2F080003A702012401016033AD83C26ED02639"
       "A787DDE23AFB440EE737E9360BB439833669D0660EDA8C01",
       u"Şu an İstanbul'dayım, ğ ı ş ç", "tables 0/1 part 1 of 0003A7"},
      {"Portuguese locking and single shift",
       "07910915320000F0440C9109254321658700005210312143650C2406240103250103C1C4FEAD03D1E58439282D"
       "6FEFDF7316E80F72BFD3F4320803",
       u"Ação: três irmãos, à noite €", "tables 3/3"},
      {"Hindi locking and single shift, concatenated",
       "07910915320000F0440C9109254321658700005210312143650C260B0003110101240106250106BC84CCEF29CB"
       "02117AA08A96990535B5811F28269B01",
       u"नमस्ते, आप कैसे हैं? 123", "tables 6/6 part 1 of 000311"},
      {"unknown language 14",
       "07910915320000F0440C9109254321658700005210312143650C0A0325010E4096D9EC37", u"Hello",
       "tables 0/0"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SMSDeliver d;
    std::string entry = std::string("1\r\n") + c.pdu;
    d.Decode(entry);
    EXPECT_EQ(d.MessageText(), c.text);
    std::string how =
        "tables " + std::to_string(d.Tables().locking) + "/" + std::to_string(d.Tables().single);
    if (!d.MultiPartSMSRef().empty()) {
      how += " part " + std::to_string(d.MultiPartSMSNumber()) + " of " + d.MultiPartSMSRef();
    }
    EXPECT_EQ(how, c.how);
  }
}

}  // namespace
}  // namespace tarvex::gsm7
