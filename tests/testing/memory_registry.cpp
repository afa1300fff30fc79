#include "testing/memory_registry.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>

#include "common/text.h"

namespace tarvex::testing {

// The roots and the open handles as key ids, with `path`'s non-empty parts
// appended lower-cased.
std::optional<MemoryRegistry::KeyId> MemoryRegistry::Resolve(RegHandle parent,
                                                             const std::string& path) const {
  auto it = handles_.find(parent);
  std::string id = parent == kRegCurrentUser    ? "hkcu"
                   : parent == kRegLocalMachine ? "hklm"
                   : it != handles_.end()       ? it->second
                                                : "";
  if (id.empty()) return std::nullopt;
  for (size_t start = 0, end; start <= path.size(); start = end + 1) {
    end = std::min(path.find('\\', start), path.size());
    if (end > start) id += "\\" + AsciiLower(path.substr(start, end - start));
  }
  return id;
}

RegStatus MemoryRegistry::OpenKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  if (fail_reads_) return kRegAccessDenied;
  std::optional<KeyId> id = Resolve(parent, path);
  if (!id) return kRegInvalidHandle;
  if (id->find('\\') != std::string::npos && !keys_.contains(*id)) return kRegFileNotFound;
  handles_[*result = next_handle_++] = *id;
  return kRegSuccess;
}

RegStatus MemoryRegistry::CreateKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  std::optional<KeyId> id = Resolve(parent, path);
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  CreatePath(*id);
  handles_[*result = next_handle_++] = *id;
  return kRegSuccess;
}

RegStatus MemoryRegistry::QueryValue(RegHandle key, const std::string& name, uint32_t* type,
                                     uint8_t* data, uint32_t* size) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_reads_) return kRegAccessDenied;
  const Stored* stored = Find(*id, name);
  if (!stored) return kRegFileNotFound;
  if (type) *type = stored->value.type;
  if (!size) return data ? kRegInvalidHandle : kRegSuccess;
  const uint32_t needed = static_cast<uint32_t>(stored->value.bytes.size());
  const uint32_t room = std::exchange(*size, needed);
  if (!data) return kRegSuccess;
  if (room < needed) return kRegMoreData;
  if (needed) std::memcpy(data, stored->value.bytes.data(), needed);
  return kRegSuccess;
}

RegStatus MemoryRegistry::SetValue(RegHandle key, const std::string& name, uint32_t type,
                                   const uint8_t* data, uint32_t size) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  Put(key, "", name, type, std::vector<uint8_t>(data, data + (data ? size : 0)));
  ++writes_;
  return kRegSuccess;
}

RegStatus MemoryRegistry::DeleteValue(RegHandle key, const std::string& name) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  auto k = keys_.find(*id);
  if (k == keys_.end() || k->second.erase(AsciiLower(name)) == 0) return kRegFileNotFound;
  ++writes_;
  return kRegSuccess;
}

RegStatus MemoryRegistry::CloseKey(RegHandle key) {
  if (key == kRegCurrentUser || key == kRegLocalMachine) return kRegSuccess;
  return handles_.erase(key) ? kRegSuccess : kRegInvalidHandle;
}

RegStatus MemoryRegistry::EnumValue(RegHandle key, uint32_t index, std::string* name,
                                    uint32_t* type, std::vector<uint8_t>* data) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_reads_) return kRegAccessDenied;
  auto k = keys_.find(*id);
  if (k == keys_.end() || index >= k->second.size()) return kRegNoMoreItems;
  const Stored& v = std::next(k->second.begin(), index)->second;
  if (name) *name = v.name;
  if (type) *type = v.value.type;
  if (data) *data = v.value.bytes;
  return kRegSuccess;
}

void MemoryRegistry::CreatePath(const KeyId& id) {
  // Every prefix ending at a separator is an ancestor key; the roots always exist.
  for (size_t pos = id.find('\\'); pos != std::string::npos; pos = id.find('\\', pos + 1)) {
    keys_[id.substr(0, pos)];
  }
  keys_[id];
}

const MemoryRegistry::Stored* MemoryRegistry::Find(const KeyId& id, const std::string& name) const {
  auto k = keys_.find(id);
  if (k == keys_.end()) return nullptr;
  auto v = k->second.find(AsciiLower(name));
  return v == k->second.end() ? nullptr : &v->second;
}

void MemoryRegistry::Put(RegHandle root, const std::string& path, const std::string& name,
                         uint32_t type, std::vector<uint8_t> bytes) {
  const KeyId id = Resolve(root, path).value();
  CreatePath(id);
  Stored& stored = keys_[id][AsciiLower(name)];
  if (stored.name.empty()) stored.name = name;
  stored.value = Value{type, std::move(bytes)};
}

void MemoryRegistry::PutString(RegHandle root, const std::string& path, const std::string& name,
                               const std::string& text) {
  Put(root, path, name, kRegSz, std::vector<uint8_t>(text.c_str(), text.c_str() + text.size() + 1));
}

std::optional<MemoryRegistry::Value> MemoryRegistry::Get(RegHandle root, const std::string& path,
                                                         const std::string& name) const {
  const Stored* stored = Find(Resolve(root, path).value(), name);
  return stored ? std::optional<Value>(stored->value) : std::nullopt;
}

bool MemoryRegistry::KeyExists(RegHandle root, const std::string& path) const {
  return keys_.contains(Resolve(root, path).value());
}

}  // namespace tarvex::testing
