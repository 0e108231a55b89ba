// The cells of a training file's columns while the file is read: each column keeps its distinct
// spellings once, numbered in order of first appearance, and a spelling number per cell. A
// genotype column thus holds one byte per cell, and a value is read as a number only once.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "scaled_cells.hpp"

namespace forests {

// Spellings numbered 0, 1, ...: first those held as text in one string, then numbers printed
// with `decimals` decimals, held as their scaled keys, which cost no text until asked for.
struct SpellingList {
  std::string text;
  std::vector<std::uint32_t> start{0};
  std::vector<std::int32_t> printed;
  int decimals = 0;

  int size() const { return texts() + static_cast<int>(printed.size()); }
  int texts() const { return static_cast<int>(start.size()) - 1; }
  // A spelling held as text.
  std::string_view view(int k) const { return std::string_view(text.data() + start[k], start[k + 1] - start[k]); }
  std::string operator[](int k) const {
    return k < texts() ? std::string(view(k)) : scaled_spelling(printed[k - texts()], decimals);
  }
  bool same(int a, int b) const { return a < texts() && b < texts() ? view(a) == view(b) : (*this)[a] == (*this)[b]; }
  // Adds a spelling as text (before any printed one).
  void add(std::string_view spelling) {
    text.append(spelling);
    start.push_back(static_cast<std::uint32_t>(text.size()));
  }
};

// Distinct spellings of one column's cells, numbered 0, 1, ... in order of first appearance.
class SpellingTable {
 public:
  // The number of the spelling `token`, or -1 when it has not been seen (or the table no
  // longer finds spellings).
  int find(std::string_view token) const {
    if (slots_.empty()) return -1;
    const std::uint64_t key = key_of(token);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t s = slot_of(key);; s = (s + 1) & mask) {
      const Slot& slot = slots_[s];
      if (slot.id < 0) return -1;
      if (slot.key == key && slot.len == token.size() && (token.size() <= 8 || spelling(slot.id) == token))
        return slot.id;
    }
  }

  // Enters a spelling not seen before; returns its number.
  int add(std::string_view token);

  int size() const { return list_.size(); }

  // From now on every cell is entered as a spelling of its own, unsought: for columns whose
  // cells are nearly all spelled differently, where looking up costs more than it saves.
  void stop_finding() {
    std::vector<Slot>().swap(slots_);
    finding_ = false;
  }
  bool finding() const { return finding_; }
  // A spelling held as text: all of a table that finds.
  std::string_view spelling(int k) const { return list_.view(k); }
  const SpellingList& list() const { return list_; }
  // Takes spellings that are never looked up.
  void adopt(SpellingList list) {
    stop_finding();
    list_ = std::move(list);
  }
  // Hands over the spellings; the table is done with.
  SpellingList release() {
    std::vector<Slot>().swap(slots_);
    return std::move(list_);
  }

 private:
  struct Slot {
    std::uint64_t key = 0;
    std::uint32_t len = 0;
    std::int32_t id = -1;  // -1: empty
  };

  // Tokens of up to 8 bytes are their own key; longer ones are hashed (and compared in full).
  static std::uint64_t key_of(std::string_view token) {
    std::uint64_t key = 0;
    if (token.size() <= 8) {
      for (std::size_t i = 0; i < token.size(); ++i)
        key |= static_cast<std::uint64_t>(static_cast<unsigned char>(token[i])) << (8 * i);
      return key;
    }
    key = 14695981039346656037ull;
    for (char c : token) key = (key ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return key;
  }
  std::size_t slot_of(std::uint64_t key) const { return (key * 0x9E3779B97F4A7C15ull) >> shift_; }
  void place(std::uint64_t key, std::uint32_t len, int id);

  std::vector<Slot> slots_;  // open addressing: a power of two in size, at most half full
  int shift_ = 64;
  bool finding_ = true;
  SpellingList list_;
};

// Spelling numbers of a column's cells in reading order, in 1, 2 or 4 bytes as they need.
class SpellingCells {
 public:
  void push(std::uint32_t k) {
    if (k > limit_) widen(k);
    if ((size_ + 1) * width_ > bytes_.size()) bytes_.resize(std::max<std::size_t>(64, 2 * bytes_.size()));
    std::uint8_t* at = bytes_.data() + size_ * width_;
    switch (width_) {
      case 1: *at = static_cast<std::uint8_t>(k); break;
      case 2: { const auto v = static_cast<std::uint16_t>(k); std::memcpy(at, &v, 2); break; }
      default: std::memcpy(at, &k, 4); break;
    }
    ++size_;
  }
  // Replaces the cells by `numbers`, each below `count`.
  void assign(const std::vector<std::uint32_t>& numbers, std::uint32_t count);
  // Appends n spelling numbers below 256.
  void append_small(const std::uint8_t* k, std::size_t n) {
    if (width_ != 1) {
      for (std::size_t i = 0; i < n; ++i) push(k[i]);
      return;
    }
    if (size_ + n > bytes_.size()) bytes_.resize(std::max<std::size_t>({64, 2 * bytes_.size(), size_ + n}));
    std::memcpy(bytes_.data() + size_, k, n);
    size_ += n;
  }
  std::size_t size() const { return size_; }
  // Bytes a cell takes (1, 2 or 4), and the cells as stored.
  std::uint32_t width() const { return width_; }
  const std::uint8_t* data() const { return bytes_.data(); }
  // Where the next cell goes, to be fetched ahead of appending.
  const std::uint8_t* end() const { return bytes_.data() + size_ * width_; }
  // Calls f(i, k) for every cell in order (the count read once: f may store bytes, which could
  // otherwise be this table's).
  template <class F>
  void for_each(F&& f) const {
    const std::uint8_t* b = bytes_.data();
    const std::size_t size = size_;
    if (width_ == 1) {
      for (std::size_t i = 0; i < size; ++i) f(i, static_cast<std::uint32_t>(b[i]));
    } else if (width_ == 2) {
      for (std::size_t i = 0; i < size; ++i) {
        std::uint16_t v;
        std::memcpy(&v, b + 2 * i, 2);
        f(i, static_cast<std::uint32_t>(v));
      }
    } else {
      for (std::size_t i = 0; i < size; ++i) {
        std::uint32_t v;
        std::memcpy(&v, b + 4 * i, 4);
        f(i, v);
      }
    }
  }

 private:
  void widen(std::uint32_t k);

  std::vector<std::uint8_t> bytes_;
  std::size_t size_ = 0;
  std::uint32_t width_ = 1;
  std::uint32_t limit_ = 0xff;
};

}  // namespace forests
