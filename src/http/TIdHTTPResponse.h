// The response record: the status line and header fields of the last
// response head read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "http/TIdHeaderList.h"

namespace http {

struct TIdHTTPResponse {
  std::string ResponseText;  // the status line, whole
  int ResponseCode = -1;     // -1 when the status line carries no number
  TIdHeaderList RawHeaders;  // every header line in arrival order

  std::string Location;
  std::string Connection;
  std::string ProxyConnection;
  std::string ContentType;
  std::string ContentEncoding;
  std::string ContentLanguage;
  std::string ContentVersion;
  std::string CacheControl;
  std::string Pragma;
  std::string TransferEncoding;
  std::string Date;          // as sent
  std::string Expires;       // as sent
  std::string LastModified;  // as sent
  std::string Server;
  // -1 when absent, not a number or negative; the largest value for a
  // number too large to hold, which no body limit admits.
  std::int64_t ContentLength = -1;
  bool HasContentLength() const { return ContentLength >= 0; }
  // The head declares two different lengths ("Content-Length: 5" and
  // "Content-Length: 7", or "5, 7"): no body can be read by it.
  bool ContentLengthConflict = false;
  // A Content-Length value is signed ("+5"), or one of several values is
  // no number: readers could disagree on where the body ends.
  bool ContentLengthMalformed = false;
  std::vector<std::string> WWWAuthenticate;
  std::vector<std::string> ProxyAuthenticate;

  // Empties the record for a new head.
  void Clear() { *this = TIdHTTPResponse(); }
  // Sets the status line and the code read from it.
  void SetStatusLine(std::string line);
  // Fills the fields from RawHeaders.
  void ProcessHeaders();

 private:
  void ProcessContentLength();
};

// The status code of a status line: its second blank-separated word as a
// decimal number, or -1 when that word is not one.
int ParseStatusCode(const std::string& status_line);

// Reads a whole text as a decimal number with an optional sign; false when
// it is empty, holds anything else or does not fit.
bool ParseDecimal(std::string_view text, std::int64_t* value);

}  // namespace http
