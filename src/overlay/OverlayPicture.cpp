#include "overlay/OverlayPicture.h"

#include "platform/BmpCodec.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"

namespace overlay {

platform::FontRequest OverlayFont(const std::string& font_file) {
  platform::FontRequest font;
  font.file = font_file;
  font.bold = true;
  font.size_points = 10;
  return font;
}

std::string BackgroundFileName(const std::string& product) { return product + ".background.bmp"; }

platform::Bitmap LoadBackground(const std::string& product) {
  const std::string background = BackgroundFileName(product);
  // Any entry of that name is meant as the background; one that cannot be
  // read is reported rather than silently replaced by a white picture.
  if (platform::EntryExists(background)) {
    platform::Bitmap bitmap = platform::LoadBmpFile(background, kMaxBackgroundPixelBytes);
    platform::WriteLine("BMP loaded from " + background + ".");
    return bitmap;
  }
  platform::WriteLine(background + " is missing.");
  platform::Bitmap bitmap(kNewPictureSize, kNewPictureSize, kNewPictureBitCount);
  bitmap.FillRect(0, 0, bitmap.Width(), bitmap.Height(), platform::kWhite);
  return bitmap;
}

void DrawStationLines(platform::Bitmap& bitmap, const std::string& stamp, const StationInfo& info,
                      const platform::FontRequest& font) {
  platform::TextRenderer& text = platform::TextRenderer::For(font);
  text.DrawText(bitmap, kTextLeft, kStampTop, stamp, platform::kBlack, platform::kWhite);
  text.DrawText(bitmap, kTextLeft, kTemperatureTop, kTemperatureLabel + info.temperature,
                platform::kBlack, platform::kWhite);
  text.DrawText(bitmap, kTextLeft, kWindTop, kWindLabel + info.wind, platform::kBlack,
                platform::kWhite);
}

std::string OverlayName(const std::string& exe_path, const std::string& slot_tag) {
  return exe_path + "SESOverlay-" + slot_tag + ".bmp";
}

}  // namespace overlay
