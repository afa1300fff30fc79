// TRegistry over a RegistryBackend.  Each operation is the fixed sequence of
// registry calls the class has always made (open or create, one query/set/
// delete, close), and the close runs on every path, the error path of
// SaveStringLong's conversion included.
#include "tarvex/t_registry.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// Closes a key handle when it goes out of scope, whatever the open left (0
// included: the backend reports an invalid handle and nothing happens).
class KeyCloser {
 public:
  KeyCloser(RegistryBackend& backend, const RegHandle& key) : backend_(backend), key_(key) {}
  ~KeyCloser() { backend_.CloseKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  RegistryBackend& backend_;
  const RegHandle& key_;
};

// A decimal number text, blanks around allowed: [+-] digits [. digits]
// [E [+-] digits], or a fraction starting at the point.  Anything else is no
// number (nullopt).
std::optional<double> ParseNumber(const std::string& number) {
  const std::string_view text = TrimBlanks(number);
  size_t begin = 0;
  const size_t end = text.size();
  bool negative = false;
  if (begin < end && (text[begin] == '+' || text[begin] == '-')) {
    negative = text[begin] == '-';
    ++begin;
  }
  // Check the shape ourselves: from_chars would also take "inf", "nan" and hex.
  size_t i = begin;
  size_t digits = 0;
  while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  if (i < end && text[i] == '.') {
    ++i;
    while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < end && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != end) return std::nullopt;
  double value = 0;
  auto [ptr, ec] = std::from_chars(text.data() + begin, text.data() + end, value);
  if (ec == std::errc::result_out_of_range) return negative ? -HUGE_VAL : HUGE_VAL;
  if (ec != std::errc() || ptr != text.data() + end) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::string TRegistry::GetString(int32_t hKey, const std::string& strPath,
                                 const std::string& strValue) {
  RegHandle key = 0;
  KeyCloser closer(backend_, key);
  backend_.OpenKey(hKey, strPath, &key);
  return ReadValue(key, strValue);
}

std::string TRegistry::ReadValue(RegHandle key, const std::string& name) {
  uint32_t type = kRegNone;
  uint32_t size = 0;
  if (backend_.QueryValue(key, name, &type, nullptr, &size) != kRegSuccess) return "";
  // The value may change between the two queries; the second one's failure
  // (a bigger value, a deleted one) then gives "".
  std::vector<uint8_t> buffer(size, 0);
  uint32_t got = size;
  uint32_t second_type = kRegNone;
  switch (type) {
    case kRegSz: {
      if (backend_.QueryValue(key, name, &second_type, buffer.data(), &got) != kRegSuccess) {
        return "";
      }
      if (buffer.empty()) return "";  // a value of no bytes at all holds no text
      const char* text = reinterpret_cast<const char*>(buffer.data());
      return std::string(text, strnlen(text, buffer.size()));
    }
    case kRegBinary: {
      if (backend_.QueryValue(key, name, &second_type, buffer.data(), &got) != kRegSuccess) {
        return "";
      }
      if (buffer.empty()) return "0";
      if (buffer.size() == 1) return std::to_string(buffer[0]);
      auto number = static_cast<int16_t>(static_cast<uint16_t>(buffer[0] | (buffer[1] << 8)));
      return std::to_string(number);
    }
    default:
      return "";
  }
}

void TRegistry::SaveString(int32_t hKey, const std::string& strPath, const std::string& strValue,
                           const std::string& strData) {
  RegHandle key = 0;
  KeyCloser closer(backend_, key);
  backend_.CreateKey(hKey, strPath, &key);
  const auto* bytes = reinterpret_cast<const uint8_t*>(strData.c_str());
  backend_.SetValue(key, strValue, kRegSz, bytes, static_cast<uint32_t>(strData.size() + 1));
}

void TRegistry::SaveStringLong(int32_t hKey, const std::string& strPath,
                               const std::string& strValue, const std::string& strData) {
  RegHandle key = 0;
  KeyCloser closer(backend_, key);
  backend_.CreateKey(hKey, strPath, &key);
  std::optional<double> number = ParseNumber(strData);
  if (!number) throw Error(kTypeMismatch, "Type mismatch: \"" + strData + "\" is no number");
  // nearbyint under the default rounding mode takes a half to the even neighbour.
  double rounded = std::nearbyint(*number);
  if (!(rounded >= 0 && rounded <= 255)) {
    throw Error(kOverflow, "Overflow: " + strData + " is outside 0 to 255");
  }
  const uint8_t bytes[4] = {static_cast<uint8_t>(rounded), 0, 0, 0};
  backend_.SetValue(key, strValue, kRegBinary, bytes, sizeof bytes);
}

void TRegistry::DelSetting(int32_t hKey, const std::string& strPath, const std::string& strValue) {
  RegHandle key = 0;
  KeyCloser closer(backend_, key);
  backend_.CreateKey(hKey, strPath, &key);
  backend_.DeleteValue(key, strValue);
}

}  // namespace tarvex
