// The registry through its wide entry points.  The seam speaks UTF-8 and the
// ANSI calls' semantics; the registry stores UTF-16.  Going through the ANSI
// calls instead would turn every character outside the system code page into
// "?", so a slot name typed in Cyrillic or Greek would come back ruined.
//
// Text values are read whole into a buffer of our own and converted there:
// the caller's buffer is sized in UTF-8 bytes, which says nothing about the
// number of UTF-16 bytes the registry needs.
#include <cstring>

#include "common/text.h"
#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {
namespace {

// A value that keeps growing between our size query and our data query is
// read again this many times before its last status is handed over.
constexpr int kReadAttempts = 8;
// The registry's limit on a value name, in UTF-16 units, plus its NUL.
constexpr DWORD kMaxValueName = 16384;

HKEY ToHkey(RegHandle handle) {
  if (handle == kRegCurrentUser) return HKEY_CURRENT_USER;
  if (handle == kRegLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(handle);
}

// The slots' values have always lived in the 32-bit view, where the 32-bit
// component (the one VB6 and 32-bit Office load) keeps them; the 64-bit file
// looks there too, so every host on the machine sees the same slots.  The
// per-user tree is not redirected and is opened as it stands.  A 32-bit
// Windows ignores the flag.
REGSAM View(RegHandle parent) { return parent == kRegCurrentUser ? 0 : KEY_WOW64_32KEY; }

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// The value's type and stored bytes, consistent with each other even when
// another writer changes the value between the two queries.
LSTATUS ReadStored(HKEY key, const std::wstring& name, DWORD* type, std::vector<uint8_t>* bytes) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  for (int attempt = 1; status == ERROR_SUCCESS; ++attempt) {
    // Never a null buffer: that would turn the data query into another size query.
    bytes->resize(size ? size : 1);
    DWORD got = static_cast<DWORD>(bytes->size());
    status = RegQueryValueExW(key, name.c_str(), nullptr, type, bytes->data(), &got);
    if (status == ERROR_SUCCESS) {
      bytes->resize(got);
      return status;
    }
    if (status != ERROR_MORE_DATA || attempt == kReadAttempts) return status;
    size = got;  // it grew meanwhile: the size the failed query reported
    status = ERROR_SUCCESS;
  }
  return status;
}

// Stored UTF-16 text as the seam's UTF-8, always NUL-terminated: a value some
// other program stored without its NUL must not lose its last character.
std::vector<uint8_t> StoredToSeam(DWORD type, const std::vector<uint8_t>& stored) {
  if (!IsText(type)) return stored;
  std::u16string units(stored.size() / 2, u'\0');
  if (!units.empty()) std::memcpy(units.data(), stored.data(), units.size() * 2);
  std::string text = Utf16ToUtf8(units);
  if (text.empty() || text.back() != '\0') text.push_back('\0');
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

RegStatus Win32Registry::OpenKey(RegHandle parent, const std::string& path, RegHandle* result) {
  HKEY key = nullptr;
  LSTATUS status =
      RegOpenKeyExW(ToHkey(parent), Widen(path).c_str(), 0, MAXIMUM_ALLOWED | View(parent), &key);
  *result = status == ERROR_SUCCESS ? reinterpret_cast<RegHandle>(key) : 0;
  return status;
}

RegStatus Win32Registry::CreateKey(RegHandle parent, const std::string& path, RegHandle* result) {
  HKEY key = nullptr;
  LSTATUS status =
      RegCreateKeyExW(ToHkey(parent), Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      MAXIMUM_ALLOWED | View(parent), nullptr, &key, nullptr);
  *result = status == ERROR_SUCCESS ? reinterpret_cast<RegHandle>(key) : 0;
  return status;
}

RegStatus Win32Registry::QueryValue(RegHandle key, const std::string& name, uint32_t* type,
                                    uint8_t* data, uint32_t* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  DWORD stored_type = REG_NONE;
  std::vector<uint8_t> stored;
  if (LSTATUS status = ReadStored(ToHkey(key), Widen(name), &stored_type, &stored);
      status != ERROR_SUCCESS) {
    return status;
  }
  const std::vector<uint8_t> value = StoredToSeam(stored_type, stored);
  const auto needed = static_cast<uint32_t>(value.size());
  if (type) *type = stored_type;
  if (!data) {
    if (size) *size = needed;
    return kRegSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed) std::memcpy(data, value.data(), needed);
  *size = needed;
  return kRegSuccess;
}

RegStatus Win32Registry::SetValue(RegHandle key, const std::string& name, uint32_t type,
                                  const uint8_t* data, uint32_t size) {
  if (!data && size) return ERROR_INVALID_PARAMETER;
  const std::wstring wide_name = Widen(name);
  if (!IsText(type)) {
    return RegSetValueExW(ToHkey(key), wide_name.c_str(), 0, type, data, size);
  }
  // What RegSetValueExA stores for ASCII text: the UTF-16 units with their NUL.
  std::u16string units = Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
  if (units.empty() || units.back() != u'\0') units.push_back(u'\0');
  return RegSetValueExW(ToHkey(key), wide_name.c_str(), 0, type,
                        reinterpret_cast<const BYTE*>(units.data()),
                        static_cast<DWORD>(units.size() * sizeof(char16_t)));
}

RegStatus Win32Registry::DeleteValue(RegHandle key, const std::string& name) {
  return RegDeleteValueW(ToHkey(key), Widen(name).c_str());
}

RegStatus Win32Registry::CloseKey(RegHandle key) { return RegCloseKey(ToHkey(key)); }

RegStatus Win32Registry::EnumValue(RegHandle key, uint32_t index, std::string* name, uint32_t* type,
                                   std::vector<uint8_t>* data) {
  std::wstring wide_name(kMaxValueName, L'\0');
  DWORD stored_type = REG_NONE;
  std::vector<uint8_t> stored;
  DWORD size = 0;
  // Start with a byte; ERROR_MORE_DATA reports the size needed, and the value
  // may grow again before the next try.
  LSTATUS status = ERROR_SUCCESS;
  for (int attempt = 1;; ++attempt) {
    stored.resize(size ? size : 1);
    DWORD name_length = kMaxValueName;
    size = static_cast<DWORD>(stored.size());
    status = RegEnumValueW(ToHkey(key), index, wide_name.data(), &name_length, nullptr,
                           &stored_type, stored.data(), &size);
    if (status == ERROR_SUCCESS) {
      stored.resize(size);
      wide_name.resize(name_length);
      break;
    }
    if (status != ERROR_MORE_DATA || attempt == kReadAttempts) return status;
  }
  if (name) *name = Narrow(wide_name);
  if (type) *type = stored_type;
  if (data) *data = StoredToSeam(stored_type, stored);
  return kRegSuccess;
}

}  // namespace tarvex::win32
