#include "modemsim/message_store.h"

#include <algorithm>
#include <cctype>

namespace tarvex::modemsim {

int TpduLength(const std::string& pdu) {
  if (pdu.size() < 2 || pdu.size() % 2 != 0) return -1;
  for (char c : pdu) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return -1;
  }
  int octets = static_cast<int>(pdu.size() / 2);
  int sca = std::stoi(pdu.substr(0, 2), nullptr, 16);
  int length = octets - 1 - sca;
  return length >= 1 ? length : -1;
}

void MessageStore::SetTotal(int total) { total_ = std::max(total, used()); }

std::optional<int> MessageStore::Add(StoredMessage message) {
  // The first gap in the ordered indices is the lowest free place.
  int index = 1;
  for (const auto& entry : messages_) {
    if (entry.first != index) break;
    ++index;
  }
  if (index > total_) return std::nullopt;
  messages_.emplace(index, std::move(message));
  return index;
}

StoredMessage* MessageStore::Find(int index) {
  auto it = messages_.find(index);
  return it == messages_.end() ? nullptr : &it->second;
}

void MessageStore::EraseByFlag(int flag) {
  std::erase_if(messages_, [flag](const auto& entry) {
    int stat = entry.second.stat;
    switch (flag) {
      case 1:
        return stat == kRecRead;
      case 2:
        return stat == kRecRead || stat == kStoSent;
      case 3:
        return stat != kRecUnread;
      default:
        return true;
    }
  });
}

std::vector<int> MessageStore::Indices(int stat) const {
  std::vector<int> out;
  for (const auto& [index, message] : messages_) {
    if (stat == kStatAll || message.stat == stat) out.push_back(index);
  }
  return out;
}

}  // namespace tarvex::modemsim
