#include "config/mdl_public.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/memory_registry.h"

namespace tarvex {
namespace {

using testing::MemoryRegistry;

enum class Lookup { kPort, kBaud, kName };

std::string Call(Lookup which, RegistryBackend& registry, int16_t slot) {
  switch (which) {
    case Lookup::kPort:
      return mdlPublic::GetPortSetting(registry, slot);
    case Lookup::kBaud:
      return mdlPublic::GetBaudRateSetting(registry, slot);
    case Lookup::kName:
      return mdlPublic::GetDeviceNameSetting(registry, slot);
  }
  return "?";
}

struct Case {
  const char* situation;
  const char* key;
  const char* name;
  uint32_t type;
  std::vector<uint8_t> bytes;
  Lookup lookup;
  int16_t slot;
  const char* expected;
};

std::vector<uint8_t> Sz(const std::string& s) {
  std::vector<uint8_t> b(s.begin(), s.end());
  b.push_back(0);
  return b;
}

TEST(MdlPublicTest, LookupsReadTheSlotsValues) {
  const char* route = mdlPublic::kRouteKey;
  const char* names = mdlPublic::kDeviceNameKey;
  const Case cases[] = {
      {"port", route, "dvp1", kRegSz, Sz("3"), Lookup::kPort, 1, "3"},
      {"baud", route, "dvb1", kRegSz, Sz("115200"), Lookup::kBaud, 1, "115200"},
      {"name keeps its blanks", names, "dvn2", kRegSz, Sz("  GSM 1 "), Lookup::kName, 2,
       "  GSM 1 "},
      {"port written as a number", route, "dvp1", kRegBinary, {3, 0, 0, 0}, Lookup::kPort, 1, "3"},
      {"dword reads as nothing", route, "dvp1", kRegDword, {3, 0, 0, 0}, Lookup::kPort, 1, ""},
      {"slot 12", route, "dvp12", kRegSz, Sz("5"), Lookup::kPort, 12, "5"},
      {"slot -1", route, "dvp-1", kRegSz, Sz("6"), Lookup::kPort, -1, "6"},
      {"slot 0", route, "dvb0", kRegSz, Sz("9600"), Lookup::kBaud, 0, "9600"},
      {"another slot's value", route, "dvp2", kRegSz, Sz("3"), Lookup::kPort, 1, ""},
      {"name is not under the route key", route, "dvn1", kRegSz, Sz("x"), Lookup::kName, 1, ""},
  };
  for (const Case& c : cases) {
    MemoryRegistry registry;
    registry.Put(kRegLocalMachine, c.key, c.name, c.type, c.bytes);
    EXPECT_EQ(Call(c.lookup, registry, c.slot), c.expected) << c.situation;
    EXPECT_EQ(registry.OpenHandles(), 0) << c.situation;
  }
}

TEST(MdlPublicTest, NothingStoredGivesEmptyForEveryLookup) {
  MemoryRegistry registry;
  for (Lookup which : {Lookup::kPort, Lookup::kBaud, Lookup::kName}) {
    EXPECT_EQ(Call(which, registry, 1), "");
  }
  registry.PutString(kRegCurrentUser, mdlPublic::kRouteKey, "dvp1", "3");
  EXPECT_EQ(mdlPublic::GetPortSetting(registry, 1), "") << "the per-user root is not read";
}

}  // namespace
}  // namespace tarvex
