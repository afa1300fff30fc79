// Listing: ListStored runs "AT+CMGL=<status>" as one standard transaction and
// cuts the complete reply into entries once, after the final result code, so
// a listing that trickles in costs time linear in its size.  ReadMessage is
// its documented face: the entries, or an empty collection for a refusal or
// a silent modem alike.
#include <string>

#include "engine/message_list.h"
#include "engine/tarvex_impl.h"

namespace tarvex {

Listing Tarvex::ListStored(int16_t ModemID, int32_t Inbox) {
  Impl::SlotUse use(*impl_, ModemID);
  // Any status passes through: the modem decides what it lists for it.
  const Impl::Reply r =
      impl_->ExchangeCommand(use, "AT+CMGL=" + std::to_string(Inbox), impl_->command_timeout_ms);
  Listing listing;
  static_cast<Answer&>(listing) = r.Outcome([](const std::string&) { return ""; });
  if (listing.done()) listing.entries = TextDecode::MessageList(r.text);
  return listing;
}

Collection<std::string> Tarvex::ReadMessage(int16_t ModemID, int32_t Inbox) {
  return ListStored(ModemID, Inbox).entries;
}

}  // namespace tarvex
