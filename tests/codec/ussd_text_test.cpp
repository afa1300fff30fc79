#include "codec/ussd_text.h"

#include <gtest/gtest.h>

namespace tarvex {
namespace {

// Answers as modems sent them (the bKash menu from a UCS2 modem, "*144#" as a
// Huawei packs it) and balances in the same codings.
TEST(UssdTextTest, DecodesHexAnswersAndLeavesTextAlone) {
  struct Case {
    const char* raw;
    std::optional<int> dcs;
    const char* charset;
    const char* text;
    const char* coding;
  };
  const Case cases[] = {
      // Packed 7-bit under scheme 15 (Huawei E160), also with nothing said.
      {"D9775D0E1287D961F7B80C4ACF413199AB060315AB5217C81A66A7C9A0BA9B9E66836631574CE692C16434", 15,
       "", "Your balance is 12.50 EUR. Valid until 31.12.2024", "gsm7"},
      {"AA188D3602", std::nullopt, "", "*144#", "gsm7"},
      // UCS2 because the character set is (Quectel M35), because the scheme
      // is, and recognised alone; one script beside ASCII.
      {"0062004B006100730068000A00310020004D0032004D0020005400720061006E0073006600650072000A", 15,
       "UCS2", "bKash\n1 M2M Transfer\n", "ucs2"},
      {"0049006E00760061006C00690064", 72, "", "Invalid", "ucs2"},
      {"04110430043B0430043D0441003A0020003100300030002E0035003000200440002E", std::nullopt, "",
       "Баланс: 100.50 р.", "ucs2"},
      // 8-bit: said by the scheme, or printable Latin-1 alone.
      {"4372E96469742072657374616E743A20352C303020455552", 0x44, "", "Crédit restant: 5,00 EUR",
       "8bit"},
      {"42616C616E636520352E3030", 15, "", "Balance 5.00", "8bit"},
      // GSM text one septet per octet under AT+CSCS="HEX".
      {"42616C616E6365", 15, "HEX", "Balance", "gsm7"},
      // Left as they came: text, a word of hex letters, noise.
      {"YOUR BALANCE IS 5.00", 15, "", "YOUR BALANCE IS 5.00", "text"},
      {"CAFE", std::nullopt, "", "CAFE", "text"},
      {"8F1C0003A1B2C3D4E5F61234ABCD", std::nullopt, "", "8F1C0003A1B2C3D4E5F61234ABCD", "text"},
      {"D800D800", 72, "", "D800D800", "text"},  // lone surrogates are no text
  };
  for (const Case& c : cases) {
    const UssdText got = DecodeUssdText(c.raw, c.dcs, c.charset);
    EXPECT_EQ(got.text, c.text) << c.raw;
    EXPECT_EQ(got.coding, c.coding) << c.raw;
    EXPECT_EQ(got.raw, c.raw);
  }
}

}  // namespace
}  // namespace tarvex
