#include "tests/support/folding_texts.h"

namespace test_support {

std::vector<std::string> FoldingAlphabet() {
  std::vector<std::string> alphabet = {"A",    "z",    "5",    "%",    "_",    "\\",   "'",
                                       "\xb6", "\xca", "\xb3", "\xde", "\xdf", "\xb0", "\xa5"};
  const char* doubles[] = {
      "\x82\xa9", "\x83\x4a", "\x82\xaa", "\x83\x4b", "\x82\xcd",  // かカがガは
      "\x83\x6e", "\x83\x6f", "\x83\x70", "\x83\x94", "\x82\x60",  // ハバパヴＡ
      "\x82\x81", "\x82\x54", "\x81\x93", "\x81\x51", "\x81\x5f",  // ａ５％＿＼
      "\x81\x4a", "\x81\x5b", "\x93\xfa", "\x83\x5c", "\x95\x5c",  // ゛ー日ソ表
      "\x81\x40", "\x82\xf1"};                                     // 全角空白 ん
  for (const char* c : doubles) alphabet.push_back(c);
  return alphabet;
}

std::vector<std::string> RandomCharacters(std::mt19937& random,
                                          const std::vector<std::string>& alphabet, int most) {
  std::vector<std::string> characters;
  const int length = std::uniform_int_distribution<int>(0, most)(random);
  for (int i = 0; i < length; ++i)
    characters.push_back(
        alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)]);
  return characters;
}

std::string Joined(const std::vector<std::string>& characters, std::size_t from,
                   std::size_t count) {
  std::string text;
  for (std::size_t i = from; i < characters.size() && i - from < count; ++i) text += characters[i];
  return text;
}

std::string RandomText(std::mt19937& random, const std::vector<std::string>& alphabet, int most) {
  return Joined(RandomCharacters(random, alphabet, most));
}

std::vector<std::string> LooseFoldingAlphabet() {
  std::vector<std::string> alphabet = FoldingAlphabet();
  for (const char* c : {"-", ",", " ", "\x81\x45", "\x81\x41", "\x81\x5d", "\x81\x5c", "\x81\x7c",
                        "\x8d\x82", "\xfb\xfc", "\xee\xe0", "\x95\xd3", "\xe7\xb2",
                        // punctuation: 。 「 」 ！ （ ｡ ｢ . / ( ?
                        "\x81\x42", "\x81\x75", "\x81\x76", "\x81\x49", "\x81\x69", "\xa1", "\xa2",
                        ".", "/", "(", "?"}) {
    alphabet.push_back(c);
  }
  return alphabet;
}

}  // namespace test_support
