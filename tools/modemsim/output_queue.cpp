#include "modemsim/output_queue.h"

#include <algorithm>

namespace tarvex::modemsim {

void OutputQueue::Push(int64_t due_ms, std::string bytes) {
  if (bytes.empty() || hung_up_) return;
  pending_.emplace(due_ms, Piece{std::move(bytes), false});
}

void OutputQueue::PushHangUp(int64_t due_ms) {
  if (!hung_up_) pending_.emplace(due_ms, Piece{{}, true});
}

PollResult OutputQueue::Poll(int64_t now_ms) {
  PollResult result;
  while (!hung_up_) {
    if (current_) {
      if (current_->next_ms > now_ms) break;
      size_t left = current_->bytes.size() - current_->offset;
      size_t take = chunk_ == 0 ? left : std::min(chunk_, left);
      result.bytes.append(current_->bytes, current_->offset, take);
      current_->offset += take;
      // Spaced from when the chunk really left, so a late poll does not burst.
      current_->next_ms = now_ms + gap_ms_;
      if (current_->offset == current_->bytes.size()) {
        // With chunking every write stays a chunk: the next piece waits its gap.
        free_at_ms_ = chunk_ == 0 ? now_ms : current_->next_ms;
        current_.reset();
      }
      continue;
    }
    if (pending_.empty() || pending_.begin()->first > now_ms) break;
    auto first = pending_.begin();
    if (first->second.hang_up) {
      hung_up_ = true;
      result.hang_up = true;
      pending_.clear();
      break;
    }
    current_ = Current{std::move(first->second.bytes), 0, std::max(first->first, free_at_ms_)};
    pending_.erase(first);
  }
  return result;
}

std::optional<int64_t> OutputQueue::NextDue() const {
  if (hung_up_) return std::nullopt;
  if (current_) return current_->next_ms;
  if (pending_.empty()) return std::nullopt;
  return std::max(pending_.begin()->first, free_at_ms_);
}

}  // namespace tarvex::modemsim
