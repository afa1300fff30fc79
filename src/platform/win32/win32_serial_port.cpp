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

#include "platform/win32/win32_platform.h"
#include "tarvex/error.h"

namespace tarvex::win32 {
namespace {

// A write that makes no progress for this long (flow control held off by a
// device that never raises CTS or sends XON) gives up instead of hanging the host.
constexpr DWORD kWriteStallMs = 30000;
// One WriteFile's bound, so the loop around it notices a stall.
constexpr DWORD kWriteSliceMs = 1000;
// How often a wait looks at the driver's queue.
constexpr DWORD kPollSliceMs = 10;

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

}  // namespace

Win32SerialPort::~Win32SerialPort() { CloseDevice(); }

bool Win32SerialPort::Configure(const LineSettings& line, int32_t handshaking, bool rts) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle_, &dcb)) return false;
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
  return SetCommState(handle_, &dcb) != 0;
}

void Win32SerialPort::CloseDevice() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
  if (claim_) CloseHandle(claim_);
  claim_ = nullptr;
}

void Win32SerialPort::OpenDevice() {
  const std::wstring name = L"COM" + std::to_wstring(CommPort());
  const std::string what = DeviceLabel();
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
  if (!Configure(line(), handshaking(), rts()) || !SetCommTimeouts(handle_, &timeouts)) {
    CloseDevice();
    throw Error(kInvalidPropertyValue,
                "Invalid property value: " + what + " does not take \"" + Settings() + "\"");
  }
  // Whatever the device sent before we opened it belongs to nobody.
  PurgeComm(handle_, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

void Win32SerialPort::Write(std::string_view data) {
  DWORD last_progress = GetTickCount();
  while (!data.empty()) {
    DWORD written = 0;
    const auto chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 20));
    if (!WriteFile(handle_, data.data(), chunk, &written, nullptr)) Vanished();
    if (written > 0) {
      data.remove_prefix(written);
      last_progress = GetTickCount();
    } else if (GetTickCount() - last_progress >= kWriteStallMs) {
      TakesNoOutput();
    }
  }
}

bool Win32SerialPort::Drain(std::string& pending) {
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
    pending.append(chunk, got);
  }
}

bool Win32SerialPort::Wait(uint32_t timeout_ms) {
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
