// A set of rowids held as one bitmap of 2^16 bits for each chunk of rowids that holds
// any: what a search keeps of the rows the index gives it. A word most books hold costs
// 8 KiB a chunk (1.2 MiB at 10,000,000 books) where a list of rowids would cost 8 bytes
// a row, and its count is a count of bits.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace db::searchindex {

class RowBitmap {
  static constexpr int kWords = 1024;  // 2^16 bits

 public:
  // A chunk's bits: bit b of word w for the rowid of low bits w * 64 + b.
  using Words = std::array<std::uint64_t, kWords>;

  RowBitmap() = default;
  // The set of the rowids, in any order.
  explicit RowBitmap(const std::vector<std::int64_t>& rowids);

  void Add(const std::vector<std::int64_t>& rowids);
  // Adds the rowids of the chunk whose bits are set in `bits`, kChunkRows / 8 bytes,
  // bit l % 8 of byte l / 8 for the rowid of low bits l.
  void AddChunkBits(std::int64_t chunk, std::string_view bits);
  // Adds the rowids of the chunk whose bits are set in `words`.
  void AddChunkWords(std::int64_t chunk, const Words& words);
  // Keeps the rowids that either set holds.
  void Unite(const RowBitmap& other);
  // Keeps the rowids that both sets hold.
  void Intersect(const RowBitmap& other);
  // Keeps the rowids that the other set does not hold.
  void Subtract(const RowBitmap& other);

  // True when the set holds the rowid.
  bool Contains(std::int64_t rowid) const;
  // How many rowids the set holds.
  std::int64_t Count() const;
  // How many chunks hold a row.
  std::size_t Chunks() const { return chunks_.size(); }
  // The smallest rowid of the set, or nullopt when it is empty.
  std::optional<std::int64_t> First() const;
  // The smallest rowid of the set above `rowid`, or nullopt when there is none.
  std::optional<std::int64_t> After(std::int64_t rowid) const;
  // The rowid of the set that n others of the set come before, counting from `rowid`
  // (n = 0: the smallest at or above it), or nullopt when the set holds fewer. Counts
  // the bits of whole words, not one rowid at a time.
  std::optional<std::int64_t> NthFrom(std::int64_t rowid, std::int64_t n) const;
  // Calls visit(rowids) for each chunk of rowids the set holds any of, in ascending
  // order, with that chunk's rowids ascending: walking the whole set, cheaper than After.
  template <typename Visit>
  void ForEachChunk(Visit visit) const {
    std::vector<std::int64_t> rowids;
    for (const auto& [chunk, words] : chunks_) {
      rowids.clear();
      for (int word = 0; word < kWords; ++word) {
        for (std::uint64_t bits = words[word]; bits != 0; bits &= bits - 1) {
          rowids.push_back((chunk << 16) | (word * 64 + std::countr_zero(bits)));
        }
      }
      visit(rowids);
    }
  }
  // Calls visit(chunk, words) for each chunk of rowids the set holds any of, ascending:
  // a walk that makes no list of the rowids.
  template <typename Visit>
  void ForEachChunkWords(Visit visit) const {
    for (const auto& [chunk, words] : chunks_) visit(chunk, words);
  }

 private:

  // The first rowid at or above bit `bit` of chunk `at` and the chunks after it.
  std::optional<std::int64_t> FromBit(std::map<std::int64_t, Words>::const_iterator at,
                                      int bit) const;

  std::map<std::int64_t, Words> chunks_;  // by rowid >> 16; no chunk is all zero bits
};

}  // namespace db::searchindex
