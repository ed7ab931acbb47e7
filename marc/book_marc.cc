#include "marc/book_marc.h"

#include <initializer_list>
#include <utility>

namespace marc {

namespace {

// Adds the field with the subfields that have a value; nothing when none has.
void AddField(Record& record, std::string tag, char indicator1, char indicator2,
              std::initializer_list<std::pair<char, std::string>> subfields) {
  DataField field{std::move(tag), indicator1, indicator2, {}};
  for (const auto& [code, value] : subfields) {
    if (!value.empty()) field.subfields.push_back({code, value});
  }
  if (!field.subfields.empty()) record.dataFields.push_back(std::move(field));
}

// A vernacular text and its reading: the reading in the regular field linked to an 880
// field holding the vernacular, or the vernacular alone when there is no reading.
void AddReadField(Record& record, int& link, const std::string& tag, char indicator1,
                  char indicator2, const std::string& vernacular, const std::string& reading) {
  if (vernacular.empty() && reading.empty()) return;
  if (reading.empty() || vernacular.empty()) {
    AddField(record, tag, indicator1, indicator2,
             {{'a', vernacular.empty() ? reading : vernacular}});
    return;
  }
  ++link;
  const std::string number = (link < 10 ? "0" : "") + std::to_string(link);
  AddField(record, tag, indicator1, indicator2, {{'6', "880-" + number}, {'a', reading}});
  AddField(record, "880", indicator1, indicator2,
           {{'6', tag + "-" + number + "/$1"}, {'a', vernacular}});
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') + 1 - first);
}

}  // namespace

std::string CallNumberClass(const std::string& callNumber) {
  return Trimmed(callNumber.substr(0, callNumber.find('/')));
}

Record BookRecord(const BookFields& book) {
  Record record{kBookLeader, {}, {}};
  if (!book.key.empty()) record.controlFields.push_back({"001", book.key});
  AddField(record, "020", ' ', ' ',
           {{'a', book.isbn}, {'c', book.price.empty() ? "" : "JPY" + book.price}});
  const std::string numberClass = CallNumberClass(book.callNumber);
  AddField(record, "084", ' ', ' ', {{'a', numberClass}, {'2', numberClass.empty() ? "" : "njb"}});
  // The 880 fields follow the fields they are linked to, in the order they are numbered.
  int link = 0;
  Record linked{{}, {}, {}};
  AddReadField(linked, link, "100", '1', ' ', book.author, book.authorReading);
  const bool hasAuthor = !linked.dataFields.empty();
  AddReadField(linked, link, "245", hasAuthor ? '1' : '0', '0', book.title, book.titleReading);
  for (DataField& field : linked.dataFields) {
    if (field.tag != "880") record.dataFields.push_back(field);
  }
  AddField(record, "260", ' ', ' ', {{'b', book.publisher}, {'c', book.year}});
  AddField(record, "300", ' ', ' ',
           {{'a', book.pages.empty() ? "" : book.pages + " p."}, {'c', book.size}});
  AddField(record, "520", ' ', ' ', {{'a', book.contents}});
  AddField(record, "650", ' ', '4', {{'a', book.subject}});
  AddField(record, "852", ' ', ' ', {{'b', book.location}, {'h', book.callNumber}});
  for (DataField& field : linked.dataFields) {
    if (field.tag == "880") record.dataFields.push_back(std::move(field));
  }
  return record;
}

}  // namespace marc
