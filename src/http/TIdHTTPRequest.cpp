#include "http/TIdHTTPRequest.h"

namespace http {

namespace {

void AddIfSet(TIdHeaderList& list, const char* name, const std::string& value) {
  if (!value.empty()) list.Add(std::string(name) + ": " + value);
}

}  // namespace

void TIdHTTPRequest::BuildHeaders(TIdHTTPProtocolVersion version) {
  RawHeaders.Clear();
  std::string connection = Connection;
  if (version == TIdHTTPProtocolVersion::pv1_0 && connection.empty()) connection = "keep-alive";
  AddIfSet(RawHeaders, "Connection", connection);
  AddIfSet(RawHeaders, "Content-Version", ContentVersion);
  AddIfSet(RawHeaders, "Content-Encoding", ContentEncoding);
  AddIfSet(RawHeaders, "Content-Language", ContentLanguage);
  AddIfSet(RawHeaders, "Content-Type", ContentType);
  if (ContentLength >= 0) RawHeaders.Add("Content-Length: " + std::to_string(ContentLength));
  AddIfSet(RawHeaders, "Cache-control", CacheControl);
  AddIfSet(RawHeaders, "Date", Date);
  AddIfSet(RawHeaders, "Expires", Expires);
  AddIfSet(RawHeaders, "Pragma", Pragma);
  for (std::size_t i = 0; i < CustomHeaders.Count(); ++i) RawHeaders.Add(CustomHeaders[i]);
  AddIfSet(RawHeaders, "Proxy-Connection", ProxyConnection);
  AddIfSet(RawHeaders, "Host", Host);
  AddIfSet(RawHeaders, "Accept", Accept);
  AddIfSet(RawHeaders, "Accept-Charset", AcceptCharSet);
  AddIfSet(RawHeaders, "Accept-Encoding", AcceptEncoding);
  AddIfSet(RawHeaders, "Accept-Language", AcceptLanguage);
  AddIfSet(RawHeaders, "From", From);
  AddIfSet(RawHeaders, "Referer", Referer);
  AddIfSet(RawHeaders, "User-Agent", UserAgent);
  AddIfSet(RawHeaders, "If-Modified-Since", LastModified);
  if (ContentRangeStart > 0 || ContentRangeEnd > 0) {
    std::string range = "bytes=" + std::to_string(ContentRangeStart) + "-";
    if (ContentRangeEnd > 0) range += std::to_string(ContentRangeEnd);
    RawHeaders.Add("Range: " + range);
  }
}

}  // namespace http
