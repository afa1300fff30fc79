// ScriptedPort: a modem in a test.  The test lists the writes it expects the
// engine to make and the replies each one gets, in chunks it chooses; the
// port delivers one chunk per Input() call, records every write and every
// property the engine sets, and behaves like the serial control when it is
// opened, closed or hung up (errors 8000, 8005, 8012).
//
//   port.Expect("AT+CMGS=13\r").Reply("\r\n> ");
//   port.Expect(pdu + "\x1A").Reply("\r\n+CMGS: 7\r\n").Reply("\r\nOK\r\n");
//   port.Feed("\r\n+CMTI: \"SM\",3\r\n");   // waiting before the next command
//
// A write that does not match the next expectation gets no reply and is kept
// in UnexpectedWrites(), so a test sees what the engine wrote instead.  A
// reply may be held back (ReplyAfter) until the FakeClock reaches its time;
// WaitForInput moves the FakeClock forward to that time or by the whole wait,
// so a 30 s deadline passes in microseconds.  An Expect without replies is a
// silent modem.
//
// Not thread-safe: one test, one thread.  No test framework inside, so
// benchmarks can use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial_port.h"
#include "testing/fake_clock.h"

namespace tarvex::testing {

class ScriptedPort : public SerialPort {
 public:
  // Without a clock, held-back replies are ready at once and waits return at once.
  explicit ScriptedPort(FakeClock* clock = nullptr) : clock_(clock) {}

  // --- the script ----------------------------------------------------------
  // The next write the engine should make, byte for byte.
  ScriptedPort& Expect(std::string write);
  // The next write, whatever it holds (a PDU with a random reference); the
  // test reads it back from Writes().
  ScriptedPort& ExpectAnyWrite();
  // One chunk of the answer to the last expected write (or, before any
  // Expect, waiting at once).  Chunks arrive in the order given.
  ScriptedPort& Reply(std::string chunk);
  // A chunk that becomes readable delay_ms after the write it answers.
  ScriptedPort& ReplyAfter(uint32_t delay_ms, std::string chunk);
  // The whole text cut into chunks of n bytes (the last may be shorter).
  ScriptedPort& ReplyInChunks(std::string_view text, size_t n);
  // The device goes away when the last expected write arrives: from then on
  // every read, write and wait raises 8012, as for an unplugged USB modem.
  ScriptedPort& HangUp();

  // Bytes waiting on the port now, tied to no write: a late answer to an
  // earlier command, an unsolicited notice.
  void Feed(std::string chunk);
  void FeedAfter(uint32_t delay_ms, std::string chunk);

  // --- failure injection ---------------------------------------------------
  // The next SetPortOpen(true) raises this number (8002 no device, 8005 in use).
  void FailNextOpen(int32_t number) { fail_open_ = number; }
  // SetSettings raises 380 from now on (a rate the port cannot take).
  void RejectSettings() { reject_settings_ = true; }
  void HangUpNow() { hung_up_ = true; }

  // --- what happened -------------------------------------------------------
  const std::vector<std::string>& Writes() const { return writes_; }
  std::string Written() const;  // every write, joined
  const std::vector<std::string>& UnexpectedWrites() const { return unexpected_; }
  // Expected writes that have not been made yet.
  std::vector<std::string> MissingWrites() const;
  // "CommPort=3", "Settings=9600,n,8,1", "Handshaking=3", "RThreshold=0",
  // "SThreshold=0", "RTSEnable=0", "PortOpen=1" ... in the order set.
  const std::vector<std::string>& PropertyLog() const { return property_log_; }
  int32_t Handshaking() const { return handshaking_; }
  int16_t RThreshold() const { return rthreshold_; }
  int16_t SThreshold() const { return sthreshold_; }
  bool RTSEnable() const { return rts_enable_; }
  int16_t InputLen() const { return input_len_; }
  int Reads() const { return reads_; }
  size_t PendingBytes() const;
  void ClearLog();

  // --- SerialPort ----------------------------------------------------------
  void SetCommPort(int16_t port) override;
  int16_t CommPort() const override { return comm_port_; }
  void SetSettings(const std::string& settings) override;
  std::string Settings() const override { return settings_; }
  void SetHandshaking(int32_t mode) override;
  void SetRThreshold(int16_t threshold) override;
  void SetSThreshold(int16_t threshold) override;
  void SetRTSEnable(bool enable) override;
  void SetPortOpen(bool open) override;
  bool PortOpen() const override { return open_; }
  void SetInputLen(int16_t length) override;
  void Output(std::string_view data) override;
  std::string Input() override;
  bool WaitForInput(uint32_t timeout_ms) override;

 private:
  struct Chunk {
    uint32_t delay_ms = 0;
    std::string bytes;
  };
  struct Expectation {
    std::string write;
    bool any = false;
    std::vector<Chunk> replies;
    bool hang_up = false;
  };
  struct Pending {
    uint32_t ready_at = 0;
    std::string bytes;
  };

  uint32_t Now() const { return clock_ ? clock_->TickCount() : 0; }
  bool Ready(const Pending& p) const;
  void Queue(uint32_t delay_ms, std::string bytes);
  void CheckUsable() const;  // 8012 when closed or hung up
  void Log(std::string entry) { property_log_.push_back(std::move(entry)); }

  FakeClock* clock_;
  // Expectations in order; next_ is the first not yet met.  Reply() goes to
  // the last one while it is still unmet, otherwise straight to the input.
  std::vector<Expectation> script_;
  size_t next_ = 0;
  std::deque<Pending> input_;

  std::vector<std::string> writes_;
  std::vector<std::string> unexpected_;
  std::vector<std::string> property_log_;

  int16_t comm_port_ = 1;
  std::string settings_ = "9600,n,8,1";
  int32_t handshaking_ = 0;
  int16_t rthreshold_ = 0;
  int16_t sthreshold_ = 0;
  bool rts_enable_ = false;
  int16_t input_len_ = 0;
  bool open_ = false;
  bool hung_up_ = false;
  bool reject_settings_ = false;
  int32_t fail_open_ = 0;
  int reads_ = 0;
};

}  // namespace tarvex::testing
