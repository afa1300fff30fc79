// SMSDeliver::Decode on the documented entries (as the one alphabet reads
// them), on PDUs of every coding made by hand, on stored outgoing messages,
// and on broken input, which must fail with 5 or 13 and never read past it.
#include "codec/sms_deliver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codec/deliver_builder.h"
#include "codec/sms_submit.h"
#include "common/error.h"
#include "common/text.h"

// The builder's options are written as designated initializers naming only
// what a case changes; the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tarvex {
namespace {

std::string TimeText(const MessageTimeValue& t) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return buffer;
}

// Everything Decode sets, printable so a failure shows what came out.
std::string Describe(const SMSDeliver& d) {
  return "id=" + d.MessageID() + " phone=" + d.PhoneNumber() + " time=" + TimeText(d.MessageTime()) +
         " text=" + Utf16ToUtf8(d.MessageText()) + " multi=" + (d.MultiPartSMS() ? "1" : "0") +
         " ref=" + d.MultiPartSMSRef() + " count=" + std::to_string(d.MultiPartSMSCount()) +
         " number=" + std::to_string(d.MultiPartSMSNumber());
}

std::string Expect(const std::string& id, const std::string& phone, const std::string& time,
                   const std::string& text_utf8, bool multi = false, const std::string& ref = "",
                   int count = 0, int number = 0) {
  return "id=" + id + " phone=" + phone + " time=" + time + " text=" + text_utf8 +
         " multi=" + (multi ? "1" : "0") + " ref=" + ref + " count=" + std::to_string(count) +
         " number=" + std::to_string(number);
}

const char kHello[] = "07919999999999F9040B912143658709F100002111228195058005C8329BFD06";
const char kPart[] = "07919999999999F9640B912143658709F100002111228195058009050003A70C0A9069";
const char kTime[] = "2012-11-22 18:59:50";

TEST(SMSDeliverTest, DecodesEntries) {
  const struct {
    const char* name;
    std::string entry;
    std::string expected;
  } kCases[] = {
      {"documented single", std::string("3\r\n") + kHello,
       Expect("3", "+12345678901", kTime, "Hello")},
      {"national number, no plus",
       "3\r\n07919999999999F9040A81214365870900002111228195058005C8329BFD06",
       Expect("3", "1234567890", kTime, "Hello")},
      {"blanks around the index", std::string(" 3 \r\n") + kHello,
       Expect("3", "+12345678901", kTime, "Hello")},
      {"seven characters", "1\r\n07919999999999F9040B912143658709F100002111228195058007"
                           "31D98C56B3DD00",
       Expect("1", "+12345678901", kTime, "1234567")},
      {"documented part", std::string("4\r\n") + kPart,
       Expect("4", "+12345678901", kTime, "Hi", true, "0003A7", 12, 10)},
      {"septet 0 is the at sign", "1\r\n00040B912143658709F10000211122819505800100",
       Expect("1", "+12345678901", kTime, "@")},
      {"septet 64 is the inverted exclamation", "1\r\n00040B912143658709F10000211122819505800140",
       Expect("1", "+12345678901", kTime, "\u00A1")},
      {"16-bit reference", "5\r\n07919999999999F9440B912143658709F10000211122819505800A"
                           "06080412340201C834",
       Expect("5", "+12345678901", kTime, "Hi", true, "08041234", 2, 1)},
      {"no service centre", std::string("6\r\n00") + (kHello + 16),
       Expect("6", "+12345678901", kTime, "Hello")},
      {"alphanumeric sender", "7\r\n00040BD0D4B0DC5EC60300002111228195058005C8329BFD06",
       Expect("7", "Tarvex", kTime, "Hello")},
      {"UCS2", "8\r\n07911326040000F0040B911316325476F80008622160900300400C"
               "041F04400438043204350442",
       Expect("8", "+31612345678", "2026-12-06 09:30:00", "Привет")},
      {"UCS2 surrogate pair", "8\r\n00040B911316325476F8000862216090030040"
                              "04D83DDE00",
       Expect("8", "+31612345678", "2026-12-06 09:30:00", "😀")},
      {"UCS2 in the message-waiting group", "8\r\n00040B911316325476F800E862216090030040"
                                            "020041",
       Expect("8", "+31612345678", "2026-12-06 09:30:00", "A")},
      {"8-bit data", "9\r\n00040B911316325476F8000462216090030040"
                     "03C4E9FF",
       Expect("9", "+31612345678", "2026-12-06 09:30:00", "Äéÿ")},
      {"8-bit in the class group", "9\r\n00040B911316325476F800F562216090030040"
                                   "0141",
       Expect("9", "+31612345678", "2026-12-06 09:30:00", "A")},
      {"extension characters", "10\r\n00040B912143658709F10000211122819505800"
                               "79BF28687DFF800",
       Expect("10", "+12345678901", kTime, "€[x]")},
      {"BCD star hash a b c", "11\r\n00040581BADCFE00002111228195058005C8329BFD06",
       Expect("11", "*#abc", kTime, "Hello")},
      {"header without concatenation", "12\r\n00440B912143658709F10000211122819505800A"
                                       "0605040B8423F0C834",
       Expect("12", "+12345678901", kTime, "Hi")},
      {"port element then concatenation", "13\r\n00440B912143658709F100002111228195058010"
                                          "0B05040B8423F00003A7020120D3",
       Expect("13", "+12345678901", kTime, "Hi", true, "0003A7", 2, 1)},
      {"8-bit part", "14\r\n00440B912143658709F10004211122819505800"
                     "8050003A702014869",
       Expect("14", "+12345678901", kTime, "Hi", true, "0003A7", 2, 1)},
      {"part number past the count is ignored", "15\r\n00440B912143658709F100002111228195058009"
                                                "050003A702039069",
       Expect("15", "+12345678901", kTime, "Hi")},
      {"stored outgoing message", "16\r\n001100039121F30000FF0361F118",
       Expect("16", "+123", "1899-12-30 00:00:00", "abc")},
      {"stored outgoing part", "17\r\n07911326040000F04100039121F300000A0500032A0202C2E231",
       Expect("17", "+123", "1899-12-30 00:00:00", "abc", true, "00032A", 2, 2)},
      {"trailing blanks after the PDU", std::string("3\r\n") + kHello + "  \r\n",
       Expect("3", "+12345678901", kTime, "Hello")},
  };
  for (const auto& c : kCases) {
    SMSDeliver d;
    std::string entry = c.entry;
    try {
      d.Decode(entry);
    } catch (const Error& e) {
      ADD_FAILURE() << c.name << ": error " << e.number() << " " << e.what();
      continue;
    }
    EXPECT_EQ(Describe(d), c.expected) << c.name;
    EXPECT_EQ(entry, c.entry.substr(c.entry.find("\r\n") + 2)) << c.name;
  }
}

