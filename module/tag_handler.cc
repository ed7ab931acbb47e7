// Answers the tags of the four templates from the state the running action left.
#include <cstdio>
#include <string>

#include "module/action_guard.h"
#include "web/html_text.h"
#include "module/main_mod.h"
#include "platform/int_conversion.h"
#include "module/japanese_texts.h"

namespace module {

using platform::FieldValue;
using platform::StrToInt;
using platform::TStringList;
using web::EscapeHtml;
using web::TPageProducer;
using web::TTag;

namespace {

enum class TagSource {
  Count,
  Conditions,
  Rows,
  PageLink,
  BackToHome,
  LoanState,
  RequestField,
  RowField,
  ErrorName,
  ErrorMessage,
  SearchTime
};

struct TagRule {
  std::string_view name;
  TagSource source;
  std::string_view field;  // request field or column, for the kinds that read one
};

// Tag names compare exactly, letter case included; the first row that matches decides.
constexpr TagRule kTagRules[] = {
    {"TOTAL_FIND_COUNT", TagSource::Count, ""},
    {"QUERY_KEY_LIST", TagSource::Conditions, ""},
    {"FIND_VALUE_LIST", TagSource::Rows, ""},
    {"PRIOR_PAGE", TagSource::PageLink, ""},
    {"NEXT_PAGE", TagSource::PageLink, ""},
    {"BACK_TO_HOME", TagSource::BackToHome, ""},
    {"KASIDASI", TagSource::LoanState, "RENT"},
    {"BOOKID", TagSource::RequestField, "ID"},
    {"BOOKNAME", TagSource::RequestField, "BNAME"},
    {"SYOKANA", TagSource::RequestField, "BKANA"},
    {"CYOSYA", TagSource::RequestField, "ANAME"},
    {"CYOKANA", TagSource::RequestField, "AKANA"},
    {"SYUPAN", TagSource::RequestField, "PUB"},
    {"ISBN", TagSource::RequestField, "ISBN"},
    {"NDC", TagSource::RequestField, "NDC"},
    {"KENMEI", TagSource::RequestField, "SUB"},
    {"PRICE", TagSource::RowField, "MS_KINGAKU"},
    {"YEAR", TagSource::RowField, "MS_SYUNEN"},
    {"PAGE", TagSource::RowField, "MS_PAGE"},
    {"BOOKSIZE", TagSource::RowField, "MS_OOKISA"},
    {"NAIYO", TagSource::RowField, "MS_NAIYO"},
    {"WHEREABOUT", TagSource::RowField, "SY_SYOZAI"},
    {"ERR_NAME", TagSource::ErrorName, ""},
    {"ERR_MSG", TagSource::ErrorMessage, ""},
    {"SEARCH_TIME", TagSource::SearchTime, ""},
};

// A value whose column was empty arrives as exactly two blanks and is shown as "---".
std::string DashWhenEmpty(std::string value) { return value == "  " ? "---" : value; }

std::string FormatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.15g", seconds);
  return text;
}

}  // namespace

void TMainMod::PageProducerHTMLTag(TPageProducer&, TTag tag, const std::string& tagString,
                                   const TStringList& tagParams, std::string& replaceText) {
  if (tag != TTag::Custom) return;
  const TagRule* rule = nullptr;
  for (const TagRule& candidate : kTagRules) {
    if (candidate.name == tagString) {
      rule = &candidate;
      break;
    }
  }
  if (!rule) {
    RunLogged("ReplaceTag", [&] { AnswerPageTag(tagString, tagParams, replaceText); });
    return;
  }
  // Request fields were decoded once when the request was read; the links were written
  // URL-encoded on top of that, so the values are decoded a second time here.
  auto decodedField = [&](std::string_view name) {
    NMURL->InputString = RequestFields ? FieldValue(*RequestFields, name) : std::string();
    return NMURL->GetDecodeString();
  };
  RunLogged("ReplaceTag", [&] {
    switch (rule->source) {
      case TagSource::Count:
        replaceText = std::to_string(qMaster->RowCount());
        break;
      case TagSource::Conditions:
        replaceText = BuildConditionTable();
        break;
      case TagSource::Rows:
        replaceText = BuildResultRows();
        break;
      case TagSource::PageLink:
        MakePageLink(tagString, replaceText);
        break;
      case TagSource::BackToHome:
        replaceText = "<a href=\"" + ScriptUrl + "\"" + std::string(texts::kBackToHomeLinkText);
        break;
      case TagSource::LoanState:
        switch (StrToInt(decodedField(rule->field))) {
          case 0:
            replaceText = texts::kLoanAvailable;
            break;
          case 1:
            replaceText = texts::kLoanLentOut;
            break;
          case 2:
            replaceText = texts::kLoanNotForLoan;
            break;
          default:
            break;
        }
        break;
      case TagSource::RequestField:
        // Written as character references: the value comes from a link anyone can forge.
        if (RequestFields) replaceText = EscapeHtml(DashWhenEmpty(decodedField(rule->field)));
        break;
      case TagSource::RowField:
        replaceText = DashWhenEmpty(qMaster->FieldText(rule->field) + "  ");
        break;
      // Error texts may quote request bytes (a bad escape, a database message), so
      // they are written as character references too.
      case TagSource::ErrorName:
        replaceText = EscapeHtml(ErrorName);
        break;
      case TagSource::ErrorMessage:
        replaceText = EscapeHtml(ErrorMessage);
        break;
      case TagSource::SearchTime:
        replaceText = FormatSeconds(SearchTime);
        break;
    }
  });
}

}  // namespace module
