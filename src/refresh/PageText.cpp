#include "refresh/PageText.h"

#include <algorithm>

#include "platform/DateTime.h"
#include "zub32/TextFiles.h"

namespace refresh {

std::string CacheBuster() {
  std::string text = zub32::StringOfString(platform::Now());
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

std::string CreationTime() {
  return platform::FormatDateTime("hh:nn:ss dd/mm/yy", platform::Now());
}

void AppendLine(std::string& page, std::string_view line) {
  page.append(line);
  page.append("\r\n");
}

}  // namespace refresh