TEST(SMSDeliverTest, FactsBesideTheEightProperties) {
  SMSDeliver d;
  std::string entry = "1\r\n07911326040000F0040B911316325476F80008622160900300400C"
                      "041F04400438043204350442";
  d.Decode(entry);
  EXPECT_EQ(d.DataCoding(), 0x08);
  EXPECT_EQ(d.SenderType(), 0x91);
  EXPECT_FALSE(d.IsSubmit());
  EXPECT_EQ(d.MessageTime().zone_quarters, 4);
  entry = "1\r\n001100039121F30000FF0361F118";
  d.Decode(entry);
  EXPECT_TRUE(d.IsSubmit());
  EXPECT_EQ(d.MessageTime().date, 0.0);
}

// A single message after a part leaves no concatenation facts behind.
TEST(SMSDeliverTest, SecondDecodeOverwritesEverything) {
  SMSDeliver d;
  std::string entry = std::string("4\r\n") + kPart;
  d.Decode(entry);
  entry = std::string("3\r\n") + kHello;
  d.Decode(entry);
  EXPECT_EQ(Describe(d), Expect("3", "+12345678901", kTime, "Hello"));
}

TEST(SMSDeliverTest, TimeStampCarriesOverAndKeepsTheZoneApart) {
  const struct {
    const char* stamp;
    const char* time;
    int zone_quarters;
  } kCases[] = {
      {"21112281950580", "2012-11-22 18:59:50", 8},
      {"21112281950523", "2012-11-22 18:59:50", 32},
      {"2111228195058A", "2012-11-22 18:59:50", -28},
      {"21312281950580", "2013-01-22 18:59:50", 8},   // month 13
      {"21112281950680", "2012-11-22 19:00:00", 8},   // 60 seconds
      {"21110342000000", "2012-12-01 00:00:00", 0},   // 30 November, hour 24
      {"21210000000000", "2012-11-30 00:00:00", 0},   // 0 December
      {"99112281950580", "1999-11-22 18:59:50", 8},
      {"92112281950580", "2029-11-22 18:59:50", 8},
      {"03112281950580", "1930-11-22 18:59:50", 8},
      {"A1112281950580", "2001-11-22 18:59:50", 8},   // second digit not decimal
      {"1A112281950580", "2000-11-22 18:59:50", 8},   // first digit not decimal
  };
  for (const auto& c : kCases) {
    std::string entry = std::string("1\r\n00040B912143658709F10000") + c.stamp + "00";
    SMSDeliver d;
    d.Decode(entry);
    EXPECT_EQ(TimeText(d.MessageTime()), c.time) << c.stamp;
    EXPECT_EQ(d.MessageTime().zone_quarters, c.zone_quarters) << c.stamp;
  }
  std::string entry = std::string("3\r\n") + kHello;
  SMSDeliver d;
  d.Decode(entry);
  EXPECT_DOUBLE_EQ(d.MessageTime().date, 41235.0 + (18 * 3600 + 59 * 60 + 50) / 86400.0);
}

