// SMSDeliver::Decode on the documented entries, on PDUs of every coding made
// by hand, by the builder and by the encoder, and on broken input, which must
// fail with 5 or 13 and never read past it.
#include "tarvex/sms_deliver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "codec/deliver_builder.h"
#include "codec/mdl_converter.h"
#include "codec/message_entry.h"
#include "common/text.h"
#include "tarvex/error.h"

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
std::string Expect(const std::string& id, const std::string& phone, const std::string& time,
                   const std::string& text, const std::string& ref = "", int count = 0,
                   int number = 0, bool multi = false) {
  return "id=" + id + " phone=" + phone + " time=" + time + " text=" + text +
         " multi=" + (multi || !ref.empty() ? "1" : "0") + " ref=" + ref +
         " count=" + std::to_string(count) + " number=" + std::to_string(number);
}
std::string Describe(const SMSDeliver& d) {
  return Expect(d.MessageID(), d.PhoneNumber(), TimeText(d.MessageTime()),
                Utf16ToUtf8(d.MessageText()), d.MultiPartSMSRef(), d.MultiPartSMSCount(),
                d.MultiPartSMSNumber(), d.MultiPartSMS());
}

// What Decode made of the entry, or the error it raised.
std::string Result(SMSDeliver& d, std::string& entry) {
  try {
    d.Decode(entry);
    return Describe(d);
  } catch (const Error& e) {
    return "error " + std::to_string(e.number());
  }
}
const std::string kError5 = "error 5", kError13 = "error 13";

const char kHello[] = "07919999999999F9040B912143658709F100002111228195058005C8329BFD06";
const char kPart[] = "07919999999999F9640B912143658709F100002111228195058009050003A70C0A9069";
const char kTime[] = "2012-11-22 18:59:50";
const char kTime2[] = "2026-12-06 09:30:00";
const char kStoredTime[] = "1899-12-30 00:00:00";

// One decoder for every row: a whole message must leave nothing behind of the
// part or failure before it.  (decode_fuzz holds Decode to 5 or 13 and to its
// input on any bytes, cut PDUs among them.)
TEST(SMSDeliverTest, DecodesEntries) {
  const struct {
    const char* name;
    std::string entry;
    std::string expected;
  } kCases[] = {
      {"documented part", std::string("4\r\n") + kPart,
       Expect("4", "+12345678901", kTime, "Hi", "0003A7", 12, 10)},
      {"blanks around the index", std::string(" 3 \r\n") + kHello,
       Expect("3", "+12345678901", kTime, "Hello")},
      {"16-bit reference",
       "5\r\n07919999999999F9440B912143658709F10000211122819505800A06080412340201C834",
       Expect("5", "+12345678901", kTime, "Hi", "08041234", 2, 1)},
      {"port element then concatenation",
       "13\r\n00440B912143658709F1000021112281950580100B05040B8423F00003A7020120D3",
       Expect("13", "+12345678901", kTime, "Hi", "0003A7", 2, 1)},
      {"seven characters fill seven octets",
       "1\r\n07919999999999F9040B912143658709F10000211122819505800731D98C56B3DD00",
       Expect("1", "+12345678901", kTime, "1234567")},
      {"alphanumeric sender", "7\r\n00040BD0D4B0DC5EC60300002111228195058005C8329BFD06",
       Expect("7", "Tarvex", kTime, "Hello")},
      {"UCS2 in the message-waiting group", "8\r\n00040B911316325476F800E862216090030040020041",
       Expect("8", "+31612345678", kTime2, "A")},
      {"8-bit in the class group", "9\r\n00040B911316325476F800F5622160900300400141",
       Expect("9", "+31612345678", kTime2, "A")},
      {"BCD star hash a b c", "11\r\n00040581BADCFE00002111228195058005C8329BFD06",
       Expect("11", "*#abc", kTime, "Hello")},
      {"header without concatenation",
       "12\r\n00440B912143658709F10000211122819505800A0605040B8423F0C834",
       Expect("12", "+12345678901", kTime, "Hi")},
      {"part number past the count is ignored",
       "15\r\n00440B912143658709F100002111228195058009050003A702039069",
       Expect("15", "+12345678901", kTime, "Hi")},
      {"no CR LF", kHello, kError5},
      {"bad hex in the address",
       "3\r\n07919999999999F9040B9121436587G9F100002111228195058005C8329BFD06", kError13},
      {"status report", "3\r\n0006000B912143658709F1211122819505802111228195058000", kError5},
      {"user data cut short", std::string("3\r\n") + std::string(kHello, sizeof kHello - 3),
       kError13},
      {"header longer than the user data",
       "3\r\n00440B912143658709F1000021112281950580030500030102", kError5},
      {"element past the header", "3\r\n00440B912143658709F100002111228195058009050005A70C0A9069",
       kError5},
      {"trailing blanks after the PDU", std::string("3\r\n") + kHello + "  \r\n",
       Expect("3", "+12345678901", kTime, "Hello")},
      {"stored outgoing part", "17\r\n07911326040000F04100039121F300000A0500032A0202C2E231",
       Expect("17", "+123", kStoredTime, "abc", "00032A", 2, 2)},
  };
  SMSDeliver d;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string entry = c.entry;
    EXPECT_EQ(Result(d, entry), c.expected);
    const size_t crlf = c.entry.find("\r\n");  // the entry is left holding the PDU
    EXPECT_EQ(entry, crlf == std::string::npos ? c.entry : c.entry.substr(crlf + 2));
  }
}

