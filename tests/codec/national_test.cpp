// The national language tables against the standard's shape, and messages
// sent through them as a phone sends them (split_test encodes with them, through
// the one reverse index every language shares).
#include <gtest/gtest.h>

#include <string>

#include "codec/gsm_alphabet.h"
#include "tarvex/national_tables.h"
#include "tarvex/sms_deliver.h"

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
