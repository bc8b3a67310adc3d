#include "site/SiteNames.h"

namespace site {

std::string FrameFileName(int index) { return "Image" + std::to_string(index) + ".png"; }

std::string FrameLinkName(int index) { return "image" + std::to_string(index) + ".png"; }

std::string RingMemberName(int index) { return "SESOverlay" + std::to_string(index) + ".bmp"; }

std::string NowcastFileName(int lead_index) {
  return "Nowcast" + std::to_string(lead_index) + ".png";
}

std::string ArchiveFrameName(const std::string& slot_tag) { return "Image-" + slot_tag + ".png"; }

std::string ArchiveOverlayName(const std::string& slot_tag) {
  return "SESOverlay-" + slot_tag + ".bmp";
}

std::string MapLayerFileName(const std::string& product, std::size_t layer) {
  return product + "." + kMapLayers.at(layer) + ".png";
}

std::string OverlayBackgroundFileName(const std::string& product) {
  return product + ".background.bmp";
}

}  // namespace site
