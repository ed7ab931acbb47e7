// The root of the producers: something that can be asked for a page's content, from
// its own source, from a stream or from a text. This base produces nothing.
#pragma once

#include <istream>
#include <string>
#include <string_view>

namespace web {

class TCustomContentProducer {
 public:
  TCustomContentProducer() = default;
  TCustomContentProducer(const TCustomContentProducer&) = delete;
  TCustomContentProducer& operator=(const TCustomContentProducer&) = delete;
  virtual ~TCustomContentProducer() = default;

  // The content from the producer's own source; empty here.
  virtual std::string ProduceContent();

  // The content made from the bytes of stream; here the same as ProduceContent().
  virtual std::string ProduceFromStream(std::istream& stream);

  // The content made from text; here the same as ProduceContent().
  virtual std::string ProduceFromText(std::string_view text);
};

}  // namespace web
