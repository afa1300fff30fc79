// TracingPort: a serial port that writes the AT dialogue going through it to
// a stream, for anything that offers a --trace: ">> " and what was written,
// "<< " and what was read, "-- opened " and the device, one line each, with
// control bytes made visible ("\r", "<Ctrl-Z>", "\x07").
//
// Decorates the port it owns and changes nothing that passes; used on that
// port's thread.  The stream belongs to the caller and must outlive the port.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/forwarding_port.h"

namespace tarvex {

class TracingPort : public ForwardingPort {
 public:
  // `device` names what was opened for the "-- opened" line (a device path);
  // without it the line names the port number.  `mask`, when given, rewrites
  // what is shown (never what passes), so that secrets such as a PIN stay
  // out of the trace.
  using Mask = std::function<std::string(std::string_view)>;
  TracingPort(std::unique_ptr<SerialPort> inner, std::ostream& out,
              std::function<std::string()> device = {}, Mask mask = {});

  void SetPortOpen(bool open) override;
  void Output(std::string_view data) override;
  std::string Input() override;

 private:
  std::ostream& out_;
  std::function<std::string()> device_;
  Mask mask_;

  std::string Shown(std::string_view data) const;
};

// The bytes as one printable line: CR, LF, Ctrl-Z and Esc by name, other
// control bytes and DEL in hex.
std::string Printable(std::string_view bytes);

}  // namespace tarvex
