// SMSSubmit: the documented PDUs (with the GSM alphabet where it differs from
// ASCII), UCS2 when the alphabet cannot carry a text, and refusals that build
// nothing.
#include "codec/sms_submit.h"

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"
#include "common/text.h"

namespace tarvex {
namespace {

std::u16string Repeat(std::u16string_view unit, size_t times) {
  std::u16string s;
  for (size_t i = 0; i < times; ++i) s += unit;
  return s;
}

TEST(SMSSubmitTest, PackSeptets) {
  EXPECT_EQ(SMSSubmit::PackSeptets(u"hellohello", false), "E8329BFD4697D9EC37");
  EXPECT_EQ(SMSSubmit::PackSeptets(u"abc", false), "61F118");
  EXPECT_EQ(SMSSubmit::PackSeptets(u"abc", true), "C2E231");
  EXPECT_EQ(SMSSubmit::PackSeptets(u"abcdefgh", true), "C2E231B96C3EA301");
  EXPECT_EQ(SMSSubmit::PackSeptets(u"", false), "");
  EXPECT_EQ(SMSSubmit::PackSeptets(u"", true), "00");
  EXPECT_EQ(SMSSubmit::SwapSemiOctets("123"), "21F3");
  EXPECT_EQ(SMSSubmit::SwapSemiOctets("1234"), "2143");
  EXPECT_EQ(SMSSubmit::SwapSemiOctets(""), "");
}

struct EncodeCase {
  const char* name;
  std::string number;
  std::u16string text;
  std::string pdu;
  std::string stored_number;
};

TEST(SMSSubmitTest, Encode) {
  const EncodeCase kCases[] = {
      {"documented", "+123", u"abc", "001100039121F30000FF0361F118", "123"},
      {"empty text", "+123", u"", "001100039121F30000FF00", "123"},
      {"blanks, no plus", " 1234 ", u"abc", "001100049121430000FF0361F118", "1234"},
      {"at dollar low line", "+123", u"@$_", "001100039121F30000FF03004104", "123"},
      {"euro as an escape pair", "+123", u"\u20AC", "001100039121F30000FF029B32", "123"},
      {"Greek capital from the default table", "+123", u"\u03A3", "001100039121F30000FF0118", "123"},
      // Low byte 61 ('a') must not pass for the letter.
      {"s caron is not GSM", "+123", u"\u0161", "001100039121F30008FF020161", "123"},
      {"UCS2 Cyrillic", "+123", u"\u041F\u0440\u0438\u0432\u0435\u0442",
       "001100039121F30008FF0C041F04400438043204350442", "123"},
      {"UCS2 surrogate pair", "+123", u"\U0001F600", "001100039121F30008FF04D83DDE00", "123"},
      {"20 digits", "+12345678901234567890", u"a",
       "0011001491214365870921436587090000FF0161", "12345678901234567890"},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = c.number;
    s.MessageText = c.text;
    EXPECT_EQ(s.Encode(), c.pdu) << c.name;
    EXPECT_EQ(s.PhoneNumber, c.stored_number) << c.name;
  }
}

TEST(SMSSubmitTest, EncodeLongSMS) {
  const struct {
    const char* name;
    std::string ref;
    int total, part;
    std::u16string text;
    std::string pdu;
  } kCases[] = {
      {"documented", "2A", 2, 2, u"abc", "004100039121F300000A0500032A0202C2E231"},
      {"eight characters", "2A", 2, 1, u"abcdefgh",
       "004100039121F300000F0500032A0201C2E231B96C3EA301"},
      {"lower-case reference", "a7", 3, 1, u"abc", "004100039121F300000A050003A70301C2E231"},
      {"UCS2 part", "2A", 2, 2, u"\u041F\u0440",
       "004100039121F300080A0500032A0202041F0440"},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = "+123";
    s.MessageText = c.text;
    EXPECT_EQ(s.EncodeLongSMS(c.ref, c.total, c.part), c.pdu) << c.name;
  }
  SMSSubmit s;
  s.PhoneNumber = "+123";
  s.MessageText = Repeat(u"x", 153);
  const std::string pdu = s.EncodeLongSMS("01", 2, 1);
  EXPECT_EQ(pdu.substr(18, 2), "A0");           // 160 septets
  EXPECT_EQ(pdu.size(), 20u + 2 * 140);         // 140 octets of user data
}

// The most a message or part holds goes; one septet or unit more is refused.
TEST(SMSSubmitTest, CapacityLimits) {
  const struct {
    const char* name;
    std::u16string text;
    bool part;
    bool fits;
  } kCases[] = {
      {"160 septets", Repeat(u"a", 160), false, true},
      {"161 septets", Repeat(u"a", 161), false, false},
      {"159 + escape pair", Repeat(u"a", 159) + u"\u20AC", false, false},
      {"158 + escape pair", Repeat(u"a", 158) + u"\u20AC", false, true},
      {"70 UCS2", Repeat(u"\u0416", 70), false, true},
      {"71 UCS2", Repeat(u"\u0416", 71), false, false},
      {"153 septet part", Repeat(u"a", 153), true, true},
      {"154 septet part", Repeat(u"a", 154), true, false},
      {"67 UCS2 part", Repeat(u"\u0416", 67), true, true},
      {"68 UCS2 part", Repeat(u"\u0416", 68), true, false},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = "+4917012345";
    s.MessageText = c.text;
    try {
      const std::string pdu = c.part ? s.EncodeLongSMS("00", 2, 1) : s.Encode();
      EXPECT_TRUE(c.fits) << c.name << " gave " << pdu;
      EXPECT_LE(pdu.size() / 2 - 1, 175u) << c.name;  // what AT+CMGS may be given
    } catch (const Error& e) {
      EXPECT_FALSE(c.fits) << c.name << ": " << e.what();
      EXPECT_EQ(e.number(), kInvalidArgument) << c.name;
    }
  }
}

TEST(SMSSubmitTest, BadArgumentsBuildNothing) {
  const struct {
    std::string number;
    std::string ref = "01";
    int total = 2, part = 1;
  } kCases[] = {
      {""}, {"   "}, {"+"}, {"12a4"}, {"++123"}, {"1 23"}, {"123456789012345678901"},
      {"+123", "1"}, {"+123", "1AB"}, {"+123", "G1"}, {"+123", "01", 0, 1},
      {"+123", "01", 256, 1}, {"+123", "01", 2, 0}, {"+123", "01", 2, 256},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = c.number;
    s.MessageText = u"abc";
    const bool long_form = c.ref != "01" || c.total != 2 || c.part != 1;
    try {
      if (long_form) {
        s.EncodeLongSMS(c.ref, c.total, c.part);
      } else {
        s.Encode();
      }
      ADD_FAILURE() << "accepted \"" << c.number << "\" " << c.ref << " " << c.total << " " << c.part;
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kInvalidArgument);
      EXPECT_EQ(s.PhoneNumber, c.number);
    }
  }
}

}  // namespace
}  // namespace tarvex
