// The engine's slots, its hooks, opening and closing a slot, USSD and the
// device and storage queries.  Sending and listing have files of their own.
#include <chrono>
#include <limits>
#include <string>

#include "engine/tarvex_impl.h"
#include "engine/text_decode.h"
#include "tarvex/engine.h"
#include "tarvex/error.h"
#include "tarvex/mdl_public.h"

namespace tarvex {
namespace {

std::mt19937 SeededSource() {
  // random_device alone is deterministic on some toolchains; the clock makes
  // two runs differ even there.
  std::random_device device;
  const auto now = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  std::seed_seq seed{device(),
                     device(),
                     device(),
                     device(),
                     static_cast<uint32_t>(now),
                     static_cast<uint32_t>(static_cast<uint64_t>(now) >> 32)};
  return std::mt19937(seed);
}

// The port text as a 16-bit integer, as the host's conversion takes it:
// blanks around, an optional sign, decimal digits.
int16_t PortNumber(const std::string& text) {
  std::string_view s = text::TrimBlanks(text);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) throw Error(kTypeMismatch, "Type mismatch");
  int32_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') throw Error(kTypeMismatch, "Type mismatch");
    value = value * 10 + (c - '0');
    if (value > 32768) throw Error(kOverflow, "Overflow");
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int16_t>::max()) throw Error(kOverflow, "Overflow");
  return static_cast<int16_t>(value);
}

}  // namespace

Tarvex::Impl::Impl(Ports ports_in, Clock& clock_in, RegistryBackend& registry_in)
    : ports(std::move(ports_in)),
      clock(clock_in),
      registry(registry_in),
      reference_source(SeededSource()) {}

SerialPort& Tarvex::Impl::Port(int16_t slot) {
  if (slot < 0 || slot >= kSlotCount || !ports[static_cast<size_t>(slot)]) {
    throw Error(kSubscriptOutOfRange,
                "Subscript out of range: there is no modem slot " + std::to_string(slot));
  }
  return *ports[static_cast<size_t>(slot)];
}

Tarvex::Impl::SlotUse::SlotUse(Impl& impl, int16_t slot)
    : impl_(impl), slot_(slot), port_(impl.Port(slot)) {
  bool& busy = impl_.busy[static_cast<size_t>(slot_)];
  if (busy) {
    throw Error(kSlotBusy, "Modem slot " + std::to_string(slot) +
                               " is busy: another operation is waiting for its modem");
  }
  busy = true;
}

Tarvex::Impl::SlotUse::~SlotUse() {
  impl_.busy[static_cast<size_t>(slot_)] = false;
  try {
    port_.SetInputLen(0);
  } catch (...) {
    // A port that went away has nothing to reset.
  }
}

// ---------------------------------------------------------------------------

Tarvex::Tarvex(Ports ports, Clock& clock, RegistryBackend& registry)
    : impl_(std::make_unique<Impl>(std::move(ports), clock, registry)) {}

Tarvex::~Tarvex() = default;

void Tarvex::SetMessagePump(MessagePump* pump) { impl_->pump = pump; }
void Tarvex::SetSettingsDialog(std::function<void()> show_modal) {
  impl_->settings_dialog = std::move(show_modal);
}
void Tarvex::OnSendProgress(SendProgressHandler handler) {
  impl_->send_progress = std::move(handler);
}
void Tarvex::SetCommandTimeout(uint32_t ms) { impl_->command_timeout_ms = ms; }
void Tarvex::SetSendTimeout(uint32_t ms) { impl_->send_timeout_ms = ms; }
void Tarvex::SetExtendedErrors(bool on) { impl_->extended_errors = on; }

std::vector<Indication> Tarvex::TakeIndications() {
  std::vector<Indication> taken(std::make_move_iterator(impl_->indications.begin()),
                                std::make_move_iterator(impl_->indications.end()));
  impl_->indications.clear();
  return taken;
}

std::string Answer::Result() const {
  if (outcome == kDone) return value;
  return outcome == kRefused ? "ERROR" : "TIMEOUT";
}

SerialPort& Tarvex::Device(int16_t index) { return impl_->Port(index); }

void Tarvex::Setting() {
  if (impl_->settings_dialog) impl_->settings_dialog();
}

bool Tarvex::DeviceOpen(int16_t ModemID) { return OpenSlot(ModemID).opened(); }

SlotOpening Tarvex::OpenSlot(int16_t ModemID) {
  SlotOpening opening;
  if (mdlPublic::GetPortSetting(impl_->registry, ModemID).empty()) return opening;
  if (ModemID >= 0 && ModemID < kSlotCount && impl_->busy[static_cast<size_t>(ModemID)]) {
    throw Error(kSlotBusy, "Modem slot " + std::to_string(ModemID) +
                               " is busy: another operation is waiting for its modem");
  }
  SerialPort* port = nullptr;
  try {
    // Each step may fail (a port text that is no number, a rate the port
    // cannot take, a device missing or taken, a port of this slot already
    // open); what was set before the failing step stays set.
    port = &Device(ModemID);
    port->SetCommPort(PortNumber(mdlPublic::GetPortSetting(impl_->registry, ModemID)));
    port->SetSettings(mdlPublic::GetBaudRateSetting(impl_->registry, ModemID) + ",n,8,1");
    port->SetHandshaking(3);
    port->SetRThreshold(0);
    port->SetSThreshold(0);
    port->SetRTSEnable(false);
    port->SetPortOpen(true);
  } catch (const Error& e) {
    opening.outcome = SlotOpening::kPortError;
    opening.error_number = e.number();
    opening.error_message = e.what();
    return opening;
  } catch (const std::exception& e) {
    opening.outcome = SlotOpening::kPortError;
    opening.error_message = e.what();
    return opening;
  }
  Impl::SlotUse use(*impl_, ModemID);
  opening.outcome = impl_->InitializeModem(use);
  return opening;
}

