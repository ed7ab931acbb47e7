// Random Shift_JIS texts over the characters that the folding treats apart, for tests
// that hold two ways of matching against each other.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <vector>

namespace test_support {

// Characters the folding treats apart, and a few it leaves alone.
std::vector<std::string> FoldingAlphabet();

// FoldingAlphabet with the separators and forms of variant kanji of the loose mode.
std::vector<std::string> LooseFoldingAlphabet();

// Up to `most` characters of the alphabet, one character an element.
std::vector<std::string> RandomCharacters(std::mt19937& random,
                                          const std::vector<std::string>& alphabet, int most);

// The characters from `from` on, at most `count` of them, as one text.
std::string Joined(const std::vector<std::string>& characters, std::size_t from = 0,
                   std::size_t count = std::string::npos);

// Up to `most` random characters of the alphabet as one text.
std::string RandomText(std::mt19937& random, const std::vector<std::string>& alphabet, int most);

}  // namespace test_support
