#include "testing/scripted_port.h"

#include <algorithm>
#include <utility>

#include "common/error.h"

namespace tarvex::testing {

ScriptedPort& ScriptedPort::Expect(std::string write) {
  script_.push_back(Expectation{std::move(write), false, {}, false});
  return *this;
}

ScriptedPort& ScriptedPort::ExpectAnyWrite() {
  script_.push_back(Expectation{"<any write>", true, {}, false});
  return *this;
}

ScriptedPort& ScriptedPort::Reply(std::string chunk) { return ReplyAfter(0, std::move(chunk)); }

ScriptedPort& ScriptedPort::ReplyAfter(uint32_t delay_ms, std::string chunk) {
  if (next_ < script_.size()) {
    script_.back().replies.push_back(Chunk{delay_ms, std::move(chunk)});
  } else {
    Queue(delay_ms, std::move(chunk));
  }
  return *this;
}

ScriptedPort& ScriptedPort::ReplyInChunks(std::string_view text, size_t n) {
  n = std::max<size_t>(n, 1);
  for (size_t i = 0; i < text.size(); i += n) Reply(std::string(text.substr(i, n)));
  return *this;
}

ScriptedPort& ScriptedPort::HangUp() {
  if (next_ < script_.size()) {
    script_.back().hang_up = true;
  } else {
    hung_up_ = true;
  }
  return *this;
}

void ScriptedPort::Feed(std::string chunk) { Queue(0, std::move(chunk)); }

void ScriptedPort::FeedAfter(uint32_t delay_ms, std::string chunk) {
  Queue(delay_ms, std::move(chunk));
}

void ScriptedPort::Queue(uint32_t delay_ms, std::string bytes) {
  input_.push_back(Pending{Now() + delay_ms, std::move(bytes)});
}

bool ScriptedPort::Ready(const Pending& p) const {
  // Wrap-safe: "now is at or past ready_at" on a 32-bit tick.
  return static_cast<int32_t>(Now() - p.ready_at) >= 0;
}

std::string ScriptedPort::Written() const {
  std::string all;
  for (const auto& w : writes_) all += w;
  return all;
}

std::vector<std::string> ScriptedPort::MissingWrites() const {
  std::vector<std::string> missing;
  for (size_t i = next_; i < script_.size(); ++i) missing.push_back(script_[i].write);
  return missing;
}

size_t ScriptedPort::PendingBytes() const {
  size_t n = 0;
  for (const auto& p : input_) n += p.bytes.size();
  return n;
}

void ScriptedPort::ClearLog() {
  writes_.clear();
  unexpected_.clear();
  property_log_.clear();
  reads_ = 0;
}

void ScriptedPort::CheckUsable() const {
  if (!open_ || hung_up_) throw Error(kPortNotOpen, "Port is not open");
}

void ScriptedPort::SetCommPort(int16_t port) {
  if (open_) throw Error(kPortOpenNotAllowed, "Operation not valid while the port is opened");
  if (port < 1) throw Error(kInvalidPortNumber, "Invalid port number");
  comm_port_ = port;
  Log("CommPort=" + std::to_string(port));
}

void ScriptedPort::SetSettings(const std::string& settings) {
  if (reject_settings_) throw Error(kInvalidPropertyValue, "Invalid property value");
  settings_ = settings;
  Log("Settings=" + settings);
}

void ScriptedPort::SetHandshaking(int32_t mode) {
  handshaking_ = mode;
  Log("Handshaking=" + std::to_string(mode));
}

void ScriptedPort::SetRThreshold(int16_t threshold) {
  rthreshold_ = threshold;
  Log("RThreshold=" + std::to_string(threshold));
}

void ScriptedPort::SetSThreshold(int16_t threshold) {
  sthreshold_ = threshold;
  Log("SThreshold=" + std::to_string(threshold));
}

void ScriptedPort::SetRTSEnable(bool enable) {
  rts_enable_ = enable;
  Log(std::string("RTSEnable=") + (enable ? "1" : "0"));
}

void ScriptedPort::SetPortOpen(bool open) {
  if (open) {
    if (open_) throw Error(kPortAlreadyOpen, "Port already open");
    if (fail_open_ != 0) {
      const int32_t number = fail_open_;
      fail_open_ = 0;
      throw Error(number, "Cannot open the port");
    }
    open_ = true;
    hung_up_ = false;
  } else {
    open_ = false;
    input_.clear();  // closing a port discards what it had received
  }
  Log(std::string("PortOpen=") + (open ? "1" : "0"));
}

void ScriptedPort::SetInputLen(int16_t length) { input_len_ = length; }

void ScriptedPort::Output(std::string_view data) {
  CheckUsable();
  writes_.emplace_back(data);
  if (next_ >= script_.size() || (!script_[next_].any && script_[next_].write != data)) {
    unexpected_.emplace_back(data);
    return;
  }
  Expectation& met = script_[next_++];
  for (auto& chunk : met.replies) Queue(chunk.delay_ms, std::move(chunk.bytes));
  if (met.hang_up) hung_up_ = true;
}

std::string ScriptedPort::Input() {
  CheckUsable();
  ++reads_;
  if (input_.empty() || !Ready(input_.front())) return "";
  Pending& front = input_.front();
  if (input_len_ > 0 && front.bytes.size() > static_cast<size_t>(input_len_)) {
    std::string part = front.bytes.substr(0, static_cast<size_t>(input_len_));
    front.bytes.erase(0, static_cast<size_t>(input_len_));
    return part;
  }
  std::string bytes = std::move(front.bytes);
  input_.pop_front();
  return bytes;
}

bool ScriptedPort::WaitForInput(uint32_t timeout_ms) {
  CheckUsable();
  if (!input_.empty() && Ready(input_.front())) return true;
  if (clock_ == nullptr) return false;
  if (!input_.empty()) {
    const uint32_t until_ready = input_.front().ready_at - Now();
    if (until_ready <= timeout_ms) {
      clock_->Advance(until_ready);
      return true;
    }
  }
  clock_->Advance(timeout_ms);
  return false;
}

}  // namespace tarvex::testing