bool Tarvex::DeviceClose(int16_t ModemID) {
  try {
    // A slot whose transaction waits is not closed under it (the close would
    // come from the host's pump): False, and the operation goes on.
    Impl::SlotUse use(*impl_, ModemID);
    use.port().SetPortOpen(false);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::string Tarvex::SendCommand(int16_t ModemID, const std::string& Command, int32_t TimeOut) {
  const UssdAnswer answer = RunUssd(ModemID, Command, TimeOut);
  // A refusal by the network is the documented empty text.
  return answer.by_network ? "" : answer.Result();
}

UssdAnswer Tarvex::RunUssd(int16_t ModemID, const std::string& Command, int32_t TimeOut) {
  CheckCommandArgument(Command, "the USSD command");
  Impl::SlotUse use(*impl_, ModemID);
  const Impl::Reply request =
      impl_->ExchangeCommand(use, "AT+CUSD=1,\"" + Command + "\",15", impl_->command_timeout_ms);
  if (!request.complete() || request.code.refused()) {
    UssdAnswer refused;
    static_cast<Answer&>(refused) = request.Outcome([](const std::string&) { return ""; });
    return refused;
  }
  // Some modems put the network's answer in the same read as their OK, or
  // before it: it starts the second phase instead of being lost.
  const size_t early = request.raw.find("+CUSD:");
  std::string carried = early == std::string::npos ? "" : request.raw.substr(early);
  return impl_->ExchangeCommandUssdAnswer(use, std::move(carried), TimeOut);
}

Answer Tarvex::Ask(int16_t ModemID, Query query) {
  Impl::SlotUse use(*impl_, ModemID);
  switch (query) {
    case Query::kManufacturer:
      return impl_->ExchangeCommand(use, "AT+CGMI", impl_->command_timeout_ms)
          .Outcome(TextDecode::DeviceManufacture);
    case Query::kModel:
      return impl_->ExchangeCommand(use, "AT+CGMM", impl_->command_timeout_ms)
          .Outcome(TextDecode::DeviceModel);
    case Query::kIMEI:
      return impl_->ExchangeCommand(use, "AT+CGSN", impl_->command_timeout_ms)
          .Outcome([](const std::string& reply) {
            std::string serial = TextDecode::DeviceSerialNumber(reply);
            if (serial.find("+CGSN:") == std::string::npos) return serial;
            const std::string_view rest =
                serial.size() > 6 ? std::string_view(serial).substr(6) : "";
            return std::string(text::TrimBlanks(rest));
          });
    case Query::kStorage:
      return impl_->ExchangeCommand(use, "AT+CPMS?", impl_->command_timeout_ms)
          .Outcome(TextDecode::MessageStorage);
  }
  return {};
}

Answer Tarvex::SelectStorage(int16_t ModemID, const std::string& StorageID) {
  CheckCommandArgument(StorageID, "the storage name");
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->ExchangeCommand(use, "AT+CPMS=\"" + StorageID + "\"", impl_->command_timeout_ms)
      .Outcome([](const std::string&) { return "OK"; });
}

Answer Tarvex::DeleteStored(int16_t ModemID, int32_t Index) {
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->ExchangeCommand(use, "AT+CMGD=" + std::to_string(Index), impl_->command_timeout_ms)
      .Outcome([](const std::string&) { return "OK"; });
}

std::string Tarvex::GetMessageStorageID(int16_t ModemID) {
  const Answer a = Ask(ModemID, Query::kStorage);
  return a.done() ? a.value : "0";
}

std::string Tarvex::SetMessageStorageID(int16_t ModemID, const std::string& StorageID) {
  return SelectStorage(ModemID, StorageID).Result();
}

std::string Tarvex::DeviceManufacture(int16_t ModemID) {
  return Ask(ModemID, Query::kManufacturer).Result();
}

std::string Tarvex::DeviceModel(int16_t ModemID) { return Ask(ModemID, Query::kModel).Result(); }

std::string Tarvex::DeviceIMEI(int16_t ModemID) { return Ask(ModemID, Query::kIMEI).Result(); }

std::string Tarvex::RemoveMessage(int16_t ModemID, int32_t Index) {
  return DeleteStored(ModemID, Index).Result();
}

std::string Tarvex::DeviceName(int16_t ModemID) {
  return mdlPublic::GetDeviceNameSetting(impl_->registry, ModemID);
}

}  // namespace tarvex
