// Pieces shared by the loop page writers.
#pragma once

#include <string>
#include <string_view>

namespace refresh {

// The current local date-time as StringOfString writes it, with every space
// removed; reads the clock once per call, so each place in a page that
// carries one gets a fresh value.
std::string CacheBuster();

// The clock's local date-time as "hh:nn:ss dd/mm/yy" with the locale's time
// and date separators: the creation time in a page's header comment.
std::string CreationTime();

// Appends one page line and its CR LF line end.
void AppendLine(std::string& page, std::string_view line);

}  // namespace refresh
