// The text conversions keep their documented results and errors exactly:
// callers outside the codec still build and read PDUs with them.
#include "codec/mdl_converter.h"

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"

namespace tarvex {
namespace {

using namespace mdlConverter;

TEST(MdlConverterTest, ByteToHexAndDecToBin7) {
  const struct {
    int32_t n;
    const char* hex;
    const char* bin7;
  } kCases[] = {
      {0, "00", "0000000"},     {1, "01", "0000001"},       {10, "0A", "0001010"},
      {127, "7F", "1111111"},   {128, "80", "0000000"},     {255, "FF", "1111111"},
      {256, "100", "0000000"},  {-1, "FFFFFFFF", "1111111"}, {0x12345, "12345", "1000101"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ByteToHex(c.n), c.hex) << c.n;
    EXPECT_EQ(DecToBin7(c.n), c.bin7) << c.n;
  }
}

TEST(MdlConverterTest, BinToHexKeepsTheLastEightBits) {
  const struct {
    const char* bits;
    const char* hex;
  } kCases[] = {
      {"", "00"},          {"101", "05"},           {"10100101", "A5"},
      {"111100001111", "0F"}, {"00000000", "00"}, {"11111111", "FF"},
  };
  for (const auto& c : kCases) EXPECT_EQ(BinToHex(c.bits), c.hex) << c.bits;
}

TEST(MdlConverterTest, HexToBinAndBack) {
  EXPECT_EQ(HexToBin(""), "");
  EXPECT_EQ(HexToBin("00"), "00000000");
  EXPECT_EQ(HexToBin("FF"), "11111111");
  EXPECT_EQ(HexToBin("1F"), "00011111");
  for (int n = 0; n < 256; ++n) EXPECT_EQ(HexToByte(BinToHex(HexToBin(ByteToHex(n)))), n);
  EXPECT_EQ(HexToBin(std::string(32767, 'A')).size(), 32767u * 4);
  try {
    HexToBin(std::string(32768, 'A'));
    FAIL() << "no overflow";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), kOverflow);
  }
}

TEST(MdlConverterTest, HexToByte) {
  const struct {
    const char* hex;
    int32_t value;  // -1: type mismatch
  } kCases[] = {
      {"FF", 255}, {"ff", 255}, {"a5", 165}, {"A5", 165}, {"0", 0},   {"7", 7},
      {"1A2", 26}, {"00", 0},   {"", -1},    {"G0", -1},  {"0G", -1}, {" 1", -1},
      {"+1", -1},  {"Z", -1},
  };
  for (const auto& c : kCases) {
    if (c.value >= 0) {
      EXPECT_EQ(HexToByte(c.hex), c.value) << c.hex;
      continue;
    }
    try {
      HexToByte(c.hex);
      ADD_FAILURE() << "accepted \"" << c.hex << "\"";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kTypeMismatch) << c.hex;
    }
  }
}

}  // namespace
}  // namespace tarvex
