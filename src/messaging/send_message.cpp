// Sending: SendMessage (one message, the text cut to what it carries),
// SendLongMessage (one message when the text fits, else a concatenated
// message under one fresh reference), and the send dialogue both use.
//
// SendProgress is raised synchronously before each message or part is
// encoded; the handler gets copies, so what it changes does not alter the
// send.  The handler may throw: the send stops there and the error reaches
// the caller.  A part that is not answered "OK" ("ERROR", "TIMEOUT") ends a
// long send; no further part is written.
#include <cstdio>
#include <string>

#include "codec/gsm_alphabet.h"
#include "codec/split.h"
#include "engine/reply.h"
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

}  // namespace

void Tarvex::Impl::RaiseSendProgress(int16_t slot, int16_t count, int16_t part,
                                     const std::u16string& text) {
  if (!send_progress) return;
  int16_t modem_id = slot;
  int16_t message_count = count;
  int16_t part_number = part;
  std::u16string message_text = text;
  send_progress(modem_id, message_count, part_number, message_text);
}

std::string Tarvex::Impl::DrawReference() {
  std::uniform_int_distribution<int> byte(0, 255);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", byte(reference_source));
  return hex;
}

std::string Tarvex::Impl::SendDialogue(SerialPort& port, const std::string& pdu) {
  // The count leaves out the service-centre field, one octet ("00") here.
  WriteCommand(port, "AT+CMGS=" + std::to_string(pdu.size() / 2 - 1));
  Deadline deadline(clock, command_timeout_ms, Deadline::kSilence);
  std::string buffer;
  FinalCodeWatch watch;
  bool prompted = false;
  const bool complete =
      Poll(port, /*run_pump=*/true, deadline, /*deadline_wins=*/false, [&](std::string_view fresh) {
        const size_t before = buffer.size();
        buffer.append(fresh);
        if (!prompted && buffer.find('>', before) != std::string::npos) {
          // What came with the prompt is not the answer: that is what the
          // modem says about the PDU.
          prompted = true;
          buffer.clear();
          watch.Reset();
          std::string data = pdu;
          data += kCtrlZ;
          port.Output(data);
          clock.Sleep(kWriteSettleMs);
          deadline.Restart(send_timeout_ms);
          return false;
        }
        return watch.Scan(buffer);
      });
  if (!complete) {
    if (!prompted) {
      // A prompt that comes later would take our next command as PDU text.
      try {
        port.Output(std::string(1, kEsc));
      } catch (const Error&) {
        // The port is gone; nothing waits for a PDU then.
      }
    }
    return "TIMEOUT";
  }
  const std::string text = RemoveUnsolicited(buffer);
  if (IsError(text)) return "ERROR";
  return IsOK(text) ? "OK" : "ERROR";
}

std::string Tarvex::Impl::SendSingle(SerialPort& port, int16_t slot, const std::string& number,
                                     const std::u16string& text) {
  RaiseSendProgress(slot, 1, 1, text);
  SMSSubmit submit;
  submit.PhoneNumber = number;
  submit.MessageText = text;
  const std::string pdu = submit.Encode();  // a bad number raises 5 here: nothing written
  return SendDialogue(port, pdu);
}

std::string Tarvex::SendMessage(int16_t ModemID, const std::string& PhoneNumber,
                                std::u16string& MessageText) {
  Impl::SlotUse use(*impl_, ModemID);
  MessageText = CutToOneMessage(MessageText);
  return impl_->SendSingle(use.port(), ModemID, PhoneNumber, MessageText);
}

std::string Tarvex::SendLongMessage(int16_t ModemID, const std::string& PhoneNumber,
                                    const std::u16string& MessageText) {
  Impl::SlotUse use(*impl_, ModemID);
  if (FitsSingle(MessageText)) {
    return impl_->SendSingle(use.port(), ModemID, PhoneNumber, MessageText);
  }
  const Collection<std::u16string> parts = SplitMessage(MessageText);
  const std::string reference = impl_->DrawReference();
  const auto total = static_cast<int16_t>(parts.Count());
  std::string result;
  for (int16_t i = 1; i <= total; ++i) {
    result = SendMessagePart(ModemID, PhoneNumber, reference, parts.Item(i), total, i);
    if (result != "OK") break;
  }
  return result;
}

Collection<std::u16string> Tarvex::SplitMessage(const std::u16string& text) {
  Collection<std::u16string> parts;
  for (std::u16string& part : SplitForParts(text)) parts.Add(std::move(part));
  return parts;
}

std::string Tarvex::SendMessagePart(int16_t ModemID, const std::string& PhoneNumber,
                                    const std::string& REFID, const std::u16string& part,
                                    int16_t Total, int16_t ThisPart) {
  impl_->RaiseSendProgress(ModemID, Total, ThisPart, part);
  SMSSubmit submit;
  submit.PhoneNumber = PhoneNumber;
  submit.MessageText = part;
  const std::string pdu = submit.EncodeLongSMS(REFID, Total, ThisPart);
  return impl_->SendDialogue(impl_->Port(ModemID), pdu);
}

}  // namespace tarvex
