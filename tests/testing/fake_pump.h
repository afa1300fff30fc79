// FakePump: the host's message pump in a test.  Counts its passes and runs
// what the test put into OnEvents on each pass: that is how a test plays a
// host whose event handler calls the engine while a transaction waits, or a
// user who presses Ctrl-C (the handler throws).
#pragma once

#include <functional>
#include <utility>

#include "tarvex/message_pump.h"

namespace tarvex::testing {

class FakePump : public MessagePump {
 public:
  void DoEvents() override {
    ++passes_;
    if (on_events_) on_events_();
  }
  void OnEvents(std::function<void()> handler) { on_events_ = std::move(handler); }
  int Passes() const { return passes_; }

 private:
  std::function<void()> on_events_;
  int passes_ = 0;
};

}  // namespace tarvex::testing
