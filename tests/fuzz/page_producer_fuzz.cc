// Expands the input as a template, once from a text and once from a stream that hands
// over a few bytes at a time, with a handler that answers every tag.
#include <sstream>
#include <streambuf>
#include <string>

#include "platform/exception.h"
#include "tests/fuzz/fuzz_check.h"
#include "web/page_producer.h"

using namespace platform;
using namespace web;

namespace {

// Hands the text out in pieces of at most seven bytes, so that the template scanner
// meets reads that end anywhere.
class TrickleBuffer : public std::streambuf {
 public:
  explicit TrickleBuffer(std::string_view text) : text_(text) {}

 protected:
  int_type underflow() override {
    if (offset_ == text_.size()) return traits_type::eof();
    const std::size_t piece = std::min<std::size_t>(7, text_.size() - offset_);
    piece_.assign(text_.substr(offset_, piece));
    offset_ += piece;
    setg(piece_.data(), piece_.data(), piece_.data() + piece_.size());
    return traits_type::to_int_type(piece_[0]);
  }

 private:
  std::string_view text_;
  std::string piece_;
  std::size_t offset_ = 0;
};

// The page, or the class name of the error that stopped the expansion.
template <typename Produce>
std::string Outcome(Produce produce) {
  try {
    return "page:" + produce();
  } catch (const Exception& e) {
    return "error:" + e.ClassName();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  TPageProducer producer;
  producer.OnHTMLTag = [](TPageProducer&, TTag tag, const std::string& name,
                          const TStringList& params, std::string& replaceText) {
    fuzz::Check(replaceText.empty(), "a tag's replacement starts empty");
    replaceText = "[" + std::to_string(static_cast<int>(tag)) + name;
    for (const std::string& param : params) replaceText += "|" + param;
    replaceText += "]";
  };

  const std::string fromText = Outcome([&] { return producer.ProduceFromText(text); });
  const std::string fromStream = Outcome([&] {
    TrickleBuffer buffer(text);
    std::istream stream(&buffer);
    return producer.ProduceFromStream(stream);
  });
  fuzz::Check(fromText == fromStream, "text and stream expand alike");

  // Without a "<" there is no tag: the template up to its first zero byte is the page.
  if (text.find('<') == std::string_view::npos && fromText.starts_with("page:")) {
    fuzz::Check(fromText.substr(5) == text.substr(0, text.find('\0')), "tagless text is copied");
  }
  return 0;
}
