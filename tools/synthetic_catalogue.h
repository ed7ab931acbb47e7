// Deterministic synthetic catalogues for benchmarks and load tests: the same seed gives
// the same books, byte for byte, on every machine. Titles, readings, authors, publishers,
// ISBN-13s, NDC call numbers and loan states look like a Japanese public library's.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/catalog_record.h"
#include "tools/text_encoding.h"

namespace tools {

class SyntheticCatalogue {
 public:
  // realistic: titles and authors as a real catalogue holds them (see Realistic) instead
  // of the few thousand titles each repeated; the other columns are drawn alike.
  SyntheticCatalogue(std::uint64_t seed, std::uint64_t firstId, bool realistic = false);

  // Answers the next book, its texts in UTF-8.
  CatalogRecord Next();

 private:
  // A 64-bit step of SplitMix64; the standard distributions differ between libraries,
  // so every draw is made from these bits directly.
  std::uint64_t Bits();
  // Answers a number in [0, bound).
  std::uint32_t Below(std::uint32_t bound);
  // Answers a number in [0, bound): the first head values about equally often, larger
  // ones ever more rarely (about as 1/x): a long tail of rare values behind a realistic
  // head of common ones.
  std::uint32_t LongTail(std::uint32_t head, std::uint32_t bound);
  // Replaces the title and author of r: mostly distinct titles of two-kanji words drawn
  // with a long tail, some with a subtitle, series volumes (第3巻, 上・下), editions of a
  // recent work by another publisher, and authors with many books and with one.
  void Realistic(CatalogRecord& r);

  struct Work {
    std::string title, titleKana, author, authorKana;
  };

  std::uint64_t state_;
  std::uint64_t nextId_;
  bool realistic_;
  std::vector<Work> recent_;  // works that a later edition may repeat, a ring
};

// Writes the header and count books in the catalogue file format, in UTF-8 or Shift_JIS.
void WriteSyntheticCatalogue(std::ostream& out, std::uint64_t count, std::uint64_t seed,
                             std::uint64_t firstId, FileEncoding encoding, bool realistic = false);

}  // namespace tools
