// Listing: ReadMessage runs "AT+CMGL=<status>" as one standard transaction and
// cuts the complete reply into entries once, after the final result code, so
// a listing that trickles in costs time linear in its size.
#include <string>

#include "engine/reply.h"
#include "engine/tarvex_impl.h"
#include "engine/text_decode.h"

namespace tarvex {

Collection<std::string> Tarvex::ReadMessage(int16_t ModemID, int32_t Inbox) {
  Impl::SlotUse use(*impl_, ModemID);
  // Any status passes through: the modem decides what it lists for it.
  const Impl::Reply r = impl_->ExchangeCommand(use.port(), "AT+CMGL=" + std::to_string(Inbox),
                                               impl_->command_timeout_ms);
  // ERROR, a silent modem and an empty storage all give an empty collection.
  if (!r.complete || IsError(r.text) || !IsOK(r.text)) return {};
  return TextDecode::MessageList(r.text);
}

}  // namespace tarvex
