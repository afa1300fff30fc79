#include "platform/serial_port_core.h"

#include <array>
#include <cctype>

#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

Error BadSettings(std::string_view text) {
  return Error(kInvalidPropertyValue,
               "Invalid property value: settings \"" + std::string(text) + "\"");
}

}  // namespace

LineSettings ParseSettings(std::string_view text) {
  std::array<std::string_view, 4> fields;
  size_t count = 0;
  for (size_t start = 0;; ++count) {
    const size_t comma = text.find(',', start);
    if (count == fields.size()) throw BadSettings(text);
    fields[count] = TrimBlanks(text.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  if (count != fields.size() - 1) throw BadSettings(text);
  const auto [baud, parity, data_bits, stop_bits] = fields;

  // Digits only: the control takes no sign, and nine of them are plenty.
  const WholeNumber rate = ParseWholeNumber(baud, 1, 999'999'999);
  if (rate.status != WholeNumber::kOk || baud.size() > 9 || baud[0] < '0' || baud[0] > '9') {
    throw BadSettings(text);
  }
  LineSettings line;
  line.baud = static_cast<uint32_t>(rate.value);
  if (parity.size() != 1) throw BadSettings(text);
  line.parity = static_cast<char>(std::tolower(static_cast<unsigned char>(parity[0])));
  if (std::string_view("neoms").find(line.parity) == std::string_view::npos) {
    throw BadSettings(text);
  }
  if (data_bits.size() != 1 || data_bits[0] < '5' || data_bits[0] > '8') throw BadSettings(text);
  line.data_bits = data_bits[0] - '0';
  if (stop_bits != "1" && stop_bits != "2") throw BadSettings(text);
  line.stop_bits = stop_bits[0] - '0';
  return line;
}

std::string FormatSettings(const LineSettings& line) {
  return std::to_string(line.baud) + "," + line.parity + "," + std::to_string(line.data_bits) +
         "," + std::to_string(line.stop_bits);
}

void SerialPortCore::SetCommPort(int16_t port) {
  if (PortOpen()) {
    throw Error(kPortOpenNotAllowed, "Operation not valid while the port is opened");
  }
  if (port < 1 || port > max_port_) {
    throw Error(kInvalidPortNumber, "Invalid port number " + std::to_string(port));
  }
  port_ = port;
}

void SerialPortCore::SetSettings(const std::string& settings) {
  const LineSettings line = ParseSettings(settings);
  if (!TakesRate(line.baud)) throw BadSettings(settings);
  if (PortOpen() && !Configure(line, handshaking_, rts_)) {
    throw Error(kInvalidPropertyValue,
                "Invalid property value: " + DeviceLabel() + " does not take \"" + settings + "\"");
  }
  line_ = line;
}

void SerialPortCore::SetHandshaking(int32_t mode) {
  if (mode < 0 || mode > 3 || (PortOpen() && !Configure(line_, mode, rts_))) {
    throw Error(kInvalidPropertyValue,
                "Invalid property value: handshaking " + std::to_string(mode));
  }
  handshaking_ = mode;
}

void SerialPortCore::SetRTSEnable(bool enable) {
  rts_ = enable;
  // Under RTS/CTS the driver owns the line; a device that refuses is left as
  // it is (ptys have no modem lines).
  if (PortOpen() && handshaking_ < 2) Configure(line_, handshaking_, rts_);
}

void SerialPortCore::SetPortOpen(bool open) {
  if (!open) {
    CloseDevice();
    pending_.clear();
    return;
  }
  if (PortOpen()) throw Error(kPortAlreadyOpen, "Port already open");
  OpenDevice();
}

void SerialPortCore::SetInputLen(int16_t length) {
  if (length < 0) {
    throw Error(kInvalidPropertyValue,
                "Invalid property value: input length " + std::to_string(length));
  }
  input_len_ = length;
}

void SerialPortCore::Output(std::string_view data) {
  CheckOpen();
  Write(data);
}

std::string SerialPortCore::Input() {
  CheckOpen();
  // A hang-up after some bytes: hand those over now, the next read raises.
  if (!Drain(pending_) && pending_.empty()) Vanished();
  std::string out;
  if (input_len_ > 0 && pending_.size() > static_cast<size_t>(input_len_)) {
    out = pending_.substr(0, static_cast<size_t>(input_len_));
    pending_.erase(0, static_cast<size_t>(input_len_));
  } else {
    out.swap(pending_);
  }
  return out;
}

bool SerialPortCore::WaitForInput(uint32_t timeout_ms) {
  CheckOpen();
  return !pending_.empty() || Wait(timeout_ms);
}

std::string SerialPortCore::DeviceLabel() const { return "COM" + std::to_string(port_); }

void SerialPortCore::Vanished() {
  const std::string label = DeviceLabel();
  SetPortOpen(false);
  throw Error(kPortNotOpen, "Port is not open: " + label + " went away");
}

void SerialPortCore::TakesNoOutput() const {
  throw Error(kPortNotOpen, "Port is not open: " + DeviceLabel() + " takes no output");
}

void SerialPortCore::CheckOpen() const {
  if (!PortOpen()) throw Error(kPortNotOpen, "Port is not open");
}

}  // namespace tarvex
