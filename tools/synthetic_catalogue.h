// Deterministic synthetic catalogues for benchmarks and load tests: the same seed gives
// the same books, byte for byte, on every machine. Titles, readings, authors, publishers,
// ISBN-13s, NDC call numbers and loan states look like a Japanese public library's.
#pragma once

#include <cstdint>
#include <ostream>

#include "tools/catalog_record.h"
#include "tools/text_encoding.h"

namespace tools {

class SyntheticCatalogue {
 public:
  SyntheticCatalogue(std::uint64_t seed, std::uint64_t firstId);

  // Answers the next book, its texts in UTF-8.
  CatalogRecord Next();

 private:
  // A 64-bit step of SplitMix64; the standard distributions differ between libraries,
  // so every draw is made from these bits directly.
  std::uint64_t Bits();
  // Answers a number in [0, bound).
  std::uint32_t Below(std::uint32_t bound);

  std::uint64_t state_;
  std::uint64_t nextId_;
};

// Writes the header and count books in the catalogue file format, in UTF-8 or Shift_JIS.
void WriteSyntheticCatalogue(std::ostream& out, std::uint64_t count, std::uint64_t seed,
                             std::uint64_t firstId, FileEncoding encoding);

}  // namespace tools
