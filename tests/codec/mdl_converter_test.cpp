// ByteToHex keeps its documented results at the edges: at least two digits,
// no cut at 255, negatives as 32-bit two's complement.
#include "codec/mdl_converter.h"

#include <gtest/gtest.h>

namespace tarvex {
namespace {

TEST(MdlConverterTest, ByteToHex) {
  const struct {
    int32_t n;
    const char* hex;
  } kCases[] = {{0, "00"},    {10, "0A"},       {255, "FF"},
                {256, "100"}, {-1, "FFFFFFFF"}, {0x12345, "12345"}};
  for (const auto& c : kCases) EXPECT_EQ(mdlConverter::ByteToHex(c.n), c.hex) << c.n;
}

}  // namespace
}  // namespace tarvex
