// The national language tables against the standard's shape, messages sent
// through them as a phone sends them, and texts encoded with --national read
// back with the part counts the header arithmetic gives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/split.h"
#include "tarvex/error.h"
#include "tarvex/national_tables.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

namespace tarvex::gsm7 {
namespace {

int Defined(const char16_t* table) {
  int n = 0;
  for (int s = 0; s < 128; ++s) n += table[s] != kNoChar;
  return n;
}

// Filled positions of annex A's tables by language identifier (A.3.x locking,
// A.2.x single shift); -1 where the standard has no table.
TEST(NationalTablesTest, HoldTheStandardsPositions) {
  const int kLocking[] = {-1, 127, -1, 127, 114, 120, 127, 120, 120, 116, 110, 102, 120, 127};
  const int kSingle[] = {-1, 17, 19, 37, 82, 70, 88, 73, 82, 75, 76, 77, 78, 90};
  for (int l = 1; l < kLanguageCount; ++l) {
    SCOPED_TRACE(std::string(LanguageCode(l)));
    EXPECT_EQ(LanguageFromCode(LanguageCode(l)), l);
    EXPECT_EQ(HasLockingShift(l) ? Defined(LockingShiftTable(l)) : -1, kLocking[l]);
    EXPECT_EQ(HasSingleShift(l) ? Defined(SingleShiftTable(l)) : -1, kSingle[l]);
    // Every locking table keeps LF, CR and space where the default has them
    // and leaves the escape free; a single-shift table leaves 0D and 1B free.
    const char16_t* locking = LockingShiftTable(l);
    EXPECT_EQ(locking[0x0A], u'\n');
    EXPECT_EQ(locking[0x0D], u'\r');
    EXPECT_EQ(locking[0x20], u' ');
    EXPECT_EQ(locking[kEscape], kNoChar);
    EXPECT_EQ(SingleShiftTable(l)[0x0D], kNoChar);
    EXPECT_EQ(SingleShiftTable(l)[kEscape], kNoChar);
    // Every character of the pair goes out and comes back as itself.
    for (const char16_t* table : {locking, SingleShiftTable(l)}) {
      for (int s = 0; s < 128; ++s) {
        if (table[s] == kNoChar) continue;
        const std::u16string text(1, table[s]);
        uint8_t septets[2];
        const size_t n = EncodeInto(text, {l, l}, septets, 2);
        ASSERT_NE(n, kNotGsm) << s;
        char16_t back[2];
        ASSERT_EQ(DecodeInto(septets, n, back, {l, l}), 1u);
        EXPECT_EQ(back[0], table[s]) << s;
      }
    }
  }
  EXPECT_EQ(LockingShiftTable(2), DefaultTable());  // Spanish has no locking table
  EXPECT_EQ(SingleShiftTable(14), ExtensionTable());
}

// SMS-DELIVER PDUs as a phone sends them (service centre +9051230000, sender
// +905234125678); the unknown language 14 reads through the default tables.
TEST(NationalTablesTest, DecodeWhatPhonesSend) {
  const struct {
    const char* name;
    const char* pdu;
    std::u16string text;
    ShiftTables tables;
    const char* ref;
    int part;
  } kCases[] = {
      {"Turkish single shift, part 1 of 2 (8-bit reference)",
       "07910915320000F0440C9109254321658700005210312143650C2F080003A702012401016033AD83C26ED02639"
       "A787DDE23AFB440EE737E9360BB439833669D0660EDA8C01",
       u"Şu an İstanbul'dayım, ğ ı ş ç",
       {0, 1},
       "0003A7",
       1},
      {"Turkish locking shift, part 2 of 2 (16-bit reference)",
       "07910915320000F0440C9109254321658700005210312143650C220908048A2C020225010170F4BBCB1D761A24"
       "4ECB4167BF7B074A32C80739",
       u"Güneşli bir gün; Iğdır",
       {1, 0},
       "08048A2C",
       2},
      {"Portuguese locking and single shift",
       "07910915320000F0440C9109254321658700005210312143650C2406240103250103C1C4FEAD03D1E58439282D"
       "6FEFDF7316E80F72BFD3F4320803",
       u"Ação: três irmãos, à noite €",
       {3, 3},
       "",
       0},
      {"Hindi locking and single shift, concatenated",
       "07910915320000F0440C9109254321658700005210312143650C260B0003110101240106250106BC84CCEF29CB"
       "02117AA08A96990535B5811F28269B01",
       u"नमस्ते, आप कैसे हैं? 123",
       {6, 6},
       "000311",
       1},
      {"unknown language 14",
       "07910915320000F0440C9109254321658700005210312143650C0A0325010E4096D9EC37",
       u"Hello",
       {0, 0},
       "",
       0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SMSDeliver d;
    std::string entry = std::string("1\r\n") + c.pdu;
    d.Decode(entry);
    EXPECT_EQ(d.MessageText(), c.text);
    EXPECT_EQ(d.Tables(), c.tables);
    EXPECT_EQ(d.MultiPartSMSRef(), c.ref);
    EXPECT_EQ(d.MultiPartSMSNumber(), c.part);
  }
}

// Header octets (with the length octet) cost their septets and fill bits: one
// shift element leaves 155 in a message and 149 in a part, two 152 and 146.
TEST(NationalTablesTest, EncodedTextsComeBackInTheFewestParts) {
  const auto repeat = [](std::u16string_view unit, size_t n) {
    std::u16string s;
    for (size_t i = 0; i < n; ++i) s += unit;
    return s;
  };
  const struct {
    const char* choice;
    std::u16string text;
    std::vector<size_t> sizes;
    ShiftTables tables;
    bool ucs2;
  } kCases[] = {
      {"tr", u"ş" + repeat(u"a", 153), {154}, {0, 1}, false},  // 155 septets, single shift first
      {"tr", repeat(u"ğ", 298), {149, 149}, {1, 0}, false},    // 5 parts by single shift
      {"tr", u"plain text", {10}, {0, 0}, false},              // needs no table
      {"tr", u"Привет", {6}, {0, 0}, true},                    // the tables cannot carry it
      {"es", repeat(u"a", 148) + u"ú" + repeat(u"b", 10), {148, 11}, {0, 2}, false},
      {"hi", repeat(u"नमस्ते ", 40), {149, 131}, {6, 0}, false},
      {"auto", u"Ação " + repeat(u"ã", 150), {155}, {3, 0}, false},
      {"auto", u"ş" + repeat(u"a", 60), {61}, {0, 0}, true},  // UCS2 ties: no table needed
      {"auto", repeat(u"^", 100), {100}, {3, 0}, false},      // Portuguese has ^ unescaped
      {"off", repeat(u"ğ", 100), {67, 33}, {0, 0}, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.choice) + " " + std::to_string(c.text.size()));
    const MessagePlan plan = PlanMessage(c.text, ParseNationalChoice(c.choice));
    EXPECT_EQ(plan.tables, c.tables);
    EXPECT_EQ(plan.ucs2, c.ucs2);
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
  EXPECT_THROW(ParseNationalChoice("xx"), Error);
}

}  // namespace
}  // namespace tarvex::gsm7
