// The ordered collection handed to hosts: items at positions 1 to Count, as
// the component platform's Collection object numbers them.  It is also an
// ordinary range, so C++ callers can iterate it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tarvex/error.h"

namespace tarvex {

template <typename T>
class Collection {
 public:
  void Add(T item) { items_.push_back(std::move(item)); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // Position 1 is the first item; anything outside 1..Count raises error 9.
  const T& Item(int32_t position) const {
    if (position < 1 || position > Count()) {
      throw Error(kSubscriptOutOfRange, "Subscript out of range");
    }
    return items_[static_cast<size_t>(position - 1)];
  }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }
  bool empty() const { return items_.empty(); }

 private:
  std::vector<T> items_;
};

}  // namespace tarvex
