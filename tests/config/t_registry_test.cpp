#include "config/t_registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
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

  MemoryRegistry memory_;
  TRegistry reg_{memory_};
};

struct ReadCase {
  const char* situation;
  uint32_t type;
  Bytes bytes;
  const char* expected;
};

TEST_F(TRegistryTest, GetStringReadsEachValueType) {
  const ReadCase cases[] = {
      {"text", kRegSz, {'C', 'O', 'M', '3', 0}, "COM3"},
      {"empty text", kRegSz, {0}, ""},
      {"text without its NUL", kRegSz, {'a', 'b', 'c'}, "abc"},
      {"text cut at the first NUL", kRegSz, {'a', 0, 'b', 0}, "a"},
      {"no bytes of text", kRegSz, {}, ""},
      {"binary 3", kRegBinary, {3, 0, 0, 0}, "3"},
      {"binary FF FF is -1", kRegBinary, {0xFF, 0xFF, 0, 0}, "-1"},
      {"binary lowest 16-bit", kRegBinary, {0x00, 0x80}, "-32768"},
      {"binary highest 16-bit", kRegBinary, {0xFF, 0x7F}, "32767"},
      {"binary single byte", kRegBinary, {7}, "7"},
      {"binary single byte above 127", kRegBinary, {200}, "200"},
      {"binary no bytes", kRegBinary, {}, "0"},
      {"binary eight bytes uses two", kRegBinary, {1, 2, 3, 4, 5, 6, 7, 8}, "513"},
      {"dword", kRegDword, {3, 0, 0, 0}, ""},
      {"expandable text", kRegExpandSz, {'x', 0}, ""},
      {"multi text", kRegMultiSz, {'x', 0, 0}, ""},
      {"none", kRegNone, {'x'}, ""},
  };
  for (const ReadCase& c : cases) {
    memory_.Put(kRegLocalMachine, kKey, "dvp1", c.type, c.bytes);
    EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvp1"), c.expected) << c.situation;
  }
}

TEST_F(TRegistryTest, GetStringGivesEmptyOnEveryFailure) {
  memory_.PutString(kRegLocalMachine, kKey, "dvp1", "3");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, "SOFTWARE\\Nowhere", "dvp1"), "");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvp2"), "");
  EXPECT_EQ(reg_.GetString(kHkeyCurrentUser, kKey, "dvp1"), "") << "other root";
  EXPECT_EQ(reg_.GetString(0x1234, kKey, "dvp1"), "") << "a handle that is no key";
  memory_.SetFailReads(true);
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvp1"), "");
}

TEST_F(TRegistryTest, PathsAndNamesIgnoreCaseAndEmptyNameIsDefault) {
  memory_.PutString(kRegLocalMachine, kKey, "DvP1", "3");
  memory_.PutString(kRegLocalMachine, kKey, "", "default");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, "software\\CLIENTS\\route", "dvp1"), "3");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, ""), "default");
}

TEST_F(TRegistryTest, SaveStringWritesTextWithItsNul) {
  reg_.SaveString(kHkeyLocalMachine, kKey, "dvb1", "115200");
  EXPECT_EQ(Stored("dvb1"), (MemoryRegistry::Value{kRegSz, {'1', '1', '5', '2', '0', '0', 0}}));

  reg_.SaveString(kHkeyLocalMachine, kKey, "dvb1", "");
  EXPECT_EQ(Stored("dvb1"), (MemoryRegistry::Value{kRegSz, {0}}));
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvb1"), "");

  memory_.Put(kRegLocalMachine, kKey, "dvp1", kRegBinary, {3, 0, 0, 0});
  reg_.SaveString(kHkeyLocalMachine, kKey, "dvp1", "4");
  EXPECT_EQ(Stored("dvp1"), (MemoryRegistry::Value{kRegSz, {'4', 0}})) << "binary replaced";

  reg_.SaveString(kHkeyLocalMachine, kKey, "", "root");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, ""), "root");
}

TEST_F(TRegistryTest, SaveStringCreatesTheKeyPath) {
  reg_.SaveString(kHkeyLocalMachine, "SOFTWARE\\DevName\\Device", "dvn1", "Modem #1");
  EXPECT_TRUE(memory_.KeyExists(kRegLocalMachine, "SOFTWARE\\DevName"));
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, "SOFTWARE\\DevName\\Device", "dvn1"), "Modem #1");
}

