// Forecasts of storms drawn with a known motion: each must be found where
// the motion takes it (within 2 pixels per 5 minutes of lead), frames that
// cannot make a forecast give none and say why, and the station warning
// gives the first lead time with an echo near the station.
#include "nowcast/Nowcast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "nowcast/StationWarning.h"
#include "picture/PngDecoder.h"

namespace {

using nowcast::Forecast;
using nowcast::LevelField;
using nowcast::TimedFrame;
using picture::RgbaImage;

const nowcast::Legend kLegend = {{200, 200, 255}, {100, 100, 255}, {0, 200, 200}, {0, 150, 0},
                                 {255, 255, 0},   {255, 150, 0},   {255, 0, 0},   {150, 0, 0}};

struct Point {
  double x = 0, y = 0;
};

// A picture with a round storm around each centre: level 8 in the middle,
// one level less every 4 pixels out.
RgbaImage Storms(const std::vector<Point>& centres, int width = 300, int height = 240) {
  RgbaImage picture = RgbaImage::Transparent(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int level = 0;
      for (const Point& c : centres) {
        const int ring = static_cast<int>(std::hypot(x - c.x, y - c.y) / 4);
        level = std::max(level, static_cast<int>(kLegend.size()) - ring);
      }
      if (level <= 0) continue;
      std::uint8_t* pixel = &picture.pixels[(static_cast<std::size_t>(y) * width + x) * 4];
      const nowcast::Colour& colour = kLegend[static_cast<std::size_t>(level - 1)];
      pixel[0] = colour.red, pixel[1] = colour.green, pixel[2] = colour.blue, pixel[3] = 255;
    }
  }
  return picture;
}

// Seven frames five minutes apart with the storms where place puts them at
// each step, and the forecast from them.
template <typename Place>
Forecast ForecastOf(Place place, std::vector<RgbaImage>& pictures) {
  std::vector<TimedFrame> frames;
  for (int step = 0; step < 7; ++step) pictures.push_back(Storms(place(step)));
  for (int step = 0; step < 7; ++step) frames.push_back({&pictures[step], 1000 + 5 * step});
  return nowcast::MakeNowcast(frames, kLegend);
}

// The centroid of the echoes in the half plane x >= split (x < split with
// below), and their count.
Point Centroid(const LevelField& field, double split = -1, bool below = false) {
  double x_sum = 0, y_sum = 0, count = 0;
  for (int y = 0; y < field.height; ++y) {
    for (int x = 0; x < field.width; ++x) {
      if (field.At(x, y) == 0 || (x < split) != below) continue;
      x_sum += x, y_sum += y, count += 1;
    }
  }
  return count > 0 ? Point{x_sum / count, y_sum / count} : Point{-1, -1};
}

void ExpectNear(Point found, Point expected, int lead_steps) {
  EXPECT_LE(std::hypot(found.x - expected.x, found.y - expected.y), 2.0 * lead_steps)
      << "found " << found.x << "," << found.y << ", expected " << expected.x << "," << expected.y
      << " at +" << 5 * lead_steps << " min";
}

TEST(NowcastTest, StormsAreForecastWhereTheirMotionTakesThem) {
  struct Row {
    const char* name;
    Point motion;  // pixels per five minutes
  };
  for (const Row& row : {Row{"moving", {4, -3}}, Row{"still", {0, 0}}}) {
    SCOPED_TRACE(row.name);
    std::vector<RgbaImage> pictures;
    auto place = [&](int step) {
      return std::vector<Point>{{100 + row.motion.x * step, 130 + row.motion.y * step}};
    };
    const Forecast forecast = ForecastOf(place, pictures);
    ASSERT_TRUE(forecast.Made()) << forecast.failure;
    ASSERT_EQ(forecast.leads.size(), 6u);
    EXPECT_EQ(forecast.issued_minutes, 1030);
    for (int lead = 1; lead <= 6; ++lead) {
      ExpectNear(Centroid(forecast.leads[lead - 1]), place(6 + lead).front(), lead);
    }
    EXPECT_NEAR(forecast.speed_pixels_per_hour, 12 * std::hypot(row.motion.x, row.motion.y), 6);
  }
}

TEST(NowcastTest, ARotatingPairOfStormsTurnsOn) {
  // Two storms 90 pixels either side of the centre, turning 3 degrees
  // clockwise (on the picture) every five minutes.
  const Point centre{150, 120};
  auto place = [&](int step) {
    const double angle = 3.0 * step * std::numbers::pi / 180;
    const Point arm{90 * std::cos(angle), 90 * std::sin(angle)};
    return std::vector<Point>{{centre.x + arm.x, centre.y + arm.y},
                              {centre.x - arm.x, centre.y - arm.y}};
  };
  std::vector<RgbaImage> pictures;
  const Forecast forecast = ForecastOf(place, pictures);
  ASSERT_TRUE(forecast.Made()) << forecast.failure;
  for (int lead = 1; lead <= 6; ++lead) {
    const std::vector<Point> expected = place(6 + lead);
    ExpectNear(Centroid(forecast.leads[lead - 1], centre.x), expected[0], lead);
    ExpectNear(Centroid(forecast.leads[lead - 1], centre.x, true), expected[1], lead);
  }
}

