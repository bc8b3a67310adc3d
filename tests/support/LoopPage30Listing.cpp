#include "support/LoopPage30Listing.h"

#include <algorithm>
#include <sstream>
#include <string_view>

namespace testing_support {
namespace {

// The published 30-minute page, one listing line per text line, inserted
// values as placeholders.
constexpr const char* kListing = R"listing(<!DOCTYPE html>
<html lang="en">
  <!--
    FUNCTION: Main()
    CREATED: {CREATED}
    VERSION: {VERSION}
    SELFNAME: {SELFNAME}
  -->
  <head>
    <meta http-equiv="refresh" content="300; url=http://{HOST}/vesk/index.html?foo={CB}">
    <style>
      .container
      {
        position:relative;
      }

      .background-box
      {
        z-index:0;
        background:url("https://{HOST}/vesk/IDR641.background.png") no-repeat;
        display:block;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .topography-box
      {
        z-index:2;
        background:url("https://{HOST}/vesk/IDR641.topography.png") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .locations-box
      {
        z-index:3;
        background:url("https://{HOST}/vesk/IDR641.locations.png") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .range-box
      {
        z-index:4;
        background:url("https://{HOST}/vesk/IDR641.range.png") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box0
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay0.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box1
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay1.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box2
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay2.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box3
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay3.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box4
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay4.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box5
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay5.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box6
      {
        z-index:1;
        background:url("https://{HOST}/vesk/SESOverlay6.bmp?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        position:absolute;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .sesoverlay-box7
      {
        z-index:1;
        position:absolute;
        background:url("https://{HOST}/vesk/image0.png?foo={CB}") no-repeat;
        display:block;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box0
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image0.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box1
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image1.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box2
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image2.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box3
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image3.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box4
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image4.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box5
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image5.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }

      .weather-box6
      {
        z-index:10;
        position:absolute;
        background:url("https://{HOST}/vesk/image6.png?foo={CB}") no-repeat;
        display:none;
        overflow:hidden;
        height:600px;
        width:100%;
        left:0px;
        top:0px;
      }
    </style>
    <title>VESK 30min loop</title>
  </head>

  <body>
    <!-- <h1>Zelvo Zozuzoro Vazu VESK loop.</h1> -->
    <div class="container">
      <div id="myDivBackground" class="background-box"></div>
      <div id="myDivTopography" class="topography-box"></div>
      <div id="myDivLocations" class="locations-box"></div>
      <div id="myDivRange" class="range-box"></div>
      <div id="myDiv0" class="weather-box0"></div>
      <div id="myDiv1" class="weather-box1"></div>
      <div id="myDiv2" class="weather-box2"></div>
      <div id="myDiv3" class="weather-box3"></div>
      <div id="myDiv4" class="weather-box4"></div>
      <div id="myDiv5" class="weather-box5"></div>
      <div id="myDiv6" class="weather-box6"></div>
      <div id="myDivSES0" class="sesoverlay-box0"></div>
      <div id="myDivSES1" class="sesoverlay-box1"></div>
      <div id="myDivSES2" class="sesoverlay-box2"></div>
      <div id="myDivSES3" class="sesoverlay-box3"></div>
      <div id="myDivSES4" class="sesoverlay-box4"></div>
      <div id="myDivSES5" class="sesoverlay-box5"></div>
      <div id="myDivSES6" class="sesoverlay-box6"></div>
    </div>
  </body>

  <script type="text/javascript">
    document.getElementById("myDivBackground").style.display="none";
    document.getElementById("myDivTopography").style.display="block";
    document.getElementById("myDivLocations").style.display="block";
    document.getElementById("myDivRange").style.display="block";
    let i1=6;

    setInterval(function()
    {
      if (i1>-1)
      {
        //console.log("i1="+i1);
        for (i2=0; i2<7;i2++)
        {
          if (i1!=i2)
          {
            document.getElementById("myDiv"+i2).style.display="none";
            document.getElementById("myDivSES"+i2).style.display="none";
          } else {
            document.getElementById("myDiv"+i1).style.display="block";
            document.getElementById("myDivSES"+i1).style.display="block";
          }
        }
        i1--;
      } else
      {
        i1=6;
      }
    },{DELAY})
  </script>
</html>)listing";

constexpr std::string_view kPlaceholders[] = {"{CREATED}", "{VERSION}", "{SELFNAME}",
                                              "{HOST}",    "{DELAY}",   "{CB}"};

std::vector<std::string> SplitPageLines(const std::string& page, bool& ends_with_crlf,
                                        bool& stray_line_end) {
  std::vector<std::string> lines;
  ends_with_crlf = page.size() >= 2 && page.compare(page.size() - 2, 2, "\r\n") == 0;
  stray_line_end = false;
  std::size_t start = 0;
  while (start < page.size()) {
    const std::size_t end = page.find("\r\n", start);
    const std::string line =
        page.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (line.find_first_of("\r\n") != std::string::npos) stray_line_end = true;
    lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 2;
  }
  return lines;
}

// The placeholder at position i of a listing line, or empty.
std::string_view PlaceholderAt(const std::string& line, std::size_t i) {
  for (std::string_view name : kPlaceholders) {
    if (line.compare(i, name.size(), name) == 0) return name;
  }
  return {};
}

}  // namespace

ValueCheck Exactly(std::string expected) {
  return [expected = std::move(expected)](const std::string& value) { return value == expected; };
}

ValueCheck AnyOfForms(std::vector<std::string> forms) {
  return [forms = std::move(forms)](const std::string& value) {
    for (const std::string& form : forms) {
      bool matches = form.size() == value.size();
      for (std::size_t k = 0; matches && k < form.size(); ++k) {
        matches = form[k] == '#' ? (value[k] >= '0' && value[k] <= '9') : value[k] == form[k];
      }
      if (matches) return true;
    }
    return false;
  };
}

std::vector<std::string> LoopPage30ListingLines() {
  std::vector<std::string> lines;
  std::istringstream in(kListing);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::string DiffAgainstLoopPage30(const std::string& page, const ListingValues& values) {
  if (!values.created || values.cache_busters.empty()) return "incomplete listing values";
  bool ends_with_crlf = false;
  bool stray_line_end = false;
  const std::vector<std::string> actual = SplitPageLines(page, ends_with_crlf, stray_line_end);
  const std::vector<std::string> expected = LoopPage30ListingLines();
  if (!ends_with_crlf) return "the page does not end with CR LF";
  if (stray_line_end) return "the page has a line end other than CR LF";
  if (actual.size() != expected.size()) {
    return "the page has " + std::to_string(actual.size()) + " lines, the listing " +
           std::to_string(expected.size());
  }
  std::size_t cache_buster = 0;
  for (std::size_t n = 0; n < expected.size(); ++n) {
    const std::string& line = expected[n];
    const std::string& text = actual[n];
    const std::string difference =
        "line " + std::to_string(n + 1) + " is \"" + text + "\", the listing has \"" + line + "\"";
    // Literal pieces must match exactly; a placeholder's value runs up to
    // the next literal piece (no inserted value contains the text after it).
    std::size_t at = 0;
    for (std::size_t i = 0; i < line.size();) {
      const std::string_view name = PlaceholderAt(line, i);
      if (name.empty()) {
        if (at >= text.size() || text[at] != line[i]) return difference;
        ++at;
        ++i;
        continue;
      }
      i += name.size();
      std::size_t literal_end = i;
      while (literal_end < line.size() && PlaceholderAt(line, literal_end).empty()) ++literal_end;
      const std::string literal = line.substr(i, literal_end - i);
      const std::size_t value_end = literal.empty() ? text.size() : text.find(literal, at);
      if (value_end == std::string::npos) return difference;
      const std::string value = text.substr(at, value_end - at);
      at = value_end;
      bool matches = false;
      if (name == "{CREATED}") {
        matches = values.created(value);
      } else if (name == "{VERSION}") {
        matches = value == values.version;
      } else if (name == "{SELFNAME}") {
        matches = value == values.self_name;
      } else if (name == "{HOST}") {
        matches = value == values.host;
      } else if (name == "{DELAY}") {
        matches = value == values.delay;
      } else {
        const std::size_t k = std::min(cache_buster, values.cache_busters.size() - 1);
        matches = values.cache_busters[k](value);
        ++cache_buster;
      }
      if (!matches) return difference + " (value \"" + value + "\")";
    }
    if (at != text.size()) return difference;
  }
  return "";
}

}  // namespace testing_support
