#include "testing/scripted_port.h"

#include <algorithm>
#include <utility>

#include "tarvex/error.h"

namespace tarvex::testing {

// Every builder below applies to the last expected write while one is unmet,
// and to the port as it is now otherwise.
ScriptedPort& ScriptedPort::ReplyAfter(uint32_t delay_ms, std::string chunk) {
  if (next_ < script_.size()) {
    script_.back().replies.push_back({delay_ms, std::move(chunk)});
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
  (next_ < script_.size() ? script_.back().hang_up : hung_up_) = true;
  return *this;
}

std::vector<std::string> ScriptedPort::MissingWrites() const {
  std::vector<std::string> missing;
  for (size_t i = next_; i < script_.size(); ++i) missing.push_back(script_[i].write);
  return missing;
}

void ScriptedPort::CheckUsable() const {
  if (!open_ || hung_up_) throw Error(kPortNotOpen, "Port is not open");
}

void ScriptedPort::SetCommPort(int16_t port) {
  if (open_) throw Error(kPortOpenNotAllowed, "Operation not valid while the port is opened");
  if (port < 1) throw Error(kInvalidPortNumber, "Invalid port number");
  comm_port_ = port;
  Log("CommPort=", port);
}

void ScriptedPort::SetSettings(const std::string& settings) {
  if (reject_settings_) throw Error(kInvalidPropertyValue, "Invalid property value");
  settings_ = settings;
  property_log_.push_back("Settings=" + settings);
}

void ScriptedPort::SetPortOpen(bool open) {
  if (open && open_) throw Error(kPortAlreadyOpen, "Port already open");
  if (open && fail_open_) throw Error(std::exchange(fail_open_, 0), "Cannot open the port");
  if (open) hung_up_ = false;
  if (!open) input_.clear();  // closing a port discards what it had received
  open_ = open;
  Log("PortOpen=", open);
}

void ScriptedPort::Output(std::string_view data) {
  CheckUsable();
  writes_.emplace_back(data);
  if (next_ >= script_.size() || (!script_[next_].any && script_[next_].write != data)) {
    unexpected_.emplace_back(data);
    return;
  }
  Expectation& met = script_[next_++];
  for (auto& chunk : met.replies) Queue(chunk.at, std::move(chunk.bytes));
  hung_up_ = hung_up_ || met.hang_up;
}

std::string ScriptedPort::Input() {
  CheckUsable();
  ++reads_;
  if (!Ready()) return "";
  std::string bytes = std::move(input_.front().bytes);
  input_.pop_front();
  return bytes;
}

bool ScriptedPort::WaitForInput(uint32_t timeout_ms) {
  CheckUsable();
  if (Ready()) return true;
  if (clock_ == nullptr) return false;
  const bool due = !input_.empty() && input_.front().at - Now() <= timeout_ms;
  clock_->Advance(due ? input_.front().at - Now() : timeout_ms);
  return due;
}

}  // namespace tarvex::testing