TEST(SMSDeliverTest, BrokenEntriesFailWithTheirErrors) {
  const struct {
    const char* name;
    std::string entry;
    int error;
  } kCases[] = {
      {"no CR LF", kHello, kInvalidArgument},
      {"LF alone", std::string("3\n") + kHello, kInvalidArgument},
      {"empty PDU", "3\r\n", kTypeMismatch},
      {"bad hex in the address", "3\r\n07919999999999F9040B9121436587G9F100002111228195058005C8329BFD06",
       kTypeMismatch},
      {"bad hex in the text", "3\r\n07919999999999F9040B912143658709F100002111228195058005C8329BFD0Z",
       kTypeMismatch},
      {"text shorter than its length", "3\r\n00040B912143658709F100002111228195058006C8329BFD06",
       kTypeMismatch},
      {"service-centre length past the end", "3\r\nFF0791", kTypeMismatch},
      {"status report", "3\r\n0006000B912143658709F1211122819505802111228195058000", kInvalidArgument},
      {"header longer than the user data", "3\r\n00440B912143658709F1000021112281950580030500030102",
       kInvalidArgument},
      {"element past the header", "3\r\n00440B912143658709F100002111228195058009050005A70C0A9069",
       kInvalidArgument},
      {"element cut at its identifier", "3\r\n00440B912143658709F10004211122819505800"
                                        "40300030041",
       kInvalidArgument},
  };
  for (const auto& c : kCases) {
    SMSDeliver d;
    std::string entry = c.entry;
    try {
      d.Decode(entry);
      ADD_FAILURE() << c.name << " decoded: " << Describe(d);
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), c.error) << c.name << ": " << e.what();
    }
  }
}

TEST(SMSDeliverTest, FailureKeepsTheOrderOfAssignment) {
  SMSDeliver d;
  d.SetMessageText(u"old");
  d.SetMultiPartSMSRef("0003FF");
  std::string no_crlf = kHello;
  EXPECT_THROW(d.Decode(no_crlf), Error);
  EXPECT_EQ(d.MessageID(), "");
  EXPECT_EQ(no_crlf, kHello);

  // Cut after the time stamp: sender and time are new, the rest is not.
  std::string entry = std::string("7\r\n") + std::string(kHello, 52);
  EXPECT_THROW(d.Decode(entry), Error);
  EXPECT_EQ(d.MessageID(), "7");
  EXPECT_EQ(d.PhoneNumber(), "+12345678901");
  EXPECT_EQ(TimeText(d.MessageTime()), kTime);
  EXPECT_EQ(d.MessageText(), u"old");
  EXPECT_EQ(d.MultiPartSMSRef(), "0003FF");
}

// Every proper prefix of a valid PDU is refused with 5 or 13; the decoder
// reads only what it holds (ASan checks the rest).
TEST(SMSDeliverTest, EveryTruncatedPrefixFailsCleanly) {
  const std::string kPdus[] = {
      kHello,
      kPart,
      "07911326040000F0040B911316325476F80008622160900300400C041F04400438043204350442",
      "00040BD0D4B0DC5EC60300002111228195058005C8329BFD06",
      "07919999999999F9440B912143658709F10000211122819505800A06080412340201C834",
      "07911326040000F04100039121F300000A0500032A0202C2E231",
      "001100039121F30000FF0361F118",
  };
  for (const auto& pdu : kPdus) {
    for (size_t n = 0; n < pdu.size(); ++n) {
      // A heap copy of exactly the prefix, so any read past it is caught.
      std::string entry = "1\r\n" + pdu.substr(0, n);
      entry.shrink_to_fit();
      SMSDeliver d;
      try {
        d.Decode(entry);
        ADD_FAILURE() << pdu << " cut to " << n << " decoded: " << Describe(d);
      } catch (const Error& e) {
        EXPECT_TRUE(e.number() == kTypeMismatch || e.number() == kInvalidArgument) << e.number();
      }
    }
  }
}

