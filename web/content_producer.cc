#include "web/content_producer.h"

namespace web {

std::string TCustomContentProducer::ProduceContent() { return {}; }

std::string TCustomContentProducer::ProduceFromStream(std::istream&) { return ProduceContent(); }

std::string TCustomContentProducer::ProduceFromText(std::string_view) { return ProduceContent(); }

}  // namespace web
