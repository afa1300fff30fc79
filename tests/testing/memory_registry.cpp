#include "testing/memory_registry.h"

#include <cstring>
#include <iterator>

namespace tarvex::testing {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// Appends the non-empty parts of a "\"-separated path to `id`.
std::string Join(std::string id, const std::string& path) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) id += "\\" + Lower(path.substr(start, end - start));
    start = end + 1;
  }
  return id;
}

std::optional<std::string> RootId(RegHandle root) {
  if (root == kRegCurrentUser) return std::string("hkcu");
  if (root == kRegLocalMachine) return std::string("hklm");
  return std::nullopt;
}

}  // namespace

std::optional<MemoryRegistry::KeyId> MemoryRegistry::Resolve(RegHandle parent,
                                                             const std::string& path) const {
  std::optional<KeyId> base = RootId(parent);
  if (!base) {
    auto it = handles_.find(parent);
    if (it == handles_.end()) return std::nullopt;
    base = it->second;
  }
  return Join(*base, path);
}

void MemoryRegistry::CreatePath(const KeyId& id) {
  // Every prefix ending at a separator is an ancestor key; the roots always exist.
  for (size_t pos = id.find('\\'); pos != std::string::npos; pos = id.find('\\', pos + 1)) {
    keys_[id.substr(0, pos)];
  }
  keys_[id];
}

RegStatus MemoryRegistry::OpenKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  if (fail_reads_) return kRegAccessDenied;
  std::optional<KeyId> id = Resolve(parent, path);
  if (!id) return kRegInvalidHandle;
  if (id->find('\\') != std::string::npos && !keys_.contains(*id)) return kRegFileNotFound;
  *result = next_handle_++;
  handles_[*result] = *id;
  return kRegSuccess;
}

RegStatus MemoryRegistry::CreateKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  std::optional<KeyId> id = Resolve(parent, path);
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  CreatePath(*id);
  *result = next_handle_++;
  handles_[*result] = *id;
  return kRegSuccess;
}

RegStatus MemoryRegistry::QueryValue(RegHandle key, const std::string& name, uint32_t* type,
                                     uint8_t* data, uint32_t* size) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_reads_) return kRegAccessDenied;
  auto k = keys_.find(*id);
  if (k == keys_.end()) return kRegFileNotFound;
  auto v = k->second.find(Lower(name));
  if (v == k->second.end()) return kRegFileNotFound;
  const Value& value = v->second.value;
  if (type) *type = value.type;
  uint32_t needed = static_cast<uint32_t>(value.bytes.size());
  if (!size) return data ? kRegInvalidHandle : kRegSuccess;
  if (!data) {
    *size = needed;
    return kRegSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed) std::memcpy(data, value.bytes.data(), needed);
  *size = needed;
  return kRegSuccess;
}

RegStatus MemoryRegistry::SetValue(RegHandle key, const std::string& name, uint32_t type,
                                   const uint8_t* data, uint32_t size) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  CreatePath(*id);
  Stored& stored = keys_[*id][Lower(name)];
  if (stored.name.empty()) stored.name = name;
  Value& value = stored.value;
  value.type = type;
  value.bytes.assign(data, data + (data ? size : 0));
  ++writes_;
  return kRegSuccess;
}

RegStatus MemoryRegistry::DeleteValue(RegHandle key, const std::string& name) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_writes_) return kRegAccessDenied;
  auto k = keys_.find(*id);
  if (k == keys_.end() || k->second.erase(Lower(name)) == 0) return kRegFileNotFound;
  ++writes_;
  return kRegSuccess;
}

RegStatus MemoryRegistry::CloseKey(RegHandle key) {
  if (RootId(key)) return kRegSuccess;  // predefined roots close as a no-op
  return handles_.erase(key) ? kRegSuccess : kRegInvalidHandle;
}

RegStatus MemoryRegistry::EnumValue(RegHandle key, uint32_t index, std::string* name,
                                    uint32_t* type, std::vector<uint8_t>* data) {
  std::optional<KeyId> id = Resolve(key, "");
  if (!id) return kRegInvalidHandle;
  if (fail_reads_) return kRegAccessDenied;
  auto k = keys_.find(*id);
  if (k == keys_.end() || index >= k->second.size()) return kRegNoMoreItems;
  auto v = std::next(k->second.begin(), index);
  if (name) *name = v->second.name;
  if (type) *type = v->second.value.type;
  if (data) *data = v->second.value.bytes;
  return kRegSuccess;
}

void MemoryRegistry::Put(RegHandle root, const std::string& path, const std::string& name,
                         uint32_t type, std::vector<uint8_t> bytes) {
  KeyId id = Join(RootId(root).value(), path);
  CreatePath(id);
  Stored& stored = keys_[id][Lower(name)];
  if (stored.name.empty()) stored.name = name;
  stored.value = Value{type, std::move(bytes)};
}

void MemoryRegistry::PutString(RegHandle root, const std::string& path, const std::string& name,
                               const std::string& text) {
  std::vector<uint8_t> bytes(text.begin(), text.end());
  bytes.push_back(0);
  Put(root, path, name, kRegSz, std::move(bytes));
}

std::optional<MemoryRegistry::Value> MemoryRegistry::Get(RegHandle root, const std::string& path,
                                                         const std::string& name) const {
  auto k = keys_.find(Join(RootId(root).value(), path));
  if (k == keys_.end()) return std::nullopt;
  auto v = k->second.find(Lower(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second.value;
}

bool MemoryRegistry::KeyExists(RegHandle root, const std::string& path) const {
  return keys_.contains(Join(RootId(root).value(), path));
}

}  // namespace tarvex::testing
