#include "marc/marc_record.h"

#include "marc/xml_text.h"

namespace marc {

std::string MarcXml(const Record& record) {
  std::string xml = "<record xmlns=\"http://www.loc.gov/MARC21/slim\">\n<leader>" +
                    XmlText(record.leader) + "</leader>\n";
  for (const ControlField& field : record.controlFields) {
    xml += "<controlfield tag=\"" + XmlText(field.tag) + "\">" + XmlText(field.value) +
           "</controlfield>\n";
  }
  for (const DataField& field : record.dataFields) {
    xml += "<datafield tag=\"" + XmlText(field.tag) + "\" ind1=\"" +
           XmlText(std::string(1, field.indicator1)) + "\" ind2=\"" +
           XmlText(std::string(1, field.indicator2)) + "\">\n";
    for (const Subfield& subfield : field.subfields) {
      xml += "<subfield code=\"" + XmlText(std::string(1, subfield.code)) + "\">" +
             XmlText(subfield.value) + "</subfield>\n";
    }
    xml += "</datafield>\n";
  }
  return xml + "</record>\n";
}

}  // namespace marc