TEST_F(TRegistryTest, FailedWritesChangeNothing) {
  memory_.PutString(kRegLocalMachine, kKey, "dvp1", "3");
  memory_.SetFailWrites(true);
  reg_.SaveString(kHkeyLocalMachine, kKey, "dvp1", "4");
  reg_.SaveStringLong(kHkeyLocalMachine, kKey, "dvp1", "5");
  reg_.DelSetting(kHkeyLocalMachine, kKey, "dvp1");
  reg_.SaveString(kHkeyLocalMachine, "SOFTWARE\\Other", "x", "y");
  EXPECT_EQ(memory_.Writes(), 0);
  EXPECT_FALSE(memory_.KeyExists(kRegLocalMachine, "SOFTWARE\\Other"));
  memory_.SetFailWrites(false);
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvp1"), "3");
}

struct NumberCase {
  const char* text;
  int expected;  // the stored byte, or -error number
};

TEST_F(TRegistryTest, SaveStringLongConvertsTextToOneByte) {
  const NumberCase cases[] = {
      {"200", 200},
      {"0", 0},
      {"255", 255},
      {" 7 ", 7},
      {"\t9", 9},
      {"+3", 3},
      {"2.5", 2},
      {"3.5", 4},
      {"254.5", 254},
      {"0.5", 0},
      {".5", 0},
      {"1.", 1},
      {"-0.4", 0},
      {"-0.5", 0},
      {"1e2", 100},
      {"2.55E2", 255},
      {"255.5", -kOverflow},
      {"256", -kOverflow},
      {"300", -kOverflow},
      {"-1", -kOverflow},
      {"1e999", -kOverflow},
      {"99999999999999999999", -kOverflow},
      {"abc", -kTypeMismatch},
      {"", -kTypeMismatch},
      {"   ", -kTypeMismatch},
      {"1,5", -kTypeMismatch},
      {"3 4", -kTypeMismatch},
      {"0x10", -kTypeMismatch},
      {"inf", -kTypeMismatch},
      {"nan", -kTypeMismatch},
      {"1e", -kTypeMismatch},
      {".", -kTypeMismatch},
      {"+", -kTypeMismatch},
      {"--1", -kTypeMismatch},
  };
  for (const NumberCase& c : cases) {
    memory_.PutString(kRegLocalMachine, kKey, "dvp1", "old");
    int got;
    try {
      reg_.SaveStringLong(kHkeyLocalMachine, kKey, "dvp1", c.text);
      auto value = Stored("dvp1");
      ASSERT_TRUE(value.has_value());
      ASSERT_EQ(value->type, kRegBinary) << c.text;
      ASSERT_EQ(value->bytes.size(), 4u) << c.text;
      EXPECT_EQ((Bytes{value->bytes.begin() + 1, value->bytes.end()}), (Bytes{0, 0, 0})) << c.text;
      got = value->bytes[0];
    } catch (const Error& e) {
      got = -e.number();
      EXPECT_EQ(Stored("dvp1")->type, kRegSz) << "nothing written for " << c.text;
    }
    EXPECT_EQ(got, c.expected) << "\"" << c.text << "\"";
  }
}

TEST_F(TRegistryTest, SaveStringLongReadsBackAsNumberText) {
  reg_.SaveStringLong(kHkeyLocalMachine, kKey, "dvp1", "200");
  EXPECT_EQ(reg_.GetString(kHkeyLocalMachine, kKey, "dvp1"), "200");
}

TEST_F(TRegistryTest, SaveStringLongCreatesTheKeyEvenWhenTheNumberFails) {
  EXPECT_THROW(reg_.SaveStringLong(kHkeyLocalMachine, "SOFTWARE\\New", "v", "abc"), Error);
  EXPECT_TRUE(memory_.KeyExists(kRegLocalMachine, "SOFTWARE\\New"));
  EXPECT_EQ(memory_.Writes(), 0);
}

TEST_F(TRegistryTest, DelSettingDeletesAndCreatesTheKey) {
  memory_.PutString(kRegLocalMachine, kKey, "dvp1", "3");
  memory_.PutString(kRegLocalMachine, kKey, "dvb1", "9600");
  memory_.PutString(kRegLocalMachine, kKey, "", "default");
  reg_.DelSetting(kHkeyLocalMachine, kKey, "DVP1");
  EXPECT_FALSE(Stored("dvp1"));
  EXPECT_TRUE(Stored("dvb1")) << "only the named value goes";

  reg_.DelSetting(kHkeyLocalMachine, kKey, "dvp1");  // already gone: no error
  reg_.DelSetting(kHkeyLocalMachine, kKey, "");
  EXPECT_FALSE(Stored(""));

  reg_.DelSetting(kHkeyLocalMachine, "SOFTWARE\\Missing\\Key", "v");
  EXPECT_TRUE(memory_.KeyExists(kRegLocalMachine, "SOFTWARE\\Missing\\Key"));
}

}  // namespace
}  // namespace tarvex
