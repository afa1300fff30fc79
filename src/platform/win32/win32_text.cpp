// UTF-8 <-> UTF-16 for the Windows edge, over the core's conversions (which
// never throw and replace bad input with U+FFFD).  wchar_t is a UTF-16 unit
// under Windows compilers, so the units are copied across unchanged.
#include "common/text.h"
#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be a UTF-16 unit");

std::wstring Widen(std::string_view utf8) {
  const std::u16string units = Utf8ToUtf16(utf8);
  return std::wstring(units.begin(), units.end());
}

std::string Narrow(std::wstring_view utf16) {
  return Utf16ToUtf8(std::u16string(utf16.begin(), utf16.end()));
}

}  // namespace tarvex::win32
