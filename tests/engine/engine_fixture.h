// The engine on a scripted modem: five ScriptedPorts on one FakeClock, an
// in-memory settings store and a FakePump.  Shared by the engine's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/engine.h"
#include "tarvex/error.h"
#include "tarvex/mdl_public.h"
#include "testing/error_of.h"
#include "testing/fake_clock.h"
#include "testing/fake_pump.h"
#include "testing/memory_registry.h"
#include "testing/scripted_port.h"

namespace tarvex::testing {

class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() : clock_(100000) {
    Tarvex::Ports ports;
    for (size_t i = 0; i < ports.size(); ++i) {
      auto port = std::make_unique<ScriptedPort>(&clock_);
      ports_[i] = port.get();
      ports[i] = std::move(port);
    }
    engine_ = std::make_unique<Tarvex>(std::move(ports), clock_, registry_);
    engine_->SetMessagePump(&pump_);
  }

  Tarvex& engine() { return *engine_; }
  ScriptedPort& modem(int16_t slot = 1) { return *ports_[static_cast<size_t>(slot)]; }
  FakeClock& clock() { return clock_; }
  FakePump& pump() { return pump_; }

  void Configure(int16_t slot, const std::string& port, const std::string& baud,
                 const std::string& name = "") {
    const std::string n = std::to_string(slot);
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvp" + n, port);
    registry_.PutString(kRegLocalMachine, mdlPublic::kRouteKey, "dvb" + n, baud);
    if (!name.empty()) {
      registry_.PutString(kRegLocalMachine, mdlPublic::kDeviceNameKey, "dvn" + n, name);
    }
  }

  void ScriptInitialisation(int16_t slot = 1) {
    for (const char* command : {"ATE0\r", "AT+CMGF=0\r", "AT+CMEE=0\r"}) {
      modem(slot).Expect(command).Reply("\r\nOK\r\n");
    }
  }

  // A configured, opened and initialised slot with a clean log.
  void OpenSlot(int16_t slot = 1) {
    Configure(slot, "3", "115200");
    ScriptInitialisation(slot);
    ASSERT_TRUE(engine_->DeviceOpen(slot));
    modem(slot).ClearLog();
  }

  // Expects `command` on `slot` and answers it with `reads`, split at '|',
  // each read `apart` ms after the one before.
  void Script(const std::string& command, std::string_view reads, uint32_t apart = 0,
              int16_t slot = 1) {
    modem(slot).Expect(command);
    for (uint32_t at = apart; !reads.empty(); at += apart) {
      const size_t bar = std::min(reads.find('|'), reads.size());
      modem(slot).ReplyAfter(at, std::string(reads.substr(0, bar)));
      reads.remove_prefix(std::min(bar + 1, reads.size()));
    }
  }

  // Every expected write was made and nothing else was written.
  void ExpectScriptMet(int16_t slot = 1) {
    EXPECT_EQ(modem(slot).MissingWrites(), std::vector<std::string>{});
    EXPECT_EQ(modem(slot).UnexpectedWrites(), std::vector<std::string>{});
  }

 private:
  FakeClock clock_;
  FakePump pump_;
  MemoryRegistry registry_;
  std::array<ScriptedPort*, Tarvex::kSlotCount> ports_{};
  std::unique_ptr<Tarvex> engine_;
};

// Most cases talk to slot 1, opened before each one.
class SlotOneTest : public EngineFixture {
 protected:
  void SetUp() override { OpenSlot(1); }
};

}  // namespace tarvex::testing
