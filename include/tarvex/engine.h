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
#include <vector>

#include "tarvex/clock.h"
#include "tarvex/collection.h"
#include "tarvex/message_pump.h"
#include "tarvex/national_tables.h"
#include "tarvex/registry_backend.h"
#include "tarvex/reply.h"
#include "tarvex/serial_port.h"

namespace tarvex {

enum enumInbox : int32_t {
  ibxNewMessage = 0,
  ibxOldMessage = 1,
};

// What the modem made of one command, as the engine's own tool needs it: a
// refusal, with the modem's code, apart from silence.  The documented
// operations fold it into their texts ("ERROR", "TIMEOUT", "0", an empty
// collection), which COM hosts compare with.
struct Answer {
  enum Outcome { kDone, kRefused, kNoAnswer };
  Outcome outcome = kNoAnswer;
  std::string value;  // the parsed value when done
  FinalCode error;    // the modem's final code when refused

  bool done() const { return outcome == kDone; }
  // The documented text: the value, "ERROR" or "TIMEOUT".
  std::string Result() const;
};

struct UssdAnswer : Answer {
  // A refusal by the network rather than the modem: the answer's status was
  // 4 (not supported) or 2 (ended by the network) and it held no text.
  bool by_network = false;
  int status = -1;   // the "+CUSD: <m>" status, -1 without an answer
  int dcs = -1;      // its coding scheme, -1 when it gave none
  std::string text;  // its text between the quotation marks, as it came
};

struct Listing : Answer {
  Collection<std::string> entries;  // "INDEX" CR LF "PDU" in listing order
};

// One message or part of a send, filled in as the send goes, so that what
// went out is known also when the send stops with an error.
struct PartReport {
  int16_t part = 0;
  Answer::Outcome outcome = Answer::kNoAnswer;
  int reference = -1;  // the modem's "+CMGS: <mr>", -1 when it gave none
  FinalCode error;
  std::u16string text;
};
struct SendReport {
  int16_t total = 0;              // parts the text was split into (1: one message)
  std::vector<PartReport> parts;  // the parts tried, in order
  std::u16string text;            // the text sent (SendMessage's cut)
  // "OK" when every part went, else the last part's "ERROR" or "TIMEOUT".
  std::string Result() const;
};

// The modem's state as the tool's `status` and `pin` show it.  Each outcome
// keeps the query's Answer (its value: the reply text); fields the modem did
// not give stay at their "unknown" values.
struct PinState : Answer {
  std::string code;          // "READY", "SIM PIN", "SIM PUK", "PH-SIM PIN"...; "" unknown
  bool waited_busy = false;  // the SIM answered "busy" first (AwaitSim)
  bool ready() const { return code == "READY"; }
  bool needs_pin() const { return code == "SIM PIN"; }
  // A PUK (or an operator's unblocking code) before anything else.
  bool needs_puk() const;
  // +CME ERROR 14 / +CMS ERROR 314.
  bool busy() const;
};
struct PinTries {
  int pin = -1;  // tries left for the PIN, -1 when the modem does not tell
  int puk = -1;
};
struct SignalQuality : Answer {
  int rssi = 99;  // +CSQ <rssi>: 0-31, 100-191, 99 unknown
  int ber = 99;   // <ber>: 0-7, 99 unknown
  bool known() const;
  int dBm() const;   // only when known()
  int Bars() const;  // 0-5, only when known()
};
struct Registration : Answer {
  int mode = -1;          // +CREG <n> as the modem had it
  int stat = -1;          // <stat>: 0 not searching, 1 home, 2 searching, 3 denied, 5 roaming...
  std::string lac, cell;  // hex, as given (only with <n> 2)
  int act = -1;           // access technology, -1 not given
  // "home network", "roaming", "searching", "denied"... "" when unknown.
  std::string StatusText() const;
};
struct OperatorName : Answer {
  int mode = -1, format = -1, act = -1;
  std::string name;  // "" when the modem is registered nowhere
};
struct ServiceCentre : Answer {
  std::string number;
  int type = -1;
};
struct StorageUse : Answer {
  struct Memory {
    std::string name;
    int used = 0, total = 0;
  };
  std::vector<Memory> memories;  // each storage once, in the answer's order
};
// AT+CNMI as the tool found it, so that it can be put back.
struct IndicationRouting : Answer {
  std::vector<int> values;  // <mode>,<mt>,<bm>,<ds>,<bfr> as read; empty when unknown
  int ds = -1;              // the <ds> now in force: 1 +CDS, 2 +CDSI
};

// How opening a slot ended.
struct SlotOpening {
  enum Outcome {
    kNoPort,     // the slot has no port stored
    kPortError,  // configuring or opening the port failed: the port's own error
    kRefused,    // the modem answered an initialisation command with an error
    kSilent,     // the modem did not answer within 5 s
    kOpened,
  };
  Outcome outcome = kNoPort;
  int32_t error_number = 0;   // with kPortError: the port's error number (8002, 8005, 13...)
  std::string error_message;  // and its message

