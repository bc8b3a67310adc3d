#include "LoopPage.h"

#include <array>
#include <string_view>

namespace sim {
namespace {

constexpr std::string_view kFramePrefix = "/radar/IDR641.T.";

// The page's text around the script; long enough that a reader of the page
// has to search for the frame names rather than find them at a fixed place.
constexpr std::array<std::string_view, 8> kNotes = {
    "Rainfall intensity is estimated from the strength of the signal reflected by raindrops. "
    "Colours range from light blue for drizzle to dark red for very heavy rain and hail.",
    "Echoes close to the radar may come from the ground, buildings or trees rather than from "
    "rain. Such clutter usually stays in place from one picture to the next.",
    "The radar beam rises with distance, so at long range it may pass over shallow rain and "
    "miss it altogether, or show rain that evaporates before it reaches the ground.",
    "Each picture is a snapshot taken every few minutes. Play the loop to see in which "
    "direction the rain is moving and whether it is strengthening or weakening.",
    "Thin lines of weak echo, often seen in clear weather, can be caused by insects, birds, "
    "smoke or the boundaries between air masses of different temperature and moisture.",
    "Hail and very heavy rain can weaken the beam behind them, so that the rain further away "
    "appears lighter than it is. Compare neighbouring radars when in doubt.",
    "Times are shown in Coordinated Universal Time. The most recent picture may be up to ten "
    "minutes old by the time it reaches this page.",
    "This page refreshes itself regularly. If the loop stops updating, reload the page or "
    "check the service notices for planned maintenance.",
};

constexpr std::array<std::string_view, 12> kNearbyRadars = {
    "Northern Ranges", "Coastal Plain", "Eastern Hills",  "Lake District",
    "River Valley",    "High Plateau",  "Western Coast",  "Southern Capes",
    "Inland Basin",    "Harbour Point", "Summit Station", "Gulf Shore",
};

constexpr std::array<std::string_view, 15> kRainRates = {
    "0.2", "0.5", "1.5", "2.5", "4", "6", "10", "15", "20", "35", "50", "80", "120", "200", "360",
};

void AppendHead(std::string& page) {
  page +=
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n"
      "<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"refresh\" content=\"300\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<title>IDR641 Radar Loop - Synthetic Weather Service</title>\n"
      "<style>\n"
      "  body { font-family: sans-serif; margin: 0; background: #f4f6f8; color: #1d2733; }\n"
      "  header, footer { background: #20406a; color: #fff; padding: 8px 16px; }\n"
      "  nav ul { list-style: none; margin: 0; padding: 0; display: flex; gap: 12px; }\n"
      "  nav a { color: #d8e6f7; text-decoration: none; }\n"
      "  main { display: flex; gap: 16px; padding: 16px; }\n"
      "  #loop { position: relative; width: 512px; height: 512px; background: #dfe7ee; }\n"
      "  #loop img { position: absolute; left: 0; top: 0; }\n"
      "  table.legend td { padding: 1px 6px; font-size: 12px; }\n"
      "  aside { max-width: 360px; font-size: 14px; line-height: 1.45; }\n"
      "</style>\n</head>\n";
}

void AppendNavigation(std::string& page) {
  page +=
      "<body>\n<header>\n<h1>Synthetic Weather Service</h1>\n<nav><ul>\n"
      "  <li><a href=\"/index.shtml\">Home</a></li>\n"
      "  <li><a href=\"/products/warnings.shtml\">Warnings</a></li>\n"
      "  <li><a href=\"/products/forecasts.shtml\">Forecasts</a></li>\n"
      "  <li><a href=\"/products/observations.shtml\">Observations</a></li>\n"
      "  <li><a href=\"/products/radar.shtml\">Radar</a></li>\n"
      "  <li><a href=\"/products/satellite.shtml\">Satellite</a></li>\n"
      "</ul></nav>\n</header>\n";
}

void AppendScript(std::string& page, const std::vector<Minutes>& loop) {
  page +=
      "<script type=\"text/javascript\">\n"
      "<!--\n"
      "  var nImages = " +
      std::to_string(loop.size()) +
      ";\n"
      "  var currentImage = nImages - 1;\n"
      "  var theImageNames = new Array();\n";
  for (std::size_t i = 0; i < loop.size(); ++i) {
    page += "  theImageNames[" + std::to_string(i) + "] = \"" + FrameAddress(loop[i]) + "\";\n";
  }
  page +=
      "  var theImages = new Array();\n"
      "  var delay = 500;\n"
      "  var pauseAtEnd = 2000;\n"
      "  var timer = null;\n"
      "\n"
      "  function preloadImages() {\n"
      "    for (var i = 0; i < nImages; i++) {\n"
      "      theImages[i] = new Image();\n"
      "      theImages[i].src = theImageNames[i];\n"
      "    }\n"
      "  }\n"
      "\n"
      "  function showImage(index) {\n"
      "    currentImage = index;\n"
      "    document.getElementById(\"frame\").src = theImages[index].src;\n"
      "    document.getElementById(\"frameTime\").innerHTML = frameTime(theImageNames[index]);\n"
      "  }\n"
      "\n"
      "  function frameTime(name) {\n"
      "    var stamp = name.substring(name.lastIndexOf(\".T.\") + 3, name.lastIndexOf(\".png\"));\n"
      "    return stamp.substring(6, 8) + \"/\" + stamp.substring(4, 6) + \"/\" +\n"
      "        stamp.substring(0, 4) + \" \" + stamp.substring(8, 10) + \":\" +\n"
      "        stamp.substring(10, 12) + \" UTC\";\n"
      "  }\n"
      "\n"
      "  function step() {\n"
      "    var next = (currentImage + 1) % nImages;\n"
      "    showImage(next);\n"
      "    timer = setTimeout(step, next == nImages - 1 ? pauseAtEnd : delay);\n"
      "  }\n"
      "\n"
      "  function startLoop() { if (timer == null) { timer = setTimeout(step, delay); } }\n"
      "  function stopLoop() { if (timer != null) { clearTimeout(timer); timer = null; } }\n"
      "  function faster() { if (delay > 100) { delay = delay - 100; } }\n"
      "  function slower() { delay = delay + 100; }\n"
      "//-->\n"
      "</script>\n";
}

void AppendLoopView(std::string& page, const std::vector<Minutes>& loop) {
  const std::string newest = loop.empty() ? std::string() : FrameAddress(loop.back());
  page +=
      "<main>\n<section>\n<h2>IDR641 Radar Loop</h2>\n"
      "<div id=\"loop\">\n"
      "  <img src=\"/products/radar_transparencies/IDR641.background.png\" alt=\"\">\n"
      "  <img src=\"/products/radar_transparencies/IDR641.topography.png\" alt=\"\">\n"
      "  <img id=\"frame\" src=\"" +
      newest +
      "\" alt=\"Radar picture\">\n"
      "  <img src=\"/products/radar_transparencies/IDR641.locations.png\" alt=\"\">\n"
      "  <img src=\"/products/radar_transparencies/IDR641.range.png\" alt=\"\">\n"
      "</div>\n"
      "<p id=\"frameTime\"></p>\n"
      "<p>\n"
      "  <button onclick=\"stopLoop()\">Stop</button>\n"
      "  <button onclick=\"startLoop()\">Play</button>\n"
      "  <button onclick=\"slower()\">Slower</button>\n"
      "  <button onclick=\"faster()\">Faster</button>\n"
      "</p>\n"
      "<h3>Rainfall rate (mm/h)</h3>\n<table class=\"legend\">\n";
  for (const std::string_view rate : kRainRates) {
    page += "  <tr><td class=\"swatch\">&nbsp;</td><td>" + std::string(rate) + "</td></tr>\n";
  }
  page += "</table>\n</section>\n";
}

void AppendNotes(std::string& page) {
  page += "<aside>\n<h2>About radar pictures</h2>\n";
  for (std::size_t i = 0; i < kNotes.size(); ++i) {
    page += "<p id=\"note" + std::to_string(i) + "\">" + std::string(kNotes[i]) + "</p>\n";
  }
  page += "<h2>Nearby radars</h2>\n<ul>\n";
  for (std::size_t i = 0; i < kNearbyRadars.size(); ++i) {
    const std::string code = "IDR" + std::to_string(600 + 11 * i + 3);
    page += "  <li><a href=\"/products/" + code + ".loop.shtml\">" + std::string(kNearbyRadars[i]) +
            " (" + code + ", 128 km)</a></li>\n";
  }
  page += "</ul>\n</aside>\n";
}

// The last day of observations at the radar's weather station, ten minutes apart;
// made up from the time so that the page changes only with the loop.
void AppendObservations(std::string& page, Minutes newest) {
  page +=
      "<section id=\"observations\">\n<h2>Recent observations</h2>\n"
      "<table class=\"observations\">\n"
      "  <tr><th>Time (UTC)</th><th>Temp &deg;C</th><th>Dew point &deg;C</th>"
      "<th>Wind</th><th>Gust km/h</th><th>Rain since 9am mm</th></tr>\n";
  constexpr std::array<std::string_view, 8> kDirections = {"N", "NE", "E", "SE",
                                                           "S", "SW", "W", "NW"};
  for (Minutes row = 0; row < 144; ++row) {
    const Minutes when = newest - newest % 10 - row * 10;
    const auto seed = static_cast<std::size_t>(when / 10);
    const int temperature = 150 + static_cast<int>(seed * 7 % 90);
    const int dew_point = temperature - 30 - static_cast<int>(seed * 3 % 50);
    const int wind = 5 + static_cast<int>(seed * 5 % 30);
    const std::string stamp = FormatStamp(when);
    page += "  <tr><td>" + stamp.substr(8, 2) + ":" + stamp.substr(10, 2) + "</td><td>" +
            std::to_string(temperature / 10) + "." + std::to_string(temperature % 10) +
            "</td><td>" + std::to_string(dew_point / 10) + "." + std::to_string(dew_point % 10) +
            "</td><td>" + std::string(kDirections[seed % kDirections.size()]) + " " +
            std::to_string(wind) + "</td><td>" + std::to_string(wind + 9) + "</td><td>" +
            std::to_string(seed % 13) + ".2</td></tr>\n";
  }
  page += "</table>\n</section>\n";
}

void AppendFooter(std::string& page) {
  page +=
      "</main>\n<footer>\n"
      "<p>Synthetic pages for local testing. The pictures are generated and show no real "
      "weather.</p>\n"
      "</footer>\n"
      "<script type=\"text/javascript\">preloadImages(); showImage(nImages - 1); "
      "startLoop();</script>\n"
      "</body>\n</html>\n";
}

}  // namespace

std::string FrameAddress(Minutes frame_time) {
  return std::string(kFramePrefix) + FormatStamp(frame_time) + ".png";
}

std::optional<Minutes> ParseFrameAddress(std::string_view path) {
  constexpr std::string_view kSuffix = ".png";
  if (path.size() != kFramePrefix.size() + 12 + kSuffix.size()) return std::nullopt;
  if (!path.starts_with(kFramePrefix) || !path.ends_with(kSuffix)) return std::nullopt;
  return ParseStamp(path.substr(kFramePrefix.size(), 12));
}

std::string BuildLoopPage(const std::vector<Minutes>& loop) {
  std::string page;
  page.reserve(24 * 1024);
  AppendHead(page);
  AppendNavigation(page);
  AppendScript(page, loop);
  AppendLoopView(page, loop);
  AppendNotes(page);
  if (!loop.empty()) AppendObservations(page, loop.back());
  AppendFooter(page);
  return page;
}

}  // namespace sim
