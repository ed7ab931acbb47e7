#include "module/feed_formats.h"

#include <cstdio>
#include <initializer_list>
#include <utility>
#include <vector>

#include "marc/marcxml_writer.h"

namespace module {

using marc::XmlText;

namespace {

std::string UtcTime(std::time_t time, const char* format) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[64];
  return std::string(text, std::strftime(text, sizeof text, format, &utc));
}

// The fields of a book a reader shows under its title, joined by " / ".
std::string Summary(const BookFields& book, bool holdings) {
  std::vector<const std::string*> values = {&book.author, &book.publisher, &book.year, &book.isbn};
  if (holdings) values.insert(values.end(), {&book.callNumber, &book.location});
  std::string summary;
  for (const std::string* value : values) {
    if (!value->empty()) summary += (summary.empty() ? "" : " / ") + *value;
  }
  return summary;
}

std::string OpenSearchElements(const FeedPage& page) {
  return "<opensearch:totalResults>" + std::to_string(page.totalResults) +
         "</opensearch:totalResults>\n<opensearch:startIndex>" + std::to_string(page.startIndex) +
         "</opensearch:startIndex>\n<opensearch:itemsPerPage>" + std::to_string(page.itemsPerPage) +
         "</opensearch:itemsPerPage>\n<opensearch:Query role=\"request\" searchTerms=\"" +
         XmlText(page.searchTerms) + "\" startIndex=\"" + std::to_string(page.startIndex) +
         "\"/>\n";
}

}  // namespace

std::string AtomFeed(const FeedPage& page) {
  const std::string updated = UtcTime(page.answeredAt, "%Y-%m-%dT%H:%M:%SZ");
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:opensearch=\"" +
      std::string(kOpenSearchNamespace) + "\">\n<title>" + XmlText(page.title) + "</title>\n<id>" +
      XmlText(page.selfUrl) + "</id>\n<updated>" + updated +
      "</updated>\n<author><name>liraweb</name></author>\n"
      "<link rel=\"self\" type=\"application/atom+xml\" href=\"" +
      XmlText(page.selfUrl) + "\"/>\n<link rel=\"alternate\" type=\"text/html\" href=\"" +
      XmlText(page.htmlUrl) + "\"/>\n" + OpenSearchElements(page);
  for (const FeedItem& item : page.items) {
    const BookFields& book = item.book;
    xml += "<entry>\n<title>" + XmlText(book.title) + "</title>\n<id>" + XmlText(item.url) +
           "</id>\n<link rel=\"alternate\" type=\"text/html\" href=\"" + XmlText(item.url) +
           "\"/>\n<updated>" + updated + "</updated>\n";
    if (!book.author.empty()) xml += "<author><name>" + XmlText(book.author) + "</name></author>\n";
    if (!book.subject.empty()) xml += "<category term=\"" + XmlText(book.subject) + "\"/>\n";
    const std::string summary = Summary(book, page.holdings);
    if (!summary.empty()) xml += "<summary>" + XmlText(summary) + "</summary>\n";
    xml += "</entry>\n";
  }
  return xml + "</feed>\n";
}

std::string RssFeed(const FeedPage& page) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\" xmlns:opensearch=\"" +
      std::string(kOpenSearchNamespace) +
      "\" xmlns:atom=\"http://www.w3.org/2005/Atom\" "
      "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n<channel>\n<title>" +
      XmlText(page.title) + "</title>\n<link>" + XmlText(page.htmlUrl) + "</link>\n<description>" +
      XmlText(page.title) + "</description>\n<lastBuildDate>" +
      UtcTime(page.answeredAt, "%a, %d %b %Y %H:%M:%S GMT") +
      "</lastBuildDate>\n<atom:link rel=\"self\" type=\"application/rss+xml\" href=\"" +
      XmlText(page.selfUrl) + "\"/>\n" + OpenSearchElements(page);
  for (const FeedItem& item : page.items) {
    const BookFields& book = item.book;
    xml += "<item>\n<title>" + XmlText(book.title) + "</title>\n<link>" + XmlText(item.url) +
           "</link>\n<guid isPermaLink=\"true\">" + XmlText(item.url) + "</guid>\n";
    const std::string summary = Summary(book, page.holdings);
    if (!summary.empty()) xml += "<description>" + XmlText(summary) + "</description>\n";
    if (!book.author.empty()) xml += "<dc:creator>" + XmlText(book.author) + "</dc:creator>\n";
    if (!book.subject.empty()) xml += "<category>" + XmlText(book.subject) + "</category>\n";
    xml += "</item>\n";
  }
  return xml + "</channel>\n</rss>\n";
}

std::string JsonString(const std::string& utf8) {
  std::string json = "\"";
  for (const char c : utf8) {
    if (c == '"' || c == '\\') {
      json.push_back('\\');
      json.push_back(c);
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      json += escape;
    } else {
      json.push_back(c);
    }
  }
  return json + "\"";
}

std::string JsonFeed(const FeedPage& page) {
  std::string json = "{\"title\":" + JsonString(page.title) +
                     ",\"link\":" + JsonString(page.htmlUrl) +
                     ",\"self\":" + JsonString(page.selfUrl) +
                     ",\"updated\":" + JsonString(UtcTime(page.answeredAt, "%Y-%m-%dT%H:%M:%SZ")) +
                     ",\"query\":{\"searchTerms\":" + JsonString(page.searchTerms) +
                     "},\"totalResults\":" + std::to_string(page.totalResults) +
                     ",\"startIndex\":" + std::to_string(page.startIndex) +
                     ",\"itemsPerPage\":" + std::to_string(page.itemsPerPage) + ",\"items\":[";
  bool first = true;
  for (const FeedItem& item : page.items) {
    const BookFields& book = item.book;
    const std::initializer_list<std::pair<const char*, const std::string*>> fields = {
        {"id", &book.key},
        {"url", &item.url},
        {"title", &book.title},
        {"titleReading", &book.titleReading},
        {"author", &book.author},
        {"authorReading", &book.authorReading},
        {"publisher", &book.publisher},
        {"year", &book.year},
        {"isbn", &book.isbn},
        {"subject", &book.subject},
        {"callNumber", &book.callNumber},
    };
    json += first ? "{" : ",{";
    first = false;
    bool firstField = true;
    for (const auto& [name, value] : fields) {
      json += (firstField ? "\"" : ",\"") + std::string(name) + "\":" + JsonString(*value);
      firstField = false;
    }
    if (page.holdings) json += ",\"location\":" + JsonString(book.location);
    json += "}";
  }
  return json + "]}\n";
}

}  // namespace module
