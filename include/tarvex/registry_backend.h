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
// Writes under one root may be grouped (BeginWrites .. EndWrites) so that they
// land together or not at all: one slot's port, baud rate and name, one port
// mapping.  The Windows registry has no such groups; its backend writes as it
// goes, which is all that registry offers a program.
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

  // Starts a group of writes under `root` (a predefined root): until
  // EndWrites, writes there are seen by nobody else, and a process that dies
  // meanwhile leaves none of them behind.  One group at a time.
  virtual RegStatus BeginWrites(RegHandle /*root*/) { return kRegSuccess; }
  // Ends the group: its writes land when `commit` holds and none of them
  // failed; otherwise they are undone.  Success only when they landed.
  virtual RegStatus EndWrites(bool /*commit*/) { return kRegSuccess; }
};

// A group of writes as a scope: undone unless Commit() is called.  When the
// group cannot begin (the store is busy beyond its wait, or not writable),
// begun() is false and the caller writes nothing, so no half of a change is
// written outside a group.
class RegistryWriteGroup {
 public:
  RegistryWriteGroup(RegistryBackend& backend, RegHandle root)
      : backend_(backend), open_(backend.BeginWrites(root) == kRegSuccess) {}
  ~RegistryWriteGroup() {
    if (open_) backend_.EndWrites(false);
  }
  RegistryWriteGroup(const RegistryWriteGroup&) = delete;
  RegistryWriteGroup& operator=(const RegistryWriteGroup&) = delete;

  bool begun() const { return open_; }
  // True when every write of the group landed.
  bool Commit() {
    if (!open_) return false;
    open_ = false;
    return backend_.EndWrites(true) == kRegSuccess;
  }

 private:
  RegistryBackend& backend_;
  bool open_;
};

}  // namespace tarvex
