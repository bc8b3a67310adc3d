// The viewer page's markup, style and script, kept as files under
// src/site/viewer/ and built into the program as they are.
#pragma once

#include <string_view>

namespace site {

// viewer.html: the page with its placeholders, the style and the script
// each standing on a line of their own.
extern const std::string_view kViewerMarkup;
// viewer.css, which replaces the style's line.
extern const std::string_view kViewerStyle;
// viewer.js, which replaces the script's line.
extern const std::string_view kViewerScript;

}  // namespace site
