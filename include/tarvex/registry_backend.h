// The six registry calls the settings store is built on, with the semantics of
// their Windows namesakes (RegOpenKeyA, RegCreateKeyA, RegQueryValueExA,
// RegSetValueExA, RegDeleteValueA, RegCloseKey):
//
// - handles are opaque; the roots are the predefined values 0x80000001
//   (current user) and 0x80000002 (local machine), sign-extended as Windows
//   does; a failed open or create leaves *result at 0;
// - key paths are "\"-separated, compared case-insensitively, as are value
//   names; the empty value name is the key's default value;
// - QueryValue with data == nullptr reports type and size; with a buffer too
//   small it returns kRegMoreData and the size needed;
// - status 0 is success, anything else a Windows error code.
//
// Implementations: the real registry (Windows), SQLite (POSIX), memory (tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

using RegHandle = std::intptr_t;
using RegStatus = int32_t;

inline constexpr RegHandle kRegCurrentUser = static_cast<int32_t>(0x80000001u);
inline constexpr RegHandle kRegLocalMachine = static_cast<int32_t>(0x80000002u);

inline constexpr RegStatus kRegSuccess = 0;
inline constexpr RegStatus kRegFileNotFound = 2;
inline constexpr RegStatus kRegAccessDenied = 5;
inline constexpr RegStatus kRegInvalidHandle = 6;
inline constexpr RegStatus kRegMoreData = 234;
inline constexpr RegStatus kRegNoMoreItems = 259;

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
};

class RegistryBackend {
 public:
  virtual ~RegistryBackend() = default;
  // Opens an existing key; creates nothing.
  virtual RegStatus OpenKey(RegHandle parent, const std::string& path, RegHandle* result) = 0;
  // Opens the key, creating it and every missing key on its path.
  virtual RegStatus CreateKey(RegHandle parent, const std::string& path, RegHandle* result) = 0;
  virtual RegStatus QueryValue(RegHandle key, const std::string& name, uint32_t* type,
                               uint8_t* data, uint32_t* size) = 0;
  // Replaces an existing value of any type.
  virtual RegStatus SetValue(RegHandle key, const std::string& name, uint32_t type,
                             const uint8_t* data, uint32_t size) = 0;
  virtual RegStatus DeleteValue(RegHandle key, const std::string& name) = 0;
  virtual RegStatus CloseKey(RegHandle key) = 0;

  // Value number `index` (0-based) of an open key, as RegEnumValueA: its name,
  // type and data; kRegNoMoreItems past the last.  Only the port map needs it;
  // a backend without enumeration reports no values.
  virtual RegStatus EnumValue(RegHandle /*key*/, uint32_t /*index*/, std::string* /*name*/,
                              uint32_t* /*type*/, std::vector<uint8_t>* /*data*/) {
    return kRegNoMoreItems;
  }
};

}  // namespace tarvex