// What the simulator puts in its inbox is what Decode gives back.
TEST(SMSDeliverTest, BuiltDeliverPdusComeBack) {
  auto part = [](int reference, int total, int sequence, bool wide) {
    return DeliverFields::Concat{reference, total, sequence, wide};
  };
  const struct {
    const char* name;
    DeliverFields fields;
    const char* ref;
  } kCases[] = {
      {"plain", {.text = u"Hello @$_ \u00A1\u00BF"}, ""},
      {"extension and Greek", {.text = u"\u20AC5 [x] {y} \\ ^ ~ | \u0394\u03A9\u03A3"}, ""},
      {"UCS2 forced", {.text = u"abc", .force_ucs2 = true}, ""},
      {"UCS2 needed", {.text = u"Gr\u00FC\u00DFe \u4F60\u597D \U0001F44D"}, ""},
      {"8-bit", {.text = u"\u00C4\u00E9\u00FF\x01", .eight_bit = true}, ""},
      {"alphanumeric", {.sender = "Bank-Info", .text = u"code 1234"}, ""},
      {"national sender, no centre", {.service_centre = "", .sender = "0612345678", .text = u"x"}, ""},
      {"8-bit part", {.text = u"abc", .concat = part(0xA7, 3, 2, false)}, "0003A7"},
      {"16-bit part", {.text = u"abc", .concat = part(0xBEEF, 3, 3, true)}, "0804BEEF"},
      {"UCS2 16-bit part", {.text = u"\u0416", .concat = part(1, 2, 1, true)}, "08040001"},
      {"full 152-septet wide part", {.text = std::u16string(152, u'z'), .concat = part(9, 2, 1, true)},
       "08040009"},
      {"full 66-unit wide UCS2 part",
       {.text = std::u16string(66, u'\u0416'), .concat = part(9, 2, 2, true)}, "08040009"},
      {"negative zone", {.zone_quarters = -20, .text = u"t"}, ""},
  };
  for (const auto& c : kCases) {
    std::string entry = "2\r\n" + BuildDeliverPdu(c.fields);
    SMSDeliver d;
    d.Decode(entry);
    const std::string sender = c.fields.sender;
    EXPECT_EQ(d.PhoneNumber(), sender) << c.name;
    EXPECT_EQ(d.MessageText(), c.fields.text) << c.name;
    EXPECT_EQ(d.MultiPartSMSRef(), c.ref) << c.name;
    EXPECT_EQ(d.MultiPartSMS(), c.fields.concat.has_value()) << c.name;
    if (c.fields.concat) {
      EXPECT_EQ(d.MultiPartSMSCount(), c.fields.concat->total) << c.name;
      EXPECT_EQ(d.MultiPartSMSNumber(), c.fields.concat->sequence) << c.name;
    }
    EXPECT_EQ(d.MessageTime().zone_quarters, c.fields.zone_quarters) << c.name;
    EXPECT_EQ(TimeText(d.MessageTime()), "2026-12-06 09:30:00") << c.name;
  }
  // The hand-made UCS2 PDU above is byte for byte what the builder makes.
  EXPECT_EQ(BuildDeliverPdu({.text = u"\u041F\u0440\u0438\u0432\u0435\u0442"}),
            "07911326040000F0040B911316325476F80008622160900300400C041F04400438043204350442");
  EXPECT_THROW(BuildDeliverPdu({.text = std::u16string(161, u'a')}), Error);
  EXPECT_THROW(BuildDeliverPdu({.text = std::u16string(153, u'a'), .concat = part(1, 2, 1, true)}),
               Error);
}

// The encoder's PDUs, listed back as stored outgoing messages, give back
// number and text for texts of every kind and length up to the limits.
TEST(SMSDeliverTest, EncoderRoundTrips) {
  const std::u16string kTexts[] = {
      u"",
      u"Hello world",
      u"@$_\u00A1\u00BF\u00E0\u00C9\u0394\u03A9\n\r",
      u"\u20AC[]{}\\^~|\f",
      std::u16string(160, u'a'),
      std::u16string(80, u'\u20AC'),
      u"\u041F\u0440\u0438\u0432\u0435\u0442",
      u"\U0001F600\U0001F601",
      std::u16string(70, u'\u00E7'),
      u"\xD800 lone surrogate",
  };
  for (const auto& text : kTexts) {
    SMSSubmit s;
    s.PhoneNumber = " +4917012345678 ";
    s.MessageText = text;
    std::string entry = "1\r\n" + s.Encode();
    SMSDeliver d;
    d.Decode(entry);
    EXPECT_EQ(d.PhoneNumber(), "+4917012345678");
    EXPECT_EQ(d.MessageText(), text) << entry;
    EXPECT_FALSE(d.MultiPartSMS());

    if (text.size() > 67) continue;
    s.PhoneNumber = "4917012345678";
    entry = "1\r\n" + s.EncodeLongSMS("C3", 4, 3);
    d.Decode(entry);
    EXPECT_EQ(d.MessageText(), text) << entry;
    EXPECT_EQ(d.MultiPartSMSRef(), "0003C3");
    EXPECT_EQ(d.MultiPartSMSCount(), 4);
    EXPECT_EQ(d.MultiPartSMSNumber(), 3);
  }
}

}  // namespace
}  // namespace tarvex
