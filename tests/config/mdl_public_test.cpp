#include "tarvex/mdl_public.h"

#include <gtest/gtest.h>

#include <string>

#include "testing/memory_registry.h"

namespace tarvex {
namespace {

TEST(MdlPublicTest, LookupsReadOnlyTheSlotsOwnValues) {
  using mdlPublic::GetBaudRateSetting, mdlPublic::GetDeviceNameSetting, mdlPublic::GetPortSetting;
  const char* route = mdlPublic::kRouteKey;
  const char* names = mdlPublic::kDeviceNameKey;
  const struct {
    const char* situation;
    RegHandle root;
    const char* key;
    const char* name;
    const char* text;
    std::string (*lookup)(RegistryBackend&, int16_t);
    int16_t slot;
    const char* expected;
  } cases[] = {
      {"port", kRegLocalMachine, route, "dvp1", "3", GetPortSetting, 1, "3"},
      {"baud", kRegLocalMachine, route, "dvb1", "115200", GetBaudRateSetting, 1, "115200"},
      {"name keeps its blanks", kRegLocalMachine, names, "dvn2", " GSM 1 ", GetDeviceNameSetting, 2,
       " GSM 1 "},
      {"slot 12", kRegLocalMachine, route, "dvp12", "5", GetPortSetting, 12, "5"},
      {"slot -1", kRegLocalMachine, route, "dvp-1", "6", GetPortSetting, -1, "6"},
      {"another slot's value", kRegLocalMachine, route, "dvp2", "3", GetPortSetting, 1, ""},
      {"name not under the route key", kRegLocalMachine, route, "dvn1", "x", GetDeviceNameSetting,
       1, ""},
      {"baud not under the name key", kRegLocalMachine, names, "dvb1", "x", GetBaudRateSetting, 1,
       ""},
      {"per-user root is not read", kRegCurrentUser, route, "dvp1", "3", GetPortSetting, 1, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.situation);
    testing::MemoryRegistry registry;
    registry.PutString(c.root, c.key, c.name, c.text);
    EXPECT_EQ(c.lookup(registry, c.slot), c.expected);
    EXPECT_EQ(registry.OpenHandles(), 0);
  }
}

}  // namespace
}  // namespace tarvex
