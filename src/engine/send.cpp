// Sending: SendMessage (one message, the text cut to what it carries),
// SendLongMessage (one message when the text fits, else a concatenated
// message under one fresh reference), and the send dialogue both use.  The
// long path (SplitMessage, SendMessagePart) is private to this file and the
// engine's inside; every step works on the port of the slot SendText holds.
//
// SendProgress is raised synchronously before each message or part is
// encoded; the handler gets values, so nothing it does alters the send.  The
// handler may throw: the send stops there and the error reaches the caller.
// A part that is not answered "OK" ("ERROR", "TIMEOUT") ends a long send; no
// further part is written.
#include <cstdio>
#include <string>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/split.h"
#include "engine/tarvex_impl.h"
#include "tarvex/error.h"
#include "tarvex/sms_submit.h"

namespace tarvex {
namespace {

constexpr char kCtrlZ = 26;
constexpr char kEsc = 27;

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// The longest start of the text that one message carries: 160 septets when
// the GSM alphabet can carry the whole text (an extension character, two
// septets, is kept whole or left out), else 70 UTF-16 units without cutting
// a surrogate pair.
std::u16string CutToOneMessage(const std::u16string& text) {
  if (gsm7::CanEncode(text)) {
    int septets = 0;
    size_t keep = 0;
    for (; keep < text.size(); ++keep) {
      const int cost = gsm7::SeptetLength(text[keep]);
      if (septets + cost > SMSSubmit::kMaxSeptets) break;
      septets += cost;
    }
    return text.substr(0, keep);
  }
  size_t keep = std::min<size_t>(text.size(), SMSSubmit::kMaxUcs2Units);
  if (keep < text.size() && keep > 0 && IsHighSurrogate(text[keep - 1])) --keep;
  return text.substr(0, keep);
}

// The parts of a text that does not fit one message.
Collection<std::u16string> SplitMessage(const std::u16string& text) {
  Collection<std::u16string> parts;
  for (std::u16string& part : SplitForParts(text)) parts.Add(std::move(part));
  return parts;
}

// The message reference of "+CMGS: <mr>", -1 without one.
int MessageReference(std::string_view text) {
  const size_t p = text.find("+CMGS:");
  if (p == std::string_view::npos) return -1;
  size_t i = p + 6;
  while (i < text.size() && text[i] == ' ') ++i;
  int value = -1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000; ++i) {
    value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
  }
  return value;
}

}  // namespace

void Tarvex::Impl::RaiseSendProgress(int16_t slot, int16_t count, int16_t part,
                                     const std::u16string& text) {
  if (send_progress) send_progress(slot, count, part, text);
}

std::string Tarvex::Impl::DrawReference() {
  std::uniform_int_distribution<int> byte(0, 255);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", byte(reference_source));
  return hex;
}

PartReport Tarvex::Impl::SendDialogue(SlotUse& use, const SubmitPdu& pdu) {
  SerialPort& port = use.port();
  const int16_t slot = use.slot();
  WriteCommand(port, slot, "AT+CMGS=" + std::to_string(pdu.tpdu_octets));
  Deadline deadline(clock, command_timeout_ms, Deadline::kSilence);
  std::string buffer;
  FinalCodeWatch watch;
  bool prompted = false;
  const bool complete =
      Poll(port, /*run_pump=*/true, deadline, /*deadline_wins=*/false, [&](std::string_view fresh) {
        buffer.append(fresh);
        if (!prompted && !watch.Scan(buffer) && watch.PromptSeen()) {
          // What came with the prompt is not the answer (notices in front of
          // it are kept): the answer is what the modem says about the PDU.
          prompted = true;
          Filter(slot, buffer, "");
          buffer.clear();
          watch.Reset();
          std::string data = pdu.hex;
          data += kCtrlZ;
          port.Output(data);
          clock.Sleep(kWriteSettleMs);
          deadline.Restart(send_timeout_ms);
          return false;
        }
        return watch.Scan(buffer);
      });
  const std::string text = Filter(slot, buffer, "+CMGS:");
  PartReport report;
  if (!complete) {
    if (!prompted) {
      // A prompt that comes later would take our next command as PDU text.
      try {
        port.Output(std::string(1, kEsc));
      } catch (const Error&) {
        // The port is gone; nothing waits for a PDU then.
      }
    }
    return report;
  }
  if (watch.ErrorSeen()) {
    report.outcome = Answer::kRefused;
    report.error = watch.code();
  } else {
    report.outcome = Answer::kDone;
    report.reference = MessageReference(text);
  }
  return report;
}

