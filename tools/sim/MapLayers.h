// The radar page's map layers, stacked under and over the frames: the
// opaque background map, relief shading, place names and range rings, each
// a kBackgroundSize square PNG. The background layer shows the very pixels
// of the --write-background bitmap, so an overlay drawn on that bitmap lines
// up with the layers.
#pragma once

#include <array>
#include <map>
#include <string>
#include <string_view>

namespace sim {

inline constexpr std::string_view kBackgroundLayer = "IDR641.background.png";
inline constexpr std::string_view kTopographyLayer = "IDR641.topography.png";
inline constexpr std::string_view kLocationsLayer = "IDR641.locations.png";
inline constexpr std::string_view kRangeLayer = "IDR641.range.png";
inline constexpr std::array<std::string_view, 4> kLayerNames = {kBackgroundLayer, kTopographyLayer,
                                                                kLocationsLayer, kRangeLayer};

// Each layer's PNG file, rendered and encoded on first use and kept.
class MapLayers {
 public:
  // The file of the named layer, or nullptr when no layer has that name.
  const std::string* Find(std::string_view name);

 private:
  std::map<std::string, std::string, std::less<>> encoded_;
};

}  // namespace sim
