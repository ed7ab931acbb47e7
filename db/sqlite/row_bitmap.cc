#include "db/sqlite/row_bitmap.h"

#include <algorithm>
#include <tuple>

#include "db/sqlite/search_index_format.h"
#include "platform/invariant.h"

namespace db::searchindex {

RowBitmap::RowBitmap(const std::vector<std::int64_t>& rowids) { Add(rowids); }

void RowBitmap::Add(const std::vector<std::int64_t>& rowids) {
  // Rowids come mostly in order: the chunk is looked up again only when it changes.
  auto at = chunks_.end();
  for (std::int64_t rowid : rowids) {
    if (at == chunks_.end() || at->first != ChunkOf(rowid)) {
      bool added = false;
      std::tie(at, added) = chunks_.try_emplace(ChunkOf(rowid));
      if (added) at->second.fill(0);
    }
    const std::uint16_t low = LowBits(rowid);
    at->second[low >> 6] |= std::uint64_t{1} << (low & 63);
  }
}

void RowBitmap::AddChunkBits(std::int64_t chunk, std::string_view bits) {
  LIRAWEB_ASSERT(bits.size() == kWords * 8);
  Words words;
  for (int w = 0; w < kWords; ++w) {
    std::uint64_t word = 0;
    for (int b = 0; b < 8; ++b) {
      word |= std::uint64_t{static_cast<unsigned char>(bits[w * 8 + b])} << (8 * b);
    }
    words[w] = word;
  }
  AddChunkWords(chunk, words);
}

void RowBitmap::AddChunkWords(std::int64_t chunk, const Words& words) {
  if (std::all_of(words.begin(), words.end(), [](std::uint64_t word) { return word == 0; }))
    return;  // no chunk is all zero bits
  auto [at, added] = chunks_.try_emplace(chunk, words);
  if (added) return;
  for (int w = 0; w < kWords; ++w) at->second[w] |= words[w];
}

void RowBitmap::Unite(const RowBitmap& other) {
  for (const auto& [chunk, bits] : other.chunks_) {
    auto [at, added] = chunks_.try_emplace(chunk, bits);
    if (added) continue;
    for (int w = 0; w < kWords; ++w) at->second[w] |= bits[w];
  }
}

void RowBitmap::Intersect(const RowBitmap& other) {
  for (auto at = chunks_.begin(); at != chunks_.end();) {
    const auto theirs = other.chunks_.find(at->first);
    std::uint64_t any = 0;
    if (theirs != other.chunks_.end()) {
      for (int w = 0; w < kWords; ++w) any |= at->second[w] &= theirs->second[w];
    }
    at = any ? std::next(at) : chunks_.erase(at);
  }
}

void RowBitmap::Subtract(const RowBitmap& other) {
  for (auto at = chunks_.begin(); at != chunks_.end();) {
    const auto theirs = other.chunks_.find(at->first);
    std::uint64_t any = theirs == other.chunks_.end();
    if (theirs != other.chunks_.end()) {
      for (int w = 0; w < kWords; ++w) any |= at->second[w] &= ~theirs->second[w];
    }
    at = any ? std::next(at) : chunks_.erase(at);
  }
}

bool RowBitmap::Contains(std::int64_t rowid) const {
  const auto at = chunks_.find(ChunkOf(rowid));
  if (at == chunks_.end()) return false;
  const std::uint16_t low = LowBits(rowid);
  return (at->second[low >> 6] >> (low & 63)) & 1;
}

std::int64_t RowBitmap::Count() const {
  std::int64_t count = 0;
  for (const auto& [chunk, bits] : chunks_) {
    for (std::uint64_t word : bits) count += __builtin_popcountll(word);
  }
  return count;
}

std::optional<std::int64_t> RowBitmap::First() const { return FromBit(chunks_.begin(), 0); }

std::optional<std::int64_t> RowBitmap::After(std::int64_t rowid) const {
  const std::int64_t chunk = ChunkOf(rowid);
  const int bit = LowBits(rowid) + 1;
  if (bit == kChunkRows) return FromBit(chunks_.upper_bound(chunk), 0);
  auto at = chunks_.lower_bound(chunk);
  return at != chunks_.end() && at->first == chunk ? FromBit(at, bit) : FromBit(at, 0);
}

std::optional<std::int64_t> RowBitmap::NthFrom(std::int64_t rowid, std::int64_t n) const {
  int bit = LowBits(rowid);
  for (auto at = chunks_.lower_bound(ChunkOf(rowid)); at != chunks_.end(); ++at, bit = 0) {
    if (at->first != ChunkOf(rowid)) bit = 0;
    for (int w = bit >> 6; w < kWords; ++w) {
      std::uint64_t word = at->second[w];
      if (w == bit >> 6) word &= ~std::uint64_t{0} << (bit & 63);
      const int held = __builtin_popcountll(word);
      if (n >= held) {
        n -= held;
        continue;
      }
      for (; n > 0; --n) word &= word - 1;  // drops the lowest bits before the one wanted
      return at->first * kChunkRows + w * 64 + __builtin_ctzll(word);
    }
  }
  return std::nullopt;
}

std::optional<std::int64_t> RowBitmap::FromBit(std::map<std::int64_t, Words>::const_iterator at,
                                               int bit) const {
  for (; at != chunks_.end(); ++at, bit = 0) {
    for (int w = bit >> 6; w < kWords; ++w) {
      std::uint64_t word = at->second[w];
      if (w == bit >> 6) word &= ~std::uint64_t{0} << (bit & 63);
      if (word) return at->first * kChunkRows + w * 64 + __builtin_ctzll(word);
    }
    // Read from its first bit, every chunk has a bit set: none is all zero bits.
    LIRAWEB_ASSERT(bit != 0);
  }
  return std::nullopt;
}

}  // namespace db::searchindex
