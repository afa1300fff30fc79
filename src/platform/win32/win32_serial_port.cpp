// The serial port on a Win32 comm handle (\\.\COMn, synchronous I/O).
//
// Reads never block: the timeouts make ReadFile return at once with what the
// driver holds (ReadIntervalTimeout = MAXDWORD, the totals 0).  A device that
// went away shows as ClearCommError failing (a pulled USB adapter; under Wine
// a pty whose other end closed gives ERROR_NOT_READY while ReadFile still
// "succeeds" with 0 bytes), so that is the test for a hang-up.
//
// Waiting for input polls the driver's queue in short slices between waits on
// the thread's message queue.  WaitCommEvent(EV_RXCHAR) on an overlapped
// handle would wake exactly when a byte arrives, but under Wine 8.0 on a pty
// it completes about 2 ms after every call with ERROR_OPERATION_ABORTED and no
// event, with or without input, so it cannot be relied on; a 10 ms slice costs
// nothing next to a modem's reply time.
//
// DTR and RTS go through the DCB, never EscapeCommFunction alone: on a Wine pty
// EscapeCommFunction and GetCommModemStatus fail with error 50, while
// SetCommState with the same lines succeeds.
#include <algorithm>
#include <cctype>

#include "platform/win32/win32_platform.h"
#include "tarvex/error.h"