TEST(NowcastTest, EmptyFramesGiveEmptyForecasts) {
  std::vector<RgbaImage> pictures;
  const Forecast forecast = ForecastOf([](int) { return std::vector<Point>{}; }, pictures);
  ASSERT_TRUE(forecast.Made()) << forecast.failure;
  for (const LevelField& lead : forecast.leads) {
    EXPECT_EQ(std::count(lead.levels.begin(), lead.levels.end(), 0), lead.width * lead.height);
  }
}

TEST(NowcastTest, FramesThatCannotMakeAForecastSayWhy) {
  const RgbaImage frame = Storms({{100, 100}});
  const RgbaImage other_size = Storms({{100, 100}}, 300, 241);
  struct Row {
    std::vector<TimedFrame> frames;
    const char* failure;
  };
  const std::vector<Row> rows = {
      {{{&frame, 0}, {&frame, 5}, {&frame, 10}}, "3 usable frames, at least 4 needed"},
      {{{&frame, 0}, {&frame, 5}, {&other_size, 10}, {&frame, 15}},
       "frame 3 is 300 x 241, frame 1 300 x 240"},
      {{{&frame, 0}, {&frame, 5}, {&frame, 20}, {&frame, 25}},
       "frames 2 and 3 are 15 minutes apart, at most 10 allowed"},
      {{{&frame, 0}, {&frame, 5}, {&frame, 5}, {&frame, 10}},
       "frames 2 and 3 are 0 minutes apart, at most 10 allowed"},
  };
  for (const Row& row : rows) {
    const Forecast forecast = nowcast::MakeNowcast(row.frames, kLegend);
    EXPECT_FALSE(forecast.Made());
    EXPECT_EQ(forecast.failure, row.failure);
    EXPECT_TRUE(forecast.leads.empty());
  }
  // A gap of ten minutes is still a sequence.
  EXPECT_TRUE(nowcast::MakeNowcast({{&frame, 0}, {&frame, 10}, {&frame, 15}, {&frame, 25}}, kLegend)
                  .Made());
}

TEST(NowcastTest, ColoursMapToLevelsAndBack) {
  RgbaImage picture = RgbaImage::Transparent(5, 1);
  const std::uint8_t pixels[] = {
      0,   150, 0, 255,  // level 4 exactly
      250, 155, 5, 255,  // near level 6
      0,   0,   0, 255,  // map text: no echo
      255, 0,   0, 128,  // not opaque: no echo
      150, 0,   0, 0,    // transparent
  };
  std::copy(std::begin(pixels), std::end(pixels), picture.pixels.begin());
  const LevelField levels = nowcast::EchoLevels(picture, kLegend);
  EXPECT_EQ(levels.levels, (std::vector<std::uint8_t>{4, 6, 0, 0, 0}));
  const RgbaImage drawn = picture::DecodePng(nowcast::EncodeLevelsPng(levels, kLegend));
  EXPECT_EQ(std::vector<std::uint8_t>(drawn.pixels.begin(), drawn.pixels.begin() + 8),
            (std::vector<std::uint8_t>{0, 150, 0, 255, 255, 150, 0, 255}));
  EXPECT_EQ(std::count(drawn.pixels.begin() + 8, drawn.pixels.end(), 0), 12);
}

TEST(NowcastTest, TheStationWarningGivesTheFirstLeadWithAnEchoNearby) {
  // The storm's edge (radius 32) moves 5 pixels right every five minutes.
  std::vector<RgbaImage> pictures;
  const Forecast forecast = ForecastOf(
      [](int step) {
        return std::vector<Point>{{60.0 + 5 * step, 100}};
      },
      pictures);
  ASSERT_TRUE(forecast.Made()) << forecast.failure;
  struct Row {
    nowcast::StationPixel station;
    int alert_level;
    std::optional<int> lead;
  };
  const std::vector<Row> rows = {
      {{140, 100}, 1, 15},            // edge at 122 now: within 5 pixels at +15 min
      {{140, 100}, 5, 30},            // level 5 reaches 16 px out: 106 now, 136 at +30 min
      {{260, 100}, 1, std::nullopt},  // too far
      {{140, 100}, 9, std::nullopt},  // above every level
      {{90, 100}, 1, 5},              // already under the storm
  };
  for (const Row& row : rows) {
    EXPECT_EQ(nowcast::FirstRainLead(forecast, row.station, row.alert_level), row.lead)
        << row.station.x << "," << row.station.y << " level " << row.alert_level;
  }
}

}  // namespace