PartReport Tarvex::Impl::SendSingle(SlotUse& use, const std::string& number,
                                    const std::u16string& text) {
  RaiseSendProgress(use.slot(), 1, 1, text);
  SMSSubmit submit;
  submit.PhoneNumber = number;
  submit.MessageText = text;
  submit.Tables = send_tables;
  submit.StatusReportRequest = status_report_request;
  const SubmitPdu pdu = submit.Encode();  // a bad number raises 5 here: nothing written
  return SendDialogue(use, pdu);
}

PartReport Tarvex::Impl::SendMessagePart(SlotUse& use, const std::string& PhoneNumber,
                                         const std::string& REFID, const std::u16string& part,
                                         int16_t Total, int16_t ThisPart) {
  RaiseSendProgress(use.slot(), Total, ThisPart, part);
  SMSSubmit submit;
  submit.PhoneNumber = PhoneNumber;
  submit.MessageText = part;
  submit.Tables = send_tables;
  submit.StatusReportRequest = status_report_request;
  PartReport report = SendDialogue(use, submit.EncodeLongSMS(REFID, Total, ThisPart));
  report.part = ThisPart;
  report.text = part;
  return report;
}

std::string SendReport::Result() const {
  if (parts.empty()) return "";
  switch (parts.back().outcome) {
    case Answer::kDone:
      return "OK";
    case Answer::kRefused:
      return "ERROR";
    case Answer::kNoAnswer:
      break;
  }
  return "TIMEOUT";
}

void Tarvex::SendText(int16_t ModemID, const std::string& PhoneNumber,
                      const std::u16string& MessageText, bool single, SendReport& report,
                      bool status_report) {
  report = SendReport{};
  Impl::SlotUse use(*impl_, ModemID);
  // National tables hold for this send only, however it ends.
  struct TablesReset {
    Impl& impl;
    ~TablesReset() { impl.send_tables = {}; }
  } reset{*impl_};
  // Delivery reports: TP-SRR for this send only, whatever way it ends.
  struct ReportRequest {
    bool& flag;
    ~ReportRequest() { flag = false; }
  } request{impl_->status_report_request};
  request.flag = status_report;
  report.text = single ? CutToOneMessage(MessageText) : MessageText;
  std::vector<std::u16string> parts;
  if (single || impl_->national.mode == gsm7::NationalChoice::kOff) {
    if (single || FitsSingle(MessageText)) {
      parts.push_back(report.text);
    } else {
      const Collection<std::u16string> split = SplitMessage(MessageText);
      for (int32_t i = 1; i <= split.Count(); ++i) parts.push_back(split.Item(i));
    }
  } else {
    MessagePlan plan = PlanMessage(MessageText, impl_->national);
    impl_->send_tables = plan.tables;
    parts = std::move(plan.parts);
  }
  if (parts.size() == 1) {
    report.total = 1;
    report.parts.emplace_back().part = 1;
    report.parts.back() = impl_->SendSingle(use, PhoneNumber, parts[0]);
    report.parts.back().part = 1;
    report.parts.back().text = parts[0];
    return;
  }
  const std::string reference = impl_->DrawReference();
  report.total = static_cast<int16_t>(parts.size());
  for (int16_t i = 1; i <= report.total; ++i) {
    report.parts.emplace_back().part = i;
    report.parts.back() =
        impl_->SendMessagePart(use, PhoneNumber, reference, parts[i - 1], report.total, i);
    if (report.parts.back().outcome != Answer::kDone) break;
  }
}

std::string Tarvex::SendMessage(int16_t ModemID, const std::string& PhoneNumber,
                                std::u16string& MessageText) {
  // The cut comes first and stays in the caller's variable, also when the
  // send then fails (a closed port, a bad number, a handler that throws).
  MessageText = CutToOneMessage(MessageText);
  SendReport report;
  SendText(ModemID, PhoneNumber, MessageText, /*single=*/true, report);
  return report.Result();
}

std::string Tarvex::SendLongMessage(int16_t ModemID, const std::string& PhoneNumber,
                                    const std::u16string& MessageText) {
  SendReport report;
  SendText(ModemID, PhoneNumber, MessageText, /*single=*/false, report);
  return report.Result();
}

void Tarvex::SetNationalTables(gsm7::NationalChoice choice) { impl_->national = choice; }

}  // namespace tarvex
