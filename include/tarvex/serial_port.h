// What the engine needs of one serial port: the roles of the classic serial
// communications control (port number, line settings, handshaking, thresholds,
// RTS line, open state, input length, output, input) plus a bounded wait for
// input, so a transaction can sleep on the port instead of spinning.
//
// One object per modem slot, owned by the engine, used on the host's thread
// only.  Every failure is a tarvex::Error with the control's customary number:
// 8000 changing the port number while open, 8002 invalid port number, 8005
// port already open / in use, 8012 I/O on a closed port, 380 a line setting
// or rate the port does not support.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  // The system's n-th serial device (3 is COM3).  Raises 8000 while open.
  virtual void SetCommPort(int16_t port) = 0;
  virtual int16_t CommPort() const = 0;

  // "<baud>,<parity>,<data bits>,<stop bits>", e.g. "115200,n,8,1".  Raises 380
  // for a text or rate the port cannot take.
  virtual void SetSettings(const std::string& settings) = 0;
  virtual std::string Settings() const = 0;

  // 0 none, 1 XON/XOFF, 2 RTS/CTS, 3 both.
  virtual void SetHandshaking(int32_t mode) = 0;
  // 0 switches the receive / send notifications off (the engine only polls).
  virtual void SetRThreshold(int16_t threshold) = 0;
  virtual void SetSThreshold(int16_t threshold) = 0;
  virtual void SetRTSEnable(bool enable) = 0;

  // True opens the device with the settings above (8002 no such device, 8005
  // in use or already open); False closes it (closing a closed port is fine).
  virtual void SetPortOpen(bool open) = 0;
  virtual bool PortOpen() const = 0;

  // 0: every Input() returns everything waiting.
  virtual void SetInputLen(int16_t length) = 0;

  // Sends the bytes in order, at once.  Raises 8012 when closed.
  virtual void Output(std::string_view data) = 0;
  // Returns and removes what is waiting ("" when nothing).  Raises 8012 when
  // closed (also when the device went away under an open port).
  virtual std::string Input() = 0;

  // Blocks until input is waiting or timeout_ms passed; true when input is
  // waiting.  Raises 8012 when closed.
  virtual bool WaitForInput(uint32_t timeout_ms) = 0;
};

}  // namespace tarvex
