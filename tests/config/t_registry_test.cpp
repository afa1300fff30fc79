// TRegistry over the in-memory store, and the per-slot lookups made with it.
#include "tarvex/t_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tarvex/error.h"
#include "tarvex/mdl_public.h"
#include "testing/memory_registry.h"

namespace tarvex {
namespace {

using testing::MemoryRegistry;
using Bytes = std::vector<uint8_t>;

constexpr const char* kKey = "SOFTWARE\\Clients\\Route";

class TRegistryTest : public ::testing::Test {
 protected:
  // Every operation must close every handle it opened, on every path.
  void TearDown() override { EXPECT_EQ(memory_.OpenHandles(), 0); }

  std::optional<MemoryRegistry::Value> Stored(const std::string& name) {
    return memory_.Get(kRegLocalMachine, kKey, name);
  }
  std::string Read(const std::string& name, int32_t root = kHkeyLocalMachine,
                   const char* path = kKey) {
    return reg_.GetString(root, path, name);
  }

  MemoryRegistry memory_;
  TRegistry reg_{memory_};
};

TEST_F(TRegistryTest, GetStringReadsEachValueType) {
  const struct {
    const char* situation;
    uint32_t type;
    Bytes bytes;
    const char* expected;
  } cases[] = {
      {"text", kRegSz, {'C', 'O', 'M', '3', 0}, "COM3"},
      {"text without its NUL", kRegSz, {'a', 'b', 'c'}, "abc"},
      {"text cut at the first NUL", kRegSz, {'a', 0, 'b', 0}, "a"},
      {"no bytes of text", kRegSz, {}, ""},
      {"binary 3", kRegBinary, {3, 0, 0, 0}, "3"},
      {"binary FF FF is -1", kRegBinary, {0xFF, 0xFF, 0, 0}, "-1"},
      {"binary single byte above 127", kRegBinary, {200}, "200"},
      {"binary no bytes", kRegBinary, {}, "0"},
      {"binary eight bytes uses two", kRegBinary, {1, 2, 3, 4, 5, 6, 7, 8}, "513"},
      {"dword", kRegDword, {3, 0, 0, 0}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.situation);
    memory_.Put(kRegLocalMachine, kKey, "dvp1", c.type, c.bytes);
    EXPECT_EQ(Read("dvp1"), c.expected);
  }
}

// Missing values and other roots are the slot lookups' rows below.
TEST_F(TRegistryTest, GetStringGivesEmptyOnEveryFailure) {
  memory_.PutString(kRegLocalMachine, kKey, "dvp1", "3");
  EXPECT_EQ(Read("dvp1", kHkeyLocalMachine, "SOFTWARE\\Nowhere"), "");
  memory_.SetFailReads(true);
  EXPECT_EQ(Read("dvp1"), "");
}

// Text with its NUL in a new key is what the dialog's Apply rows check.
TEST_F(TRegistryTest, SaveStringReplacesABinaryValue) {
  memory_.Put(kRegLocalMachine, kKey, "dvp1", kRegBinary, {3, 0, 0, 0});
  reg_.SaveString(kHkeyLocalMachine, kKey, "dvp1", "4");
  EXPECT_EQ(Stored("dvp1"), (MemoryRegistry::Value{kRegSz, {'4', 0}}));
}

// The stored byte (of four, little-endian binary), or -error with the old
// text left in place.
TEST_F(TRegistryTest, SaveStringLongConvertsTextToOneByte) {
  auto save = [this](const char* text) {
    memory_.PutString(kRegLocalMachine, kKey, "dvp1", "old");
    try {
      reg_.SaveStringLong(kHkeyLocalMachine, kKey, "dvp1", text);
    } catch (const Error& e) {
      EXPECT_EQ(Read("dvp1"), "old") << text;
      return -e.number();
    }
    const auto value = Stored("dvp1").value_or(MemoryRegistry::Value{});
    const uint8_t byte = value.bytes.empty() ? 0 : value.bytes[0];
    EXPECT_EQ(value, (MemoryRegistry::Value{kRegBinary, {byte, 0, 0, 0}})) << text;
    return int{byte};
  };
  const std::pair<const char*, int> kStored[] = {
      {"200", 200}, {"255", 255}, {" 7\t", 7}, {"\t+3", 3}, {"2.5", 2},     {"3.5", 4},
      {"0.5", 0},   {".5", 0},    {"1.", 1},   {"-0.5", 0}, {"2.55E2", 255}};
  for (const auto& [text, byte] : kStored) EXPECT_EQ(save(text), byte) << text;
  for (const char* text : {"255.5", "256", "-1", "1e999"}) {
    EXPECT_EQ(save(text), -kOverflow) << text;
  }
  for (const char* text : {"", ".", "1,5", "3 4", "0x10", "inf", "1e", "--1"}) {
    EXPECT_EQ(save(text), -kTypeMismatch) << text;
  }
}

// A slot's lookups read its own values only: no prefix match ("dvp12" for
// slot 1), each under its own key, and never the per-user root.
TEST_F(TRegistryTest, SlotLookupsReadOnlyTheSlotsOwnValues) {
  using mdlPublic::GetBaudRateSetting, mdlPublic::GetDeviceNameSetting, mdlPublic::GetPortSetting;
  const char* names = "SOFTWARE\\DevName\\Device";
  memory_.PutString(kRegLocalMachine, kKey, "dvp12", "5");
  memory_.PutString(kRegLocalMachine, kKey, "dvb1", "115200");
  memory_.PutString(kRegLocalMachine, kKey, "dvn1", "x");
  memory_.PutString(kRegLocalMachine, names, "dvn2", " GSM 1 ");
  memory_.PutString(kRegLocalMachine, names, "dvb2", "x");
  memory_.PutString(kRegCurrentUser, kKey, "dvp1", "3");
  EXPECT_EQ(GetPortSetting(memory_, 12), "5");
  EXPECT_EQ(GetPortSetting(memory_, 1), "");
  EXPECT_EQ(GetBaudRateSetting(memory_, 1), "115200");
  EXPECT_EQ(GetBaudRateSetting(memory_, 2), "");
  EXPECT_EQ(GetDeviceNameSetting(memory_, 1), "");
  EXPECT_EQ(GetDeviceNameSetting(memory_, 2), " GSM 1 ") << "blanks kept";
}

}  // namespace
}  // namespace tarvex
