// ScriptedPort: a modem in a test.  The test lists the writes it expects the
// engine to make and the reply chunks each one gets; the port delivers one
// chunk per Input() call, records every write and every property set, and
// raises the serial control's errors when closed or hung up (8000, 8005, 8012).
//
//   port.Expect("AT+CMGS=13\r").Reply("\r\n> ");
//   port.Expect(pdu + "\x1A").Reply("\r\n+CMGS: 7\r\n").Reply("\r\nOK\r\n");
//
// A write that does not match the next expectation gets no reply and is kept
// in UnexpectedWrites().  A chunk may be held back (ReplyAfter) until the
// FakeClock reaches its time; WaitForInput moves the clock forward to that
// time or by the whole wait, so a 30 s deadline passes in microseconds.  An
// Expect without replies is a silent modem.
//
// Not thread-safe.  No test framework inside, so benchmarks can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tarvex/serial_port.h"
#include "testing/fake_clock.h"

namespace tarvex::testing {

class ScriptedPort : public SerialPort {
 public:
  // Without a clock, held-back replies are ready at once and waits return at once.
  explicit ScriptedPort(FakeClock* clock = nullptr) : clock_(clock) {}

  ScriptedPort& Expect(std::string write) {
    script_.push_back({std::move(write)});
    return *this;
  }
  // The next write, whatever it holds (a PDU with a random reference).
  ScriptedPort& ExpectAnyWrite() {
    script_.push_back({"<any write>", true});
    return *this;
  }
  // One chunk of the answer to the last expected write (before any unmet
  // Expect: input waiting at once).
  ScriptedPort& Reply(std::string chunk) { return ReplyAfter(0, std::move(chunk)); }
  ScriptedPort& ReplyAfter(uint32_t delay_ms, std::string chunk);
  ScriptedPort& ReplyInChunks(std::string_view text, size_t n);
  // The device goes away when the last expected write arrives: every later
  // read, write and wait raises 8012, as for an unplugged USB modem.
  ScriptedPort& HangUp();
  // Bytes waiting on the port now, tied to no write.
  void Feed(std::string chunk) { Queue(0, std::move(chunk)); }

  // The next SetPortOpen(true) raises this number.
  void FailNextOpen(int32_t number) { fail_open_ = number; }
  // SetSettings raises 380 from now on.
  void RejectSettings() { reject_settings_ = true; }

  const std::vector<std::string>& Writes() const { return writes_; }
  const std::vector<std::string>& UnexpectedWrites() const { return unexpected_; }
  std::vector<std::string> MissingWrites() const;
  // "CommPort=3", "Settings=9600,n,8,1", "PortOpen=1" ... in the order set.
  const std::vector<std::string>& PropertyLog() const { return property_log_; }
  int16_t InputLen() const { return input_len_; }
  int Reads() const { return reads_; }
  void ClearLog() {
    writes_.clear();
    unexpected_.clear();
    property_log_.clear();
    reads_ = 0;
  }

  void SetCommPort(int16_t port) override;
  int16_t CommPort() const override { return comm_port_; }
  void SetSettings(const std::string& settings) override;
  std::string Settings() const override { return settings_; }
  void SetHandshaking(int32_t mode) override { Log("Handshaking=", mode); }
  void SetRThreshold(int16_t threshold) override { Log("RThreshold=", threshold); }
  void SetSThreshold(int16_t threshold) override { Log("SThreshold=", threshold); }
  void SetRTSEnable(bool enable) override { Log("RTSEnable=", enable); }
  void SetPortOpen(bool open) override;
  bool PortOpen() const override { return open_; }
  void SetInputLen(int16_t length) override { input_len_ = length; }
  void Output(std::string_view data) override;
  std::string Input() override;
  bool WaitForInput(uint32_t timeout_ms) override;

 private:
  struct Pending {
    uint32_t at = 0;  // a delay while scripted, a tick once queued
    std::string bytes;
  };
  struct Expectation {
    std::string write;
    bool any = false;
    std::vector<Pending> replies = {};
    bool hang_up = false;
  };

  uint32_t Now() const { return clock_ ? clock_->TickCount() : 0; }
  // Wrap-safe "now is at or past the chunk's tick".
  bool Ready() const {
    return !input_.empty() && static_cast<int32_t>(Now() - input_.front().at) >= 0;
  }
  void Queue(uint32_t delay_ms, std::string bytes) {
    input_.push_back({Now() + delay_ms, std::move(bytes)});
  }
  void CheckUsable() const;
  void Log(const char* name, int64_t value) {
    property_log_.push_back(name + std::to_string(value));
  }

  FakeClock* clock_;
  std::vector<Expectation> script_;
  size_t next_ = 0;  // the first expectation not yet met
  std::deque<Pending> input_;

  std::vector<std::string> writes_, unexpected_, property_log_;
  int16_t comm_port_ = 1;
  std::string settings_ = "9600,n,8,1";
  int16_t input_len_ = 0;
  bool open_ = false, hung_up_ = false, reject_settings_ = false;
  int32_t fail_open_ = 0;
  int reads_ = 0;
};

}  // namespace tarvex::testing
