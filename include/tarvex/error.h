// The one error type of the engine.
//
// Every failure that reaches a caller carries the number a VB-style host would
// see in Err.Number (5 invalid argument, 6 overflow, 9 subscript out of range,
// 13 type mismatch, and the serial control's own codes) together with a plain
// message.  The COM face turns it into HRESULT 0x800A0000 + number; the
// command-line tool prints the message and exits non-zero.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tarvex {

enum ErrorNumber : int32_t {
  kInvalidArgument = 5,
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kInvalidPropertyValue = 380,
  // The serial communications control's customary codes.
  kPortOpenNotAllowed = 8000,  // "Operation not valid while the port is opened"
  kInvalidPortNumber = 8002,
  kPortAlreadyOpen = 8005,
  kPortNotOpen = 8012,
  // Ours: a second operation on a slot whose transaction is still waiting.
  kSlotBusy = 8100,
  // Ours: the host asked to stop (Ctrl-C in the tool).
  kInterrupted = 8101,
};

class Error : public std::runtime_error {
 public:
  Error(int32_t number, const std::string& message)
      : std::runtime_error(message), number_(number) {}
  int32_t number() const noexcept { return number_; }

 private:
  int32_t number_;
};

}  // namespace tarvex
