// TRegistry: read, write and delete one named value under a registry key, over
// a RegistryBackend.  Each operation opens (or creates) its key, does its one
// thing and closes the key on every path.  Registry failures are never
// reported: reads give "", writes and deletes simply have no effect.  The only
// errors that reach a caller are SaveStringLong's number conversion (6, 13).
//
// Stateless; make one per operation, on the host's thread.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/registry_backend.h"

namespace tarvex {

// The THKey enumeration.  The Windows headers define HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE as macros, so the C++ names differ from the type
// library's; the values are the same.
enum THKey : int32_t {
  kHkeyCurrentUser = static_cast<int32_t>(0x80000001u),
  kHkeyLocalMachine = static_cast<int32_t>(0x80000002u),
};

class TRegistry {
 public:
  explicit TRegistry(RegistryBackend& backend) : backend_(backend) {}

  // REG_SZ: the text up to its first NUL; REG_BINARY: the first two bytes as a
  // signed 16-bit little-endian number in decimal; anything else: "".
  std::string GetString(int32_t hKey, const std::string& strPath, const std::string& strValue);
  // REG_SZ with its terminating NUL; replaces a value of any type.
  void SaveString(int32_t hKey, const std::string& strPath, const std::string& strValue,
                  const std::string& strData);
  // strData as a number 0..255 (blanks around allowed, halves to even) in a
  // 4-byte REG_BINARY.  Raises 6 outside 0..255, 13 for a text that is no
  // number; the key is created either way.
  void SaveStringLong(int32_t hKey, const std::string& strPath, const std::string& strValue,
                      const std::string& strData);
  // Creates the key when missing (and leaves it); a missing value is no error.
  void DelSetting(int32_t hKey, const std::string& strPath, const std::string& strValue);

 private:
  std::string ReadValue(RegHandle key, const std::string& name);

  RegistryBackend& backend_;
};

}  // namespace tarvex