  bool opened() const { return outcome == kOpened; }
};

// A notice the modem sent on its own account (a new message, a status
// report), taken out of a reply and kept for the engine's caller.
struct Indication {
  int16_t ModemID = 0;
  std::string text;
};

class Tarvex {
 public:
  static constexpr int kSlotCount = 5;
  using Ports = std::array<std::unique_ptr<SerialPort>, kSlotCount>;
  // The event SendProgress: raised synchronously before each message or part.
  // The handler gets values: nothing it does changes the send.
  using SendProgressHandler =
      std::function<void(int16_t ModemID, int16_t MessageCount, int16_t PartNumber,
                         const std::u16string& MessageText)>;

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
  // After the documented initialisation, also switch the modem to numeric
  // extended errors ("AT+CMEE=1"), so refusals carry their reason.  For the
  // engine's own tool: COM hosts compare results with "ERROR" and keep the
  // plain reports.  A modem that refuses it keeps them too.  Off by default.
  void SetExtendedErrors(bool on);

  // The notices taken out of replies since the last call, oldest first (at
  // most kMaxIndications are held; older ones give way).
  static constexpr size_t kMaxIndications = 1024;
  std::vector<Indication> TakeIndications();

  // Whether SendLongMessage may write 7-bit text through national language
  // tables (the tool's --national).  Off until set; the COM face never sets it,
  // so its hosts keep the default alphabet and UCS2.
  void SetNationalTables(gsm7::NationalChoice choice);

  // The slot's port object; an index outside 0..4 raises 9.
  SerialPort& Device(int16_t index);

  void Setting();
  // OpenSlot(ModemID) came out opened.
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

  // The same operations with their outcome, for the engine's own tool.
  // Arguments, errors raised and what is written are those of the
  // documented operation each one serves.
  //
  // DeviceOpen's steps: configure the slot's port from its stored settings,
  // open it, initialise the modem.  Raises kSlotBusy for a slot whose
  // transaction waits, and what the port raises while the modem is
  // initialised; every other failure is an outcome.  A modem that refused
  // leaves its port open (as DeviceOpen always has), a silent one closed.
  SlotOpening OpenSlot(int16_t ModemID);
  enum class Query { kManufacturer, kModel, kIMEI, kStorage };
  Answer Ask(int16_t ModemID, Query query);
  Answer SelectStorage(int16_t ModemID, const std::string& StorageID);
  Answer DeleteStored(int16_t ModemID, int32_t Index);
  UssdAnswer RunUssd(int16_t ModemID, const std::string& Command, int32_t TimeOut = 10000);
  Listing ListStored(int16_t ModemID, int32_t Inbox);
  // SendMessage (single: the text cut to one message) or SendLongMessage;
  // `report` holds every part tried, also when an error is raised.
  // status_report sets TP-SRR in every part.
  void SendText(int16_t ModemID, const std::string& PhoneNumber, const std::u16string& MessageText,
                bool single, SendReport& report, bool status_report = false);

