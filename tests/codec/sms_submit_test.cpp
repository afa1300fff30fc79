// SMSSubmit: the documented PDUs, UCS2 when the GSM alphabet cannot carry a
// text, destination numbers, and refusals that build nothing.
#include "tarvex/sms_submit.h"

#include <gtest/gtest.h>

#include <string>

#include "tarvex/error.h"
#include "testing/error_of.h"

namespace tarvex {
namespace {

// The number is kept as it went out: trimmed, without the plus.
TEST(SMSSubmitTest, Encode) {
  const struct {
    const char* name;
    std::string number;
    std::u16string text;
    std::string pdu;
    std::string stored_number;
  } kCases[] = {
      {"documented", "+123", u"abc", "001100039121F30000FF0361F118", "123"},
      {"empty text", "+123", u"", "001100039121F30000FF00", "123"},
      // Low byte 61 ('a') must not pass for the letter.
      {"s caron is not GSM", "+123", u"\u0161", "001100039121F30008FF020161", "123"},
      {"UCS2 Cyrillic", "+123", u"\u041F\u0440\u0438\u0432\u0435\u0442",
       "001100039121F30008FF0C041F04400438043204350442", "123"},
      {"20 digits", "+12345678901234567890", u"a", "0011001491214365870921436587090000FF0161",
       "12345678901234567890"},
      // Blanks and punctuation go (codec_roundtrip_fuzz holds the type's rule).
      {"international with blanks", "+49 171 1234567", u"a", "0011000C919471113254760000FF0161",
       "491711234567"},
      {"national with a dash", "0171-1234567", u"a", "0011000B811017214365F70000FF0161",
       "01711234567"},
      {"short code with brackets", "(030) 1234", u"a", "0011000781301032F40000FF0161", "0301234"},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = c.number;
    s.MessageText = c.text;
    const SubmitPdu pdu = s.Encode();
    EXPECT_EQ(pdu.hex, c.pdu) << c.name;
    EXPECT_EQ(pdu.tpdu_octets * 2 + 2, static_cast<int>(pdu.hex.size())) << c.name;
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
      // Eight septets and the fill bit take a ninth octet.
      {"fill bit", "2A", 2, 2, u"abcdefgh", "004100039121F300000F0500032A0202C2E231B96C3EA301"},
      {"lower-case reference", "a7", 3, 1, u"abc", "004100039121F300000A050003A70301C2E231"},
  };
  for (const auto& c : kCases) {
    SMSSubmit s;
    s.PhoneNumber = "+123";
    s.MessageText = c.text;
    EXPECT_EQ(s.EncodeLongSMS(c.ref, c.total, c.part).hex, c.pdu) << c.name;
  }
}

// A part one septet or unit over is refused (codec_roundtrip_fuzz holds every
// other capacity edge against FitsSingle, which split_test pins).
TEST(SMSSubmitTest, OverfullPartsAreRefused) {
  for (const std::u16string& text : {std::u16string(154, u'a'), std::u16string(68, u'\u0416')}) {
    SMSSubmit s;
    s.PhoneNumber = "+4917012345";
    s.MessageText = text;
    EXPECT_EQ(testing::ErrorOf([&] { s.EncodeLongSMS("00", 2, 1); }), kInvalidArgument)
        << text.size();
  }
}

// A refusal raises 5 and leaves the number as given.
TEST(SMSSubmitTest, BadArgumentsBuildNothing) {
  auto refused = [](const std::string& number, auto encode) {
    SMSSubmit s;
    s.PhoneNumber = number;
    s.MessageText = u"abc";
    EXPECT_EQ(testing::ErrorOf([&] { encode(s); }), kInvalidArgument);
    EXPECT_EQ(s.PhoneNumber, number);
  };
  for (const char* number :
       {"", "+", "12a4", "++123", "1+23", "12.34", "--", "123456789012345678901"}) {
    SCOPED_TRACE(number);
    refused(number, [](SMSSubmit& s) { s.Encode(); });
  }
  const struct {
    const char* ref;
    int total, part;
  } kParts[] = {{"1", 2, 1},    {"1AB", 2, 1}, {"G1", 2, 1},  {"01", 0, 1},
                {"01", 256, 1}, {"01", 2, 0},  {"01", 2, 256}};
  for (const auto& p : kParts) {
    SCOPED_TRACE(std::string(p.ref) + " " + std::to_string(p.total) + " " + std::to_string(p.part));
    refused("+123", [&](SMSSubmit& s) { s.EncodeLongSMS(p.ref, p.total, p.part); });
  }
}

}  // namespace
}  // namespace tarvex
