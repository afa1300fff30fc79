// The text conversions keep their documented results and errors exactly:
// callers outside the codec still build and read PDUs with them.
#include "codec/mdl_converter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tarvex/error.h"

namespace tarvex {
namespace {

using namespace mdlConverter;

int ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST(MdlConverterTest, ByteToHexAndDecToBin7) {
  const struct {
    int32_t n;
    const char* hex;
    const char* bin7;
  } kCases[] = {
      {0, "00", "0000000"},    {1, "01", "0000001"},        {10, "0A", "0001010"},
      {127, "7F", "1111111"},  {128, "80", "0000000"},      {255, "FF", "1111111"},
      {256, "100", "0000000"}, {-1, "FFFFFFFF", "1111111"}, {0x12345, "12345", "1000101"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ByteToHex(c.n), c.hex) << c.n;
    EXPECT_EQ(DecToBin7(c.n), c.bin7) << c.n;
  }
}

// BinToHex keeps the last eight bits.
TEST(MdlConverterTest, BinToHexHexToBinAndBack) {
  EXPECT_EQ(BinToHex(""), "00");
  EXPECT_EQ(BinToHex("101"), "05");
  EXPECT_EQ(BinToHex("111100001111"), "0F");
  EXPECT_EQ(HexToBin(""), "");
  EXPECT_EQ(HexToBin("1F"), "00011111");
  for (int n = 0; n < 256; ++n) EXPECT_EQ(HexToByte(BinToHex(HexToBin(ByteToHex(n)))), n);
  EXPECT_EQ(HexToBin(std::string(32767, 'A')).size(), 32767u * 4);
  EXPECT_EQ(ErrorOf([] { HexToBin(std::string(32768, 'A')); }), kOverflow);
}

TEST(MdlConverterTest, HexToByte) {
  const struct {
    const char* hex;
    int32_t value;  // -1: type mismatch
  } kCases[] = {
      {"FF", 255}, {"a5", 165}, {"7", 7},   {"1A2", 26}, {"", -1},
      {"G0", -1},  {"0G", -1},  {" 1", -1}, {"+1", -1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.hex);
    if (c.value >= 0) {
      EXPECT_EQ(HexToByte(c.hex), c.value);
    } else {
      EXPECT_EQ(ErrorOf([&] { HexToByte(c.hex); }), kTypeMismatch);
    }
  }
}

}  // namespace
}  // namespace tarvex
