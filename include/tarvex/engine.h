// Tarvex: the engine.  Owns the serial ports of five modem slots (0..4),
// opens and initialises a slot's modem with the port and baud rate stored for
// it, and runs every modem operation as one AT command transaction: write the
// command line, then poll the port until a final result code arrives or the
// transaction's deadline passes.
//
// Everything outside comes in through the platform seams handed to the
// constructor, so the same engine serves the Linux tool, the Windows component
// and tests with a scripted modem and a fake clock.
//
// Threading: one host thread.  While a transaction waits it runs the host's
// message pump once per poll (never during initialisation); a call that the
// pump makes on a slot whose transaction is waiting raises kSlotBusy.
//
// Text: message texts are UTF-16; phone numbers, command arguments and the
// results are UTF-8 (results are "OK", "ERROR", "TIMEOUT" or a parsed value).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tarvex/clock.h"
#include "tarvex/collection.h"
#include "tarvex/message_pump.h"
#include "tarvex/registry_backend.h"
#include "tarvex/serial_port.h"

namespace tarvex {

enum enumInbox : int32_t {
  ibxNewMessage = 0,
  ibxOldMessage = 1,
};

class Tarvex {
 public:
  static constexpr int kSlotCount = 5;
  using Ports = std::array<std::unique_ptr<SerialPort>, kSlotCount>;
  // The event SendProgress: raised synchronously before each message or part.
  using SendProgressHandler = std::function<void(int16_t& ModemID, int16_t& MessageCount,
                                                 int16_t& PartNumber, std::u16string& MessageText)>;

  static constexpr uint32_t kDefaultCommandTimeoutMs = 30000;
  static constexpr uint32_t kDefaultSendTimeoutMs = 60000;
  static constexpr uint32_t kInitTimeoutMs = 5000;

  Tarvex(Ports ports, Clock& clock, RegistryBackend& registry);
  ~Tarvex();
  Tarvex(const Tarvex&) = delete;
  Tarvex& operator=(const Tarvex&) = delete;

  // Hooks the host sets.  The pump and the settings dialog do nothing by default.
  void SetMessagePump(MessagePump* pump);
  void SetSettingsDialog(std::function<void()> show_modal);
  void OnSendProgress(SendProgressHandler handler);

  // Deadline of a standard transaction (a query, a listing, the CMGS command)
  // and of the wait for the modem's answer to a sent PDU.  Both count the
  // modem's silence: they start again whenever bytes arrive, so a long
  // listing that keeps flowing is not cut off.  0 gives up after one poll.
  // Initialisation (5000 ms) and the USSD answer (TimeOut) count from their start.
  void SetCommandTimeout(uint32_t ms);
  void SetSendTimeout(uint32_t ms);

  // The slot's port object; an index outside 0..4 raises 9.
  SerialPort& Device(int16_t index);

  void Setting();
  bool DeviceOpen(int16_t ModemID);
  bool DeviceClose(int16_t ModemID);
  // A USSD request; the decoded answer (upper case), "ERROR" or "TIMEOUT".
  std::string SendCommand(int16_t ModemID, const std::string& Command, int32_t TimeOut = 10000);
  std::string GetMessageStorageID(int16_t ModemID);
  std::string SetMessageStorageID(int16_t ModemID, const std::string& StorageID);
  std::string DeviceManufacture(int16_t ModemID);
  std::string DeviceModel(int16_t ModemID);
  std::string DeviceIMEI(int16_t ModemID);
  // Entries "INDEX" CR LF "PDU" in listing order; empty on ERROR or deadline.
  Collection<std::string> ReadMessage(int16_t ModemID, int32_t Inbox);
  // Cuts MessageText to what one message carries and writes the cut text back.
  std::string SendMessage(int16_t ModemID, const std::string& PhoneNumber,
                          std::u16string& MessageText);
  std::string SendLongMessage(int16_t ModemID, const std::string& PhoneNumber,
                              const std::u16string& MessageText);
  std::string RemoveMessage(int16_t ModemID, int32_t Index);
  std::string DeviceName(int16_t ModemID);

 private:
  struct Impl;

  // The long path of SendLongMessage: the parts of a text that does not fit
  // one message, and one part sent with its concatenation header.
  Collection<std::u16string> SplitMessage(const std::u16string& text);
  std::string SendMessagePart(int16_t ModemID, const std::string& PhoneNumber,
                              const std::string& REFID, const std::u16string& part, int16_t Total,
                              int16_t ThisPart);

  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvex
