// Status reports captured from modems (named after where they were published),
// the TP-ST table's groups and edges, the builder read back, and optional
// fields cut short.  (status_report_fuzz holds the decoder to 5 or 13 and to
// its input on any bytes.)
#include "codec/status_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tarvex/error.h"

namespace tarvex {
namespace {

std::string Stamp(const MessageTimeValue& t) {
  char b[32];
  std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return b;
}

// Everything a watcher needs from a report, printable.
std::string Describe(const StatusReport& r) {
  return r.service_centre + (r.had_service_centre_field ? "" : "(none)") +
         " mr=" + std::to_string(r.message_reference) + " to=" + r.recipient + "/" +
         std::to_string(r.recipient_type) + " sc=" + Stamp(r.service_centre_time) +
         " dt=" + Stamp(r.discharge_time) + " st=" + std::to_string(r.status) + " " +
         r.meaning.outcome_text + ": " + r.meaning.reason;
}

std::string Result(const std::string& pdu) {
  try {
    return Describe(DecodeStatusReport(pdu));
  } catch (const Error& e) {
    return "error " + std::to_string(e.number());
  }
}

const struct {
  const char* source;
  const char* pdu;
  const char* expected;
} kReal[] = {
    {"Huawei dongle +CDS (ts-gsm-modem), centre counted apart",
     "0891683108608805F906750D91683109731147F4313050913492003130509134430000",
     "+8613800688509 mr=117 to=+8613903711744/145 sc=2013-03-05 19:43:29 "
     "dt=2013-03-05 19:43:34 st=0 delivered: received by the recipient"},
    {"python-gsmmodem +CMGR from SR, national recipient",
     "07917248014000F506B70AA18092020000317071518590803170715185418000",
     "+27841004005 mr=183 to=0829200000/161 sc=2013-07-17 15:58:09 dt=2013-07-17 15:58:14 "
     "st=0 delivered: received by the recipient"},
    {"python-gsmmodem bug report: empty centre field, zone C2 not BCD",
     "0006230E9126983575169498610103409544C26101034095448200",
     " mr=35 to=+62895357614989/145 sc=2016-10-30 04:59:44 dt=2016-10-30 04:59:44 st=0 "
     "delivered: received by the recipient"},
    {"amro's +CDS without the centre field", "06000B910221815716F2709021510121807090215101718000",
     "(none) mr=0 to=+20121875612/145 sc=2007-09-12 15:10:12 dt=2007-09-12 15:10:17 st=0 "
     "delivered: received by the recipient"},
    // A documentation example that lost its TP-MR: refused, not misread.
    {"nRF9160 manual's +CDS example", "060C91534810325476171160316255001711603152120000",
     "error 5"},
    {"an SMS-DELIVER", "07919999999999F9040B912143658709F100002111228195058005C8329BFD06",
     "error 5"},
};

TEST(StatusReportTest, RealReports) {
  for (const auto& c : kReal) EXPECT_EQ(Result(c.pdu), c.expected) << c.source;
}

TEST(StatusReportTest, AnnouncedFieldsMustAllBeThere) {
  // Optional fields announced by TP-PI must all be there: amro's report with
  // PI 07 (PID, DCS, UDL), PID 00, DCS 00, UDL 5 and "hello".
  const std::string with_text = std::string(kReal[3].pdu) + "07000005E8329BFD06";
  const StatusReport r = DecodeStatusReport(with_text);
  EXPECT_EQ(r.user_data_length, 5);
  EXPECT_EQ(r.user_data_hex, "E8329BFD06");
  const size_t mandatory = with_text.size() - 18;
  for (size_t n = mandatory; n < with_text.size(); n += 2) {
    EXPECT_EQ(Result(with_text.substr(0, n)).substr(0, 6), n == mandatory ? "(none)" : "error ")
        << n;
  }
}

TEST(StatusReportTest, StatusGroupsReservedAndCentreSpecific) {
  const struct {
    uint8_t st;
    ReportOutcome outcome;
    const char* reason;
  } kCases[] = {
      {0x01, ReportOutcome::kDelivered, "forwarded to the recipient, delivery not confirmed"},
      {0x03, ReportOutcome::kDelivered, "reserved (0x03)"},
      {0x1F, ReportOutcome::kDelivered, "service-centre specific (0x1F)"},
      {0x21, ReportOutcome::kPending, "recipient busy"},
      {0x26, ReportOutcome::kPending, "reserved (0x26)"},
      {0x30, ReportOutcome::kPending, "service-centre specific (0x30)"},
      {0x46, ReportOutcome::kFailed, "validity period expired"},
      {0x4A, ReportOutcome::kFailed, "reserved (0x4A)"},
      {0x62, ReportOutcome::kFailed, "no response from the recipient, no more attempts"},
      {0x7F, ReportOutcome::kFailed, "service-centre specific (0x7F)"},
      {0x80, ReportOutcome::kUnknown, "reserved (0x80)"},
  };
  for (const auto& c : kCases) {
    const StatusMeaning m = DescribeStatus(c.st);
    EXPECT_EQ(m.outcome, c.outcome) << int{c.st};
    EXPECT_EQ(m.reason, c.reason) << int{c.st};
  }
}

TEST(StatusReportTest, BuilderReadsBackWithAndWithoutTheCentre) {
  StatusReportFields f;
  f.message_reference = 200;
  f.recipient = "+4915112345678";
  f.discharge_time.minute = 31;
  f.status = 0x46;
  const std::string expected =
      "+31624000000 mr=200 to=+4915112345678/145 sc=2026-12-06 09:30:00 dt=2026-12-06 09:31:00 "
      "st=70 failed: validity period expired";
  EXPECT_EQ(Result(BuildStatusReportPdu(f)), expected);
  f.with_service_centre_field = false;
  EXPECT_EQ(Result(BuildStatusReportPdu(f)), "(none)" + expected.substr(expected.find(" mr=")));
  f.message_reference = 256;
  EXPECT_THROW(BuildStatusReportPdu(f), Error);
}

}  // namespace
}  // namespace tarvex
