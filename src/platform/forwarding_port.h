// ForwardingPort: a SerialPort that hands every call to the port it owns, the
// base of decorators (the tracing port, the tool's interruptible port), which
// override only what they add to.  Owns the inner port; used on the thread
// that uses the inner one; raises whatever the inner port raises.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "tarvex/serial_port.h"

namespace tarvex {

class ForwardingPort : public SerialPort {
 public:
  explicit ForwardingPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}

  void SetCommPort(int16_t port) override { inner_->SetCommPort(port); }
  int16_t CommPort() const override { return inner_->CommPort(); }
  void SetSettings(const std::string& settings) override { inner_->SetSettings(settings); }
  std::string Settings() const override { return inner_->Settings(); }
  void SetHandshaking(int32_t mode) override { inner_->SetHandshaking(mode); }
  void SetRThreshold(int16_t threshold) override { inner_->SetRThreshold(threshold); }
  void SetSThreshold(int16_t threshold) override { inner_->SetSThreshold(threshold); }
  void SetRTSEnable(bool enable) override { inner_->SetRTSEnable(enable); }
  void SetPortOpen(bool open) override { inner_->SetPortOpen(open); }
  bool PortOpen() const override { return inner_->PortOpen(); }
  void SetInputLen(int16_t length) override { inner_->SetInputLen(length); }
  void Output(std::string_view data) override { inner_->Output(data); }
  std::string Input() override { return inner_->Input(); }
  bool WaitForInput(uint32_t timeout_ms) override { return inner_->WaitForInput(timeout_ms); }

 protected:
  SerialPort& inner() { return *inner_; }

 private:
  std::unique_ptr<SerialPort> inner_;
};

}  // namespace tarvex