TEST(SMSDeliverTest, TimeStampCarriesOverAndKeepsTheZoneApart) {
  const struct {
    const char* stamp;
    const char* time;
    int zone_quarters;
  } kCases[] = {
      {"21112281950580", kTime, 8},
      {"2111228195058A", kTime, -28},
      {"21312281950580", "2013-01-22 18:59:50", 8},  // month 13
      {"21112281950680", "2012-11-22 19:00:00", 8},  // 60 seconds
      {"21110342000000", "2012-12-01 00:00:00", 0},  // 30 November, hour 24
      {"21210000000000", "2012-11-30 00:00:00", 0},  // 0 December
      {"92112281950580", "2029-11-22 18:59:50", 8},
      {"03112281950580", "1930-11-22 18:59:50", 8},
      {"A1112281950580", "2001-11-22 18:59:50", 8},  // second digit not decimal
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stamp);
    std::string entry = std::string("1\r\n00040B912143658709F10000") + c.stamp + "00";
    SMSDeliver d;
    d.Decode(entry);
    EXPECT_EQ(TimeText(d.MessageTime()), c.time);
    EXPECT_EQ(d.MessageTime().zone_quarters, c.zone_quarters);
    if (&c == &kCases[0]) {
      EXPECT_DOUBLE_EQ(d.MessageTime().date, 41235.0 + (18 * 3600 + 59 * 60 + 50) / 86400.0);
    }
  }
}

TEST(SMSDeliverTest, FailureKeepsTheOrderOfAssignment) {
  SMSDeliver d;
  d.SetMessageText(u"old");
  d.SetMultiPartSMS(true);
  d.SetMultiPartSMSRef("0003FF");
  std::string no_crlf = kHello;
  EXPECT_THROW(d.Decode(no_crlf), Error);
  EXPECT_EQ(d.MessageID(), "");
  // Cut after the time stamp: sender and time are new, the rest is not.
  std::string entry = std::string("7\r\n") + std::string(kHello, 52);
  EXPECT_THROW(d.Decode(entry), Error);
  EXPECT_EQ(Describe(d), Expect("7", "+12345678901", kTime, "old", "0003FF"));
}

// The index the tool deletes by is a number only where the entry's id is one.
TEST(MessageEntryTest, IndexOfAnEntry) {
  const struct {
    const char* entry;
    std::optional<int32_t> index;
  } kCases[] = {
      {" 7\t\r\nAB", 7},        {"-2\r\nAB", -2},           {"+3\r\nAB", 3},
      {"\r\nAB", std::nullopt}, {"7a\r\nAB", std::nullopt}, {"2147483648\r\nAB", std::nullopt}};
  for (const auto& c : kCases) {
    const std::optional<ParsedEntry> e = ParseEntry(c.entry);
    ASSERT_TRUE(e) << c.entry;
    EXPECT_EQ(e->index, c.index) << c.entry;
    EXPECT_EQ(e->pdu, "AB") << c.entry;
  }
  EXPECT_FALSE(ParseEntry("7\nAB"));
  EXPECT_EQ(MakeEntry(-12, "AB"), "-12\r\nAB");
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
    int data_coding;
  } kCases[] = {
      {"national, no centre", {.service_centre = "", .sender = "0612345678", .text = u"x"}, "", 0},
      {"8-bit part",
       {.text = u"\u00C4\u00E9\u00FF\x01", .eight_bit = true, .concat = part(0xA7, 3, 2, false)},
       "0003A7",
       4},
      {"full 152-septet wide part",
       {.text = std::u16string(152, u'z'), .concat = part(9, 2, 1, true)},
       "08040009",
       0},
      {"full 66-unit wide UCS2 part",
       {.text = std::u16string(66, u'\u0416'), .concat = part(0xBEEF, 3, 3, true)},
       "0804BEEF",
       8},
      {"negative zone", {.zone_quarters = -20, .text = u"t"}, "", 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string entry = "2\r\n" + BuildDeliverPdu(c.fields);
    SMSDeliver d;
    d.Decode(entry);
    EXPECT_EQ(d.PhoneNumber(), c.fields.sender);
    EXPECT_EQ(d.MessageText(), c.fields.text);
    EXPECT_EQ(d.MultiPartSMSRef(), c.ref);
    EXPECT_EQ(d.MultiPartSMSCount(), c.fields.concat ? c.fields.concat->total : 0);
    EXPECT_EQ(d.MultiPartSMSNumber(), c.fields.concat ? c.fields.concat->sequence : 0);
    EXPECT_EQ(d.MessageTime().zone_quarters, c.fields.zone_quarters);
    EXPECT_EQ(d.DataCoding(), c.data_coding);
    EXPECT_FALSE(d.IsSubmit());
  }
  // The hand-made UCS2 PDU above is byte for byte what the builder makes.
  EXPECT_EQ(BuildDeliverPdu({.text = u"\u041F\u0440\u0438\u0432\u0435\u0442"}),
            "07911326040000F0040B911316325476F80008622160900300400C041F04400438043204350442");
  EXPECT_THROW(BuildDeliverPdu({.text = std::u16string(161, u'a')}), Error);
  EXPECT_THROW(BuildDeliverPdu({.text = std::u16string(153, u'a'), .concat = part(1, 2, 1, true)}),
               Error);
}

// The tool shows DataCoding and SenderType through ByteToHex: two digits at least.
TEST(MdlConverterTest, ByteToHex) {
  for (const auto& [n, hex] : {std::pair{0, "00"}, {10, "0A"}, {255, "FF"}}) {
    EXPECT_EQ(mdlConverter::ByteToHex(n), hex) << n;
  }
}

}  // namespace
}  // namespace tarvex
