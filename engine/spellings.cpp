// The spelling tables and cells of columns being read.
#include "spellings.hpp"

#include <algorithm>
#include <bit>

namespace forests {

void SpellingTable::place(std::uint64_t key, std::uint32_t len, int id) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t s = slot_of(key);
  while (slots_[s].id >= 0) s = (s + 1) & mask;
  slots_[s] = {key, len, id};
}

int SpellingTable::add(std::string_view token) {
  const int id = size();
  list_.add(token);
  if (!finding_) return id;
  if (2 * static_cast<std::size_t>(id + 1) > slots_.size()) {
    const std::vector<Slot> old = std::move(slots_);
    const std::size_t n = std::max<std::size_t>(8, 2 * old.size());
    slots_.assign(n, Slot{});
    shift_ = 64 - std::countr_zero(n);
    for (const Slot& s : old)
      if (s.id >= 0) place(s.key, s.len, s.id);
  }
  place(key_of(token), static_cast<std::uint32_t>(token.size()), id);
  return id;
}

void SpellingCells::assign(const std::vector<std::uint32_t>& numbers, std::uint32_t count) {
  width_ = count > 0x10000 ? 4 : count > 0x100 ? 2 : 1;
  limit_ = width_ == 4 ? 0xffffffffu : width_ == 2 ? 0xffff : 0xff;
  size_ = numbers.size();
  bytes_.assign(std::max<std::size_t>(64, size_ * width_), 0);
  std::uint8_t* at = bytes_.data();
  if (width_ == 1) {
    for (std::uint32_t k : numbers) *at++ = static_cast<std::uint8_t>(k);
  } else if (width_ == 2) {
    for (std::uint32_t k : numbers) {
      const auto v = static_cast<std::uint16_t>(k);
      std::memcpy(at, &v, 2);
      at += 2;
    }
  } else {
    std::memcpy(at, numbers.data(), 4 * size_);
  }
}

void SpellingCells::widen(std::uint32_t k) {
  const std::uint32_t width = k > 0xffff ? 4 : 2;
  std::vector<std::uint8_t> wider(std::max<std::size_t>(64, 2 * size_) * width);
  for_each([&](std::size_t i, std::uint32_t v) {
    if (width == 2) {
      const auto w = static_cast<std::uint16_t>(v);
      std::memcpy(wider.data() + 2 * i, &w, 2);
    } else {
      std::memcpy(wider.data() + 4 * i, &v, 4);
    }
  });
  bytes_.swap(wider);
  width_ = width;
  limit_ = width == 2 ? 0xffff : 0xffffffffu;
}

}  // namespace forests
