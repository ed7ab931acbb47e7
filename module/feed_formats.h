// A page of search results written as an Atom 1.0 feed, an RSS 2.0 channel or a JSON
// object, each with the OpenSearch response elements (totalResults, startIndex,
// itemsPerPage and the query), for feed readers and other sites. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "module/record_formats.h"

namespace module {

struct FeedItem {
  BookFields book;
  std::string url;  // the book's permalink
};

struct FeedPage {
  std::string title;
  std::string searchTerms;  // the searched texts, one after another
  std::string selfUrl;      // the address of this feed
  std::string htmlUrl;      // the result list of the same search
  std::time_t answeredAt = 0;
  std::int64_t totalResults = 0;
  std::int64_t startIndex = 1;  // number of the first item, from 1
  std::int64_t itemsPerPage = 0;
  bool holdings = false;  // the call number and location written too (EXPORT_HOLDINGS=1)
  std::vector<FeedItem> items;
};

inline constexpr char kOpenSearchNamespace[] = "http://a9.com/-/spec/opensearch/1.1/";

// The Atom feed: one entry a book, its permalink as id and link, the fields a reader
// shows under the title in its summary (with holdings, the call number and location last).
std::string AtomFeed(const FeedPage& page);
// The RSS channel: one item a book, its permalink as link and guid, the summary of the
// Atom entry as its description.
std::string RssFeed(const FeedPage& page);
// The JSON object: the OpenSearch numbers and "items", every field of a book named
// ("location" with holdings).
std::string JsonFeed(const FeedPage& page);

// The text as a JSON string, quotes included: " and \ escaped, control characters as
// \u00XX.
std::string JsonString(const std::string& utf8);

}  // namespace module