namespace tarvex::win32 {
namespace {

// A write that makes no progress for this long (flow control held off by a
// device that never raises CTS or sends XON) gives up instead of hanging the host.
constexpr DWORD kWriteStallMs = 30000;
// One WriteFile's bound, so the loop around it notices a stall.
constexpr DWORD kWriteSliceMs = 1000;
// How often WaitForInput looks at the driver's queue.
constexpr DWORD kPollSliceMs = 10;
// The classic control's port numbers.
constexpr int16_t kMaxPort = 255;

struct LineSettings {
  DWORD baud = 9600;
  char parity = 'n';  // n e o m s
  int data_bits = 8;  // 5 to 8
  int stop_bits = 1;  // 1 or 2
};

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

Error BadSettings(const std::string& text) {
  return Error(kInvalidPropertyValue, "Invalid property value: settings \"" + text + "\"");
}

// The same grammar as the Linux port's, except that any positive rate passes
// here: whether the device takes it is the driver's to say at SetCommState.
LineSettings ParseSettings(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    parts.push_back(Trim(text.substr(start, comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() != 4) throw BadSettings(text);
  LineSettings line;
  const std::string& baud = parts[0];
  if (baud.empty() || baud.size() > 9 ||
      !std::all_of(baud.begin(), baud.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw BadSettings(text);
  }
  line.baud = static_cast<DWORD>(std::stoul(baud));
  if (line.baud == 0) throw BadSettings(text);
  if (parts[1].size() != 1) throw BadSettings(text);
  line.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(parts[1][0])));
  if (std::string_view("neoms").find(line.parity) == std::string_view::npos) {
    throw BadSettings(text);
  }
  if (parts[2].size() != 1 || parts[2][0] < '5' || parts[2][0] > '8') throw BadSettings(text);
  line.data_bits = parts[2][0] - '0';
  if (parts[3] != "1" && parts[3] != "2") throw BadSettings(text);
  line.stop_bits = parts[3][0] - '0';
  return line;
}

std::string Format(const LineSettings& line) {
  return std::to_string(line.baud) + "," + line.parity + "," + std::to_string(line.data_bits) +
         "," + std::to_string(line.stop_bits);
}

BYTE ParityCode(char parity) {
  switch (parity) {
    case 'e':
      return EVENPARITY;
    case 'o':
      return ODDPARITY;
    case 'm':
      return MARKPARITY;
    case 's':
      return SPACEPARITY;
    default:
      return NOPARITY;
  }
}

// Pushes line settings, handshaking and RTS to the device; false when the
// driver refuses them (the device keeps what it had).
bool ApplyLine(HANDLE handle, const LineSettings& line, int32_t handshaking, bool rts) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return false;
  const bool software = handshaking == 1 || handshaking == 3;
  const bool hardware = handshaking >= 2;
  dcb.BaudRate = line.baud;
  dcb.ByteSize = static_cast<BYTE>(line.data_bits);
  dcb.Parity = ParityCode(line.parity);
  dcb.fParity = line.parity != 'n';
  dcb.StopBits = line.stop_bits == 2 ? TWOSTOPBITS : ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fOutxCtsFlow = hardware;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  // Modems ignore a terminal that holds DTR low; the Linux port raises it too.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  // Under RTS/CTS the driver owns RTS: it lowers RTS when its input buffer
  // fills.  Holding RTS off there would stop the modem from ever answering, and
  // holding it on would defeat the flow control, so RTSEnable counts only
  // without hardware handshaking (as the classic control documents).
  dcb.fRtsControl =
      hardware ? RTS_CONTROL_HANDSHAKE : (rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
  dcb.fOutX = software;
  dcb.fInX = software;
  dcb.fTXContinueOnXoff = TRUE;
  // Drivers refuse a DCB whose two characters are equal, and some report 0 for both.
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  // With abort on error every read and write would fail until ClearCommError.
  dcb.fAbortOnError = FALSE;
  return SetCommState(handle, &dcb) != 0;
}

}  // namespace

Win32SerialPort::~Win32SerialPort() { Close(); }

void Win32SerialPort::SetCommPort(int16_t port) {
  if (PortOpen()) {
    throw Error(kPortOpenNotAllowed, "Operation not valid while the port is opened");
  }
  if (port < 1 || port > kMaxPort) {
    throw Error(kInvalidPortNumber, "Invalid port number " + std::to_string(port));
  }
  port_ = port;
}

void Win32SerialPort::SetSettings(const std::string& settings) {
  const LineSettings line = ParseSettings(settings);
  if (PortOpen() && !ApplyLine(handle_, line, handshaking_, rts_)) {
    throw Error(kInvalidPropertyValue, "Invalid property value: COM" + std::to_string(port_) +
                                           " does not take \"" + settings + "\"");
  }
  settings_ = Format(line);
}

void Win32SerialPort::SetHandshaking(int32_t mode) {
  if (mode < 0 || mode > 3 ||
      (PortOpen() && !ApplyLine(handle_, ParseSettings(settings_), mode, rts_))) {
    throw Error(kInvalidPropertyValue,
                "Invalid property value: handshaking " + std::to_string(mode));
  }
  handshaking_ = mode;
}

void Win32SerialPort::SetRThreshold(int16_t threshold) { rthreshold_ = threshold; }

void Win32SerialPort::SetSThreshold(int16_t threshold) { sthreshold_ = threshold; }

void Win32SerialPort::SetRTSEnable(bool enable) {
  rts_ = enable;
  // A device that refuses is left as it is, as the Linux port does.
  if (PortOpen() && handshaking_ < 2) {
    ApplyLine(handle_, ParseSettings(settings_), handshaking_, rts_);
  }
}

void Win32SerialPort::SetInputLen(int16_t length) {
  if (length < 0) {
    throw Error(kInvalidPropertyValue,
                "Invalid property value: input length " + std::to_string(length));
  }
  input_len_ = length;
}

void Win32SerialPort::Close() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (claim_) CloseHandle(claim_);
  claim_ = nullptr;
  pending_.clear();
}

void Win32SerialPort::SetPortOpen(bool open) {
  if (!open) {
    Close();
    return;
  }
  if (PortOpen()) throw Error(kPortAlreadyOpen, "Port already open");

  const std::wstring name = L"COM" + std::to_wstring(port_);
  const std::string what = "COM" + std::to_string(port_);
  HANDLE handle = CreateFileW((L"\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD err = GetLastError();
    if (err == ERROR_ACCESS_DENIED || err == ERROR_SHARING_VIOLATION || err == ERROR_BUSY) {
      throw Error(kPortAlreadyOpen, "Port already open: " + what + " is in use");
    }
    throw Error(kInvalidPortNumber, "Invalid port number: " + what + " cannot be opened (error " +
                                        std::to_string(err) + ")");
  }
  // Windows refuses a second opener of a COM device by itself; Wine does not,
  // so the port also claims a machine-wide name.  Another user's claim is
  // invisible to us and shows as access denied: in use either way.
  HANDLE claim = CreateMutexW(nullptr, FALSE, (L"Global\\Tarvex.SerialPort." + name).c_str());
  if (!claim || GetLastError() == ERROR_ALREADY_EXISTS) {
    if (claim) CloseHandle(claim);
    CloseHandle(handle);
    throw Error(kPortAlreadyOpen, "Port already open: " + what + " is in use");
  }
  DCB probe{};
  probe.DCBlength = sizeof probe;
  if (!GetCommState(handle, &probe)) {
    CloseHandle(claim);
    CloseHandle(handle);
    throw Error(kInvalidPortNumber, "Invalid port number: " + what + " is not a serial device");
  }
  handle_ = handle;
  claim_ = claim;
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = kWriteSliceMs;
  if (!ApplyLine(handle_, ParseSettings(settings_), handshaking_, rts_) ||
      !SetCommTimeouts(handle_, &timeouts)) {
    Close();
    throw Error(kInvalidPropertyValue,
                "Invalid property value: " + what + " does not take \"" + settings_ + "\"");
  }
  // Whatever the device sent before we opened it belongs to nobody.
  PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

void Win32SerialPort::CheckOpen() const {
  if (!PortOpen()) throw Error(kPortNotOpen, "Port is not open");
}

void Win32SerialPort::Vanished() {
  Close();
  throw Error(kPortNotOpen, "Port is not open: COM" + std::to_string(port_) + " went away");
}

void Win32SerialPort::Output(std::string_view data) {
  CheckOpen();
  DWORD last_progress = GetTickCount();
  while (!data.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 20));
    if (!WriteFile(handle_, data.data(), chunk, &written, nullptr)) Vanished();
    if (written > 0) {
      data.remove_prefix(written);
      last_progress = GetTickCount();
    } else if (GetTickCount() - last_progress >= kWriteStallMs) {
      throw Error(kPortNotOpen,
                  "Port is not open: COM" + std::to_string(port_) + " takes no output");
    }
  }
}

bool Win32SerialPort::Drain() {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &errors, &status)) return false;
  if (status.cbInQue == 0) return true;
  // The timeouts make ReadFile return at once, so this ends when the driver's
  // queue is empty.
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(handle_, chunk, sizeof chunk, &got, nullptr)) return false;
    if (got == 0) return true;
    pending_.append(chunk, got);
  }
}

