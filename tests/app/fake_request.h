// A request made from a table of variables, which records what is written to it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "web/web_request.h"

class FakeRequest : public web::TWebRequest {
 public:
  explicit FakeRequest(std::map<int, std::string> variables) : Variables_(std::move(variables)) {
    ReadRequestHead();
  }
  std::string VariableText(int index) const override {
    auto it = Variables_.find(index);
    return it == Variables_.end() ? std::string() : it->second;
  }
  std::string ReadBody(std::int32_t) override { return {}; }
  bool WriteText(std::string_view text) override {
    Written += text;
    return true;
  }

  std::string Written;

 private:
  std::map<int, std::string> Variables_;
};
