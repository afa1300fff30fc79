// One pass of the host's pending events, run between two polls of a waiting
// transaction (never during modem initialisation).  A host that has no event
// loop sets nothing; the engine then does nothing between polls.
#pragma once

namespace tarvex {

class MessagePump {
 public:
  virtual ~MessagePump() = default;
  // May throw (the tool throws kInterrupted on Ctrl-C); the engine lets the
  // error through after leaving the slot in a usable state.
  virtual void DoEvents() = 0;
};

}  // namespace tarvex
