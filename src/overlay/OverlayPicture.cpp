#include "overlay/OverlayPicture.h"

#include "picture/BmpCodec.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"

namespace overlay {

picture::FontRequest OverlayFont(const std::string& font_file) {
  picture::FontRequest font;
  font.file = font_file;
  font.bold = true;
  font.size_points = 10;
  return font;
}

picture::Bitmap LoadBackground(const std::string& product) {
  const std::string background = site::OverlayBackgroundFileName(product);
  // Any entry of that name is meant as the background; one that cannot be
  // read is reported rather than silently replaced by a white picture.
  if (platform::EntryExists(background)) {
    picture::Bitmap bitmap = picture::LoadBmpFile(background, kMaxBackgroundPixelBytes);
    platform::WriteLine("BMP loaded from " + background + ".");
    return bitmap;
  }
  platform::WriteLine(background + " is missing.");
  picture::Bitmap bitmap(kNewPictureSize, kNewPictureSize, kNewPictureBitCount);
  bitmap.FillRect(0, 0, bitmap.Width(), bitmap.Height(), picture::kWhite);
  return bitmap;
}

void DrawStationLines(picture::Bitmap& bitmap, const std::string& stamp, const StationInfo& info,
                      const picture::FontRequest& font) {
  picture::TextRenderer& text = picture::TextRenderer::For(font);
  text.DrawText(bitmap, kTextLeft, kStampTop, stamp, picture::kBlack, picture::kWhite);
  text.DrawText(bitmap, kTextLeft, kTemperatureTop, kTemperatureLabel + info.temperature,
                picture::kBlack, picture::kWhite);
  text.DrawText(bitmap, kTextLeft, kWindTop, kWindLabel + info.wind, picture::kBlack,
                picture::kWhite);
}

std::string OverlayName(const std::string& exe_path, const std::string& slot_tag) {
  return exe_path + site::ArchiveOverlayName(slot_tag);
}

}  // namespace overlay