  // The modem's state (src/engine/modem_status.cpp).  Each is one query on
  // the slot; a refusal or silence is the outcome, never an error raised.
  PinState ReadPinState(int16_t ModemID);
  // ReadPinState again while the SIM answers "busy", for up to wait_ms on
  // the engine's clock (a SIM that is still starting up).
  PinState AwaitSim(int16_t ModemID, uint32_t wait_ms);
  // AT+CPINR, else the makers' forms (Huawei, Quectel, Sierra, SIMCom).
  PinTries ReadPinTries(int16_t ModemID);
  // AT+CPIN="<pin>": 4 to 8 digits, else 5 (the PIN is never in the message).
  Answer EnterPin(int16_t ModemID, const std::string& pin);
  SignalQuality ReadSignal(int16_t ModemID);
  // +CREG?; when the modem gives no cell it is asked once more with
  // AT+CREG=2, and its own setting is put back.
  Registration ReadRegistration(int16_t ModemID);
  OperatorName ReadOperator(int16_t ModemID);
  ServiceCentre ReadServiceCentre(int16_t ModemID);
  StorageUse ReadStorageUse(int16_t ModemID);

  // Status reports for the tool's `send --wait-report`
  // (src/engine/report_routing.cpp).  RouteStatusReports sets AT+CNMI's <ds>
  // (and a <mode> that shows indications) keeping the modem's other values;
  // RestoreRouting puts back what it found.
  IndicationRouting RouteStatusReports(int16_t ModemID);
  Answer RestoreRouting(int16_t ModemID, const IndicationRouting& found);
  // The notices that arrive within timeout_ms (returns at the first ones;
  // those already taken out of replies come at once).
  std::vector<Indication> AwaitIndications(int16_t ModemID, uint32_t timeout_ms);
  // The PDU stored at `index` of `storage` (AT+CMGR with that storage made
  // the reading one for the while); deleted when remove(pdu) says so.
  Answer ReadStored(int16_t ModemID, const std::string& storage, int32_t index,
                    const std::function<bool(const std::string& pdu)>& remove);

  // Receiving, for a watcher that stays on the port (src/engine/receiving.cpp).
  // Each operation that names a storage selects it for reading ("AT+CPMS"),
  // runs its command and then gives the modem back the read storage it had,
  // so other programs find the selection as they left it.
  //
  // Every entry of `storage`, read or not ("AT+CMGL=4"), "INDEX" CR LF "PDU".
  Listing ListStorage(int16_t ModemID, const std::string& storage);
  // The PDU stored at `Index` of `storage` ("AT+CMGR"); "" for an empty place.
  Answer ReadStored(int16_t ModemID, const std::string& storage, int32_t Index);
  // Deletes the entry at `Index` of `storage` ("AT+CMGD").
  Answer DeleteStoredIn(int16_t ModemID, const std::string& storage, int32_t Index);
  // The storages the modem lists for reading ("AT+CPMS=?"), "SM,ME,SR".
  Answer ReadableStorages(int16_t ModemID);
  // Asks for +CMTI / +CDSI notices ("AT+CNMI"): the first of the modes the
  // modem offers ("AT+CNMI=?") that it also accepts, stored delivery only
  // (direct delivery loses a message nobody is listening for).  The value is
  // the mode set, "2,1,0,2,0".
  Answer EnableIndications(int16_t ModemID);
  // Waits on an idle port up to timeout_ms for bytes and files the notices
  // among them (TakeIndications); a notice cut in two waits for its rest.
  // True when a notice is waiting.  The port's errors (8012) pass through.
  bool WaitForIndication(int16_t ModemID, uint32_t timeout_ms);

 private:
  struct Impl;  // engine/tarvex_impl.h

  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvex
