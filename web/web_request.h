// The request of the one CGI exchange of the process: its variables, its method, its
// body and the decoded name=value fields of the query string and of the body. The
// base class holds what does not depend on where the request comes from; a derived
// class says how variables are looked up and how bytes are read and written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/string_list.h"

namespace web {

// Request methods an action can be restricted to; every other method is mtAny.
enum TMethodType : int { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// The fixed indexes of the request variables, as VariableText and VariableNumber take
// them. rvContent is the body read at creation, not an environment variable.
enum TRequestVariable : int {
  rvMethod = 0,
  rvProtocolVersion = 1,
  rvURL = 2,
  rvQuery = 3,
  rvPathInfo = 4,
  rvPathTranslated = 5,
  rvCacheControl = 6,
  rvDate = 7,
  rvAccept = 8,
  rvFrom = 9,
  rvHost = 10,
  rvIfModifiedSince = 11,
  rvReferer = 12,
  rvUserAgent = 13,
  rvContentEncoding = 14,
  rvContentType = 15,
  rvContentLength = 16,
  rvContentVersion = 17,
  rvDerivedFrom = 18,
  rvExpires = 19,
  rvTitle = 20,
  rvRemoteAddr = 21,
  rvRemoteHost = 22,
  rvScriptName = 23,
  rvServerPort = 24,
  rvContent = 25,
  rvConnection = 26,
  rvCookie = 27,
  rvAuthorization = 28,
};
inline constexpr int kRequestVariableCount = 29;

class TWebRequest {
 public:
  TWebRequest() = default;
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;
  virtual ~TWebRequest();

  // The text of the variable at index (see TRequestVariable), unchanged; index
  // rvContent gives the body. Empty for an unset variable or an index out of range.
  virtual std::string VariableText(int index) const = 0;

  // VariableText converted with the program's strict integer conversion; -1 when the
  // text is empty or is no 32-bit integer.
  std::int32_t VariableNumber(int index) const;

  // The method worked out from REQUEST_METHOD at creation, ignoring letter case.
  TMethodType MethodType() const { return MethodType_; }

  // The body as the one read at creation returned it (it may be shorter than the
  // announced content length).
  const std::string& Content() const { return Content_; }

  // One read of at most count bytes from the request's input; empty text without
  // reading when count is 0 or below, or when the read fails.
  virtual std::string ReadBody(std::int32_t count) = 0;

  // Writes the bytes to the response output; true when all of them were written.
  virtual bool WriteText(std::string_view text) = 0;

  // The query string split into decoded name=value lines, built on first use.
  // Raises EConvertError for a malformed "%" escape.
  const platform::TStringList& QueryFieldList();

  // The body split into decoded name=value lines, built on first use; when the body
  // is shorter than the content length, the missing bytes are read first, until the
  // body is whole or the input ends.
  // Empty without a positive content length. Raises EConvertError for a bad escape.
  const platform::TStringList& ContentFieldList();

  // Shorthands for the variables the program reads.
  std::string Method() const { return VariableText(rvMethod); }
  std::string ProtocolVersion() const { return VariableText(rvProtocolVersion); }
  std::string Query() const { return VariableText(rvQuery); }
  std::string PathInfo() const { return VariableText(rvPathInfo); }
  std::string Host() const { return VariableText(rvHost); }
  std::string ScriptName() const { return VariableText(rvScriptName); }
  std::int32_t ContentLength() const { return VariableNumber(rvContentLength); }

 protected:
  // Works out the method type and reads the body. A derived class calls this at the
  // end of its constructor, once VariableText and ReadBody work.
  void ReadRequestHead();

 private:
  TMethodType MethodType_ = mtAny;
  std::string Content_;
  std::unique_ptr<platform::TStringList> QueryFields_;
  std::unique_ptr<platform::TStringList> ContentFields_;
};

}  // namespace web
