// The serial-port object's roles, kept once for every platform: the port
// number, the line settings and their grammar, handshaking, the thresholds,
// RTS, the input length, the bytes read but not yet handed out, the open check
// and the errors with the serial control's numbers.  A platform's port derives
// from SerialPortCore and supplies only what touches the device: open, close,
// configure, drain, write and wait (termios in posix/, a comm handle in win32/).
//
// One object per modem slot, owned by the engine and used on the host's thread
// only, as every SerialPort.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "tarvex/serial_port.h"

namespace tarvex {

struct LineSettings {
  uint32_t baud = 9600;
  char parity = 'n';  // n e o m s
  int data_bits = 8;  // 5 to 8
  int stop_bits = 1;  // 1 or 2
};

// "<baud>,<parity>,<data bits>,<stop bits>", blanks allowed around each field:
// a rate of 1 to 9 decimal digits (not 0), one of n e o m s in either case,
// 5 to 8, 1 or 2.  Raises 380 for anything else; whether a device runs the
// rate is the platform's to say.
LineSettings ParseSettings(std::string_view text);
// The canonical text, "9600,n,8,1".
std::string FormatSettings(const LineSettings& line);

class SerialPortCore : public SerialPort {
 public:
  void SetCommPort(int16_t port) final;
  int16_t CommPort() const final { return port_; }
  void SetSettings(const std::string& settings) final;
  std::string Settings() const final { return FormatSettings(line_); }
  void SetHandshaking(int32_t mode) final;
  void SetRThreshold(int16_t threshold) final { rthreshold_ = threshold; }
  void SetSThreshold(int16_t threshold) final { sthreshold_ = threshold; }
  void SetRTSEnable(bool enable) final;
  void SetPortOpen(bool open) final;
  void SetInputLen(int16_t length) final;
  void Output(std::string_view data) final;
  std::string Input() final;
  bool WaitForInput(uint32_t timeout_ms) final;

 protected:
  // `max_port`: the highest number the platform can name.
  explicit SerialPortCore(int16_t max_port = std::numeric_limits<int16_t>::max())
      : max_port_(max_port) {}

  const LineSettings& line() const { return line_; }
  int32_t handshaking() const { return handshaking_; }
  bool rts() const { return rts_; }

  // Opens port CommPort() with line(), handshaking() and rts() and drops what
  // the device sent before.  Raises 8002 (no such device), 8005 (in use) or 380
  // (the device refuses the settings), and then leaves the port closed.
  virtual void OpenDevice() = 0;
  // Never fails; closing a closed port is fine.
  virtual void CloseDevice() = 0;
  // Pushes the settings to the open device; false when it refuses them (it
  // then keeps what it had).
  virtual bool Configure(const LineSettings& line, int32_t handshaking, bool rts) = 0;
  // Whether the platform can run `baud` at all; asked whether open or not.
  virtual bool TakesRate(uint32_t /*baud*/) const { return true; }
  // Appends what the device holds to `pending`; false when the device went away.
  virtual bool Drain(std::string& pending) = 0;
  // Writes every byte in order.  Raises 8012 when the device went away
  // (through Vanished) or takes nothing for too long (TakesNoOutput).
  virtual void Write(std::string_view data) = 0;
  // Blocks until input is waiting, the device hangs up, or timeout_ms passed;
  // true unless it timed out.  A platform may also end the wait early for the
  // host's sake (a window message, a signal) and say false.
  virtual bool Wait(uint32_t timeout_ms) = 0;
  // How messages name the device ("COM3" unless the platform knows better).
  virtual std::string DeviceLabel() const;

  // Closes the port after the device went away and raises 8012.
  [[noreturn]] void Vanished();
  // Raises 8012 for a device that holds its output back (flow control that
  // never releases).
  [[noreturn]] void TakesNoOutput() const;

 private:
  void CheckOpen() const;

  const int16_t max_port_;
  int16_t port_ = 1;
  LineSettings line_;
  int32_t handshaking_ = 0;
  int16_t rthreshold_ = 0;
  int16_t sthreshold_ = 0;
  int16_t input_len_ = 0;
  bool rts_ = false;
  std::string pending_;  // read but not yet handed out (InputLen > 0)
};

}  // namespace tarvex
