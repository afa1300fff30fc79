#include "platform/tracing_port.h"

#include <cstdio>
#include <utility>

namespace tarvex {

std::string Printable(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case 26:
        out += "<Ctrl-Z>";
        break;
      case 27:
        out += "<Esc>";
        break;
      default:
        if (c < 32 || c == 127) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

TracingPort::TracingPort(std::unique_ptr<SerialPort> inner, std::ostream& out,
                         std::function<std::string()> device, Mask mask)
    : ForwardingPort(std::move(inner)),
      out_(out),
      device_(std::move(device)),
      mask_(std::move(mask)) {}

std::string TracingPort::Shown(std::string_view data) const {
  return mask_ ? Printable(mask_(data)) : Printable(data);
}

void TracingPort::SetPortOpen(bool open) {
  ForwardingPort::SetPortOpen(open);
  if (!open) return;
  out_ << "-- opened " << (device_ ? device_() : "port " + std::to_string(CommPort())) << "\n";
}

void TracingPort::Output(std::string_view data) {
  out_ << ">> " << Shown(data) << "\n";
  ForwardingPort::Output(data);
}

std::string TracingPort::Input() {
  std::string data = ForwardingPort::Input();
  if (!data.empty()) out_ << "<< " << Shown(data) << "\n";
  return data;
}

}  // namespace tarvex
