// MemoryRegistry: an in-memory RegistryBackend with the semantics of the real
// registry (case-insensitive key paths and value names, typed values, keys made
// by CreateKey only, the default value under "") and failure injection, so the
// settings code can be tested without a database.
//
// Handles are small integers handed out by Open/CreateKey; OpenHandles() counts
// those not yet closed, so a test can check that every path closed its key.
// Not thread-safe: one test, one thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tarvex/registry_backend.h"

namespace tarvex::testing {

class MemoryRegistry : public RegistryBackend {
 public:
  struct Value {
    uint32_t type = kRegNone;
    std::vector<uint8_t> bytes;
    bool operator==(const Value&) const = default;
  };

  RegStatus OpenKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus CreateKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus QueryValue(RegHandle key, const std::string& name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegHandle key, const std::string& name, uint32_t type, const uint8_t* data,
                     uint32_t size) override;
  RegStatus DeleteValue(RegHandle key, const std::string& name) override;
  RegStatus CloseKey(RegHandle key) override;
  // In name order, case-insensitively.
  RegStatus EnumValue(RegHandle key, uint32_t index, std::string* name, uint32_t* type,
                      std::vector<uint8_t>* data) override;

  // CreateKey, SetValue and DeleteValue fail with access denied; nothing changes.
  void SetFailWrites(bool fail) { fail_writes_ = fail; }
  // OpenKey and QueryValue fail with access denied, as a key without read rights.
  void SetFailReads(bool fail) { fail_reads_ = fail; }

  // Test helpers: bypass the failure flags.  Put creates the key.
  void Put(RegHandle root, const std::string& path, const std::string& name, uint32_t type,
           std::vector<uint8_t> bytes);
  void PutString(RegHandle root, const std::string& path, const std::string& name,
                 const std::string& text);  // REG_SZ with its terminating NUL
  std::optional<Value> Get(RegHandle root, const std::string& path, const std::string& name) const;
  bool KeyExists(RegHandle root, const std::string& path) const;
  int OpenHandles() const { return static_cast<int>(handles_.size()); }
  // Number of successful SetValue / DeleteValue calls, to check that nothing was written.
  int Writes() const { return writes_; }

 private:
  // Full key path, lower-cased, root included ("hklm\software\x").
  using KeyId = std::string;
  std::optional<KeyId> Resolve(RegHandle parent, const std::string& path) const;
  void CreatePath(const KeyId& id);

  struct Stored {
    std::string name;  // as first written
    Value value;
  };
  const Stored* Find(const KeyId& id, const std::string& name) const;
  // key id -> (lower-cased value name -> value)
  std::map<KeyId, std::map<std::string, Stored>> keys_;
  std::map<RegHandle, KeyId> handles_;
  RegHandle next_handle_ = 0x100;
  bool fail_writes_ = false;
  bool fail_reads_ = false;
  int writes_ = 0;
};

}  // namespace tarvex::testing
