// Text helpers the tests share: splitting output and pages into lines,
// reading one element of an exception report, and building HTTP answers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// The text split at each separator; the part after the last one is kept
// when it is not empty (or always, with keep_last).
std::vector<std::string> SplitAt(std::string_view text, std::string_view separator,
                                 bool keep_last = false);

// The text of the first <name> element of a report, or "<none>".
std::string ReportElement(const std::string& report, const std::string& name);

// The head of an HTTP/1.1 answer: the status ("200 OK") and header lines,
// each ending in CR LF, then the empty line.
std::string HttpHead(const std::string& status, const std::string& headers);

// A 200 answer: the given header lines, a Content-Length and the body.
std::string HttpOk(const std::string& body, const std::string& headers = "");

}  // namespace testing_support
