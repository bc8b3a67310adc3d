#include "support/TestText.h"

namespace testing_support {

std::vector<std::string> SplitAt(std::string_view text, std::string_view separator,
                                 bool keep_last) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string_view::npos;
       start = end + separator.size()) {
    parts.emplace_back(text.substr(start, end - start));
  }
  if (keep_last || start < text.size()) parts.emplace_back(text.substr(start));
  return parts;
}

std::string ReportElement(const std::string& report, const std::string& name) {
  const std::string open = "<" + name + ">";
  const std::size_t start = report.find(open);
  if (start == std::string::npos) return "<none>";
  const std::size_t end = report.find("</" + name + ">", start);
  return report.substr(start + open.size(), end - start - open.size());
}

std::string HttpHead(const std::string& status, const std::string& headers) {
  return "HTTP/1.1 " + status + "\r\n" + headers + "\r\n";
}

std::string HttpOk(const std::string& body, const std::string& headers) {
  return HttpHead("200 OK", headers + "Content-Length: " + std::to_string(body.size()) + "\r\n") +
         body;
}

}  // namespace testing_support