std::string Win32SerialPort::Input() {
  CheckOpen();
  if (!Drain() && pending_.empty()) Vanished();
  // A hang-up after some bytes: hand those over now, the next read raises.
  std::string out;
  if (input_len_ > 0 && pending_.size() > static_cast<size_t>(input_len_)) {
    out = pending_.substr(0, static_cast<size_t>(input_len_));
    pending_.erase(0, static_cast<size_t>(input_len_));
  } else {
    out.swap(pending_);
  }
  return out;
}

bool Win32SerialPort::WaitForInput(uint32_t timeout_ms) {
  CheckOpen();
  if (!pending_.empty()) return true;
  const DWORD start = GetTickCount();
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    // A device that went away wakes the waiter; the next Input() reports it.
    if (!ClearCommError(handle_, &errors, &status) || status.cbInQue > 0) return true;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout_ms) return false;
    // MWMO_INPUTAVAILABLE: a message the host has already peeked at but left
    // in the queue still counts, or the wait would sit on it until the timeout.
    const DWORD slice = std::min<DWORD>(kPollSliceMs, timeout_ms - elapsed);
    if (MsgWaitForMultipleObjectsEx(0, nullptr, slice, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
        WAIT_OBJECT_0) {
      return ClearCommError(handle_, &errors, &status) && status.cbInQue > 0;
    }
  }
}

}  // namespace tarvex::win32
