#include "zub32/Config.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/TempDir.h"

namespace zub32 {
namespace {

using testing_support::TempDir;

using Environment = std::map<std::string, std::string>;

Configuration Load(const TempDir& dir, const Environment& environment) {
  return LoadConfiguration(dir.path(), [&](const std::string& name) -> std::optional<std::string> {
    const auto found = environment.find(name);
    if (found == environment.end()) return std::nullopt;
    return found->second;
  });
}

const ConfigEntry& Entry(const Configuration& config, const std::string& key) {
  for (const ConfigEntry& entry : config.entries) {
    if (entry.key == key) return entry;
  }
  throw std::runtime_error("no entry " + key);
}

TEST(ConfigTest, DefaultsBeforeAndAfterLoading) {
  // Outside a run nothing may broadcast.
  EXPECT_EQ(Configuration{}.syslog.mode, SyslogMode::kOff);
  EXPECT_EQ(SyslogSetting{}.mode, SyslogMode::kOff);

  TempDir dir;
  const Configuration config = Load(dir, {});
  EXPECT_EQ(config.radar_host.text, "localhost");
  EXPECT_EQ(config.radar_host.port, 80);
  EXPECT_EQ(config.publish_host.text, "localhost");
  EXPECT_EQ(config.syslog.mode, SyslogMode::kBroadcast);
  EXPECT_EQ(config.syslog.port, 514);
  EXPECT_EQ(config.font, "");
  EXPECT_EQ(config.read_timeout_ms, 30000);
  EXPECT_EQ(config.request_deadline_seconds, 120);
  EXPECT_EQ(config.run_deadline_seconds, 240);
  EXPECT_FALSE(config.run_started.has_value());
  EXPECT_TRUE(config.warnings.empty());
  EXPECT_EQ(config.site_address, "");
  EXPECT_EQ(Entry(config, "SiteAddress").value, "https://localhost/vesk");
  EXPECT_EQ(config.product, "IDR641");
  EXPECT_EQ(config.layer_path, "/products/radar_transparencies/");
  EXPECT_TRUE(config.fetch_layers);
  EXPECT_EQ(config.radar_host.scheme, "http");
  EXPECT_EQ(config.tls_ca_file, "");
  EXPECT_EQ(config.archive_lines, ArchiveLines::kEach);
  EXPECT_EQ(config.stale_after_minutes, 30);
  EXPECT_EQ(config.metrics_file, "");
  EXPECT_TRUE(config.frame_hosts.empty());
  EXPECT_EQ(config.max_frame_bytes, 16777216);
  EXPECT_TRUE(config.nowcast);
  EXPECT_FALSE(config.station_pixel.has_value());
  EXPECT_EQ(config.alert_level, 8);  // the middle of the default legend's 15 levels
  ASSERT_EQ(config.entries.size(), 21u);
  for (const ConfigEntry& entry : config.entries) EXPECT_EQ(entry.source, ValueSource::kDefault);
}

TEST(ConfigTest, EnvironmentWinsOverFileWhichWinsOverDefault) {
  TempDir dir;
  dir.Write("vesk.ini",
            "\xEF\xBB\xBF# site settings\r\n"
            "[hosts]\r\n"
            "  radarhost = radar.example:8080 \r\n"
            "PUBLISHHOST=\"www.example.org:8443\"\r\n"
            "; Syslog=off\r\n"
            "Colour=blue\r\n"
            "Font=/usr/share/fonts/a.ttf\r\n");
  Configuration config = Load(dir, {{"VESK_PUBLISH_HOST", "publish.example"}});
  EXPECT_EQ(config.radar_host.host, "radar.example");
  EXPECT_EQ(config.radar_host.port, 8080);
  EXPECT_EQ(config.radar_host.text, "radar.example:8080");
  EXPECT_EQ(Entry(config, "RadarHost").source, ValueSource::kFile);
  EXPECT_EQ(config.publish_host.text, "publish.example");
  EXPECT_EQ(Entry(config, "PublishHost").source, ValueSource::kEnvironment);
  EXPECT_EQ(config.syslog.mode, SyslogMode::kBroadcast);  // the commented line counts for nothing
  EXPECT_EQ(config.font, "/usr/share/fonts/a.ttf");
  EXPECT_TRUE(config.warnings.empty());

  // A variable that is set but empty counts as not set.
  config = Load(dir, {{"VESK_PUBLISH_HOST", ""}});
  EXPECT_EQ(config.publish_host.text, "www.example.org:8443");
  EXPECT_EQ(config.publish_host.port, 8443);
  EXPECT_EQ(Entry(config, "PublishHost").source, ValueSource::kFile);
}

TEST(ConfigTest, MalformedValuesFallBackToTheDefaultWithOneWarningEach) {
  TempDir dir;
  dir.Write("vesk.ini", "RadarHost=radar:0\nFont=\njust some words\n");
  const Configuration config =
      Load(dir, {{"VESK_PUBLISH_HOST", ":8080"}, {"VESK_SYSLOG", "log:x"}});
  EXPECT_EQ(config.radar_host.text, "localhost");
  EXPECT_EQ(config.publish_host.text, "localhost");
  EXPECT_EQ(Entry(config, "PublishHost").source, ValueSource::kDefault);
  // A mistyped unicast destination turns syslog off rather than broadcasting.
  EXPECT_EQ(config.syslog.mode, SyslogMode::kOff);
  ASSERT_EQ(config.warnings.size(), 5u);
  EXPECT_NE(config.warnings[0].find("line 3"), std::string::npos) << config.warnings[0];
  EXPECT_NE(config.warnings[1].find("RadarHost"), std::string::npos) << config.warnings[1];
  EXPECT_NE(config.warnings[1].find("radar:0"), std::string::npos) << config.warnings[1];
  EXPECT_NE(config.warnings[2].find("VESK_PUBLISH_HOST"), std::string::npos) << config.warnings[2];
  EXPECT_NE(config.warnings[3].find("VESK_SYSLOG"), std::string::npos) << config.warnings[3];
  EXPECT_NE(config.warnings[4].find("Font"), std::string::npos) << config.warnings[4];
}

TEST(ConfigTest, TimeLimitsAreWholeNumbersWithinTheirRange) {
  TempDir dir;
  dir.Write("vesk.ini", "ReadTimeout = 750\nRequestDeadline=\"5\"\nrundeadline=9\n");
  Configuration config = Load(dir, {});
  EXPECT_EQ(config.read_timeout_ms, 750);
  EXPECT_EQ(config.request_deadline_seconds, 5);
  EXPECT_EQ(config.run_deadline_seconds, 9);
  EXPECT_EQ(Entry(config, "ReadTimeout").source, ValueSource::kFile);
  config = Load(dir, {{"VESK_READ_TIMEOUT", "3600000"},
                      {"VESK_REQUEST_DEADLINE", "86400"},
                      {"VESK_RUN_DEADLINE", "86400"}});
  EXPECT_EQ(config.read_timeout_ms, 3600000);
  EXPECT_EQ(config.request_deadline_seconds, 86400);
  EXPECT_EQ(config.run_deadline_seconds, 86400);
  EXPECT_EQ(Entry(config, "RequestDeadline").value, "86400");

  // Zero would mean waiting for ever; fractions, units, signs and numbers
  // past the range or past 32 bits are all malformed.
  for (const char* bad : {"0", "-5", "+5", "1.5", "30s", "3600001", "99999999999", "4294967296"}) {
    config = Load(
        dir,
        {{"VESK_READ_TIMEOUT", bad}, {"VESK_REQUEST_DEADLINE", bad}, {"VESK_RUN_DEADLINE", bad}});
    EXPECT_EQ(config.read_timeout_ms, 30000) << bad;
    EXPECT_EQ(config.request_deadline_seconds, 120) << bad;
    EXPECT_EQ(config.run_deadline_seconds, 240) << bad;
    EXPECT_EQ(Entry(config, "ReadTimeout").source, ValueSource::kDefault) << bad;
    ASSERT_EQ(config.warnings.size(), 3u) << bad;
    EXPECT_NE(config.warnings[0].find("VESK_READ_TIMEOUT"), std::string::npos) << bad;
    EXPECT_NE(config.warnings[1].find("VESK_REQUEST_DEADLINE"), std::string::npos) << bad;
    EXPECT_NE(config.warnings[2].find("VESK_RUN_DEADLINE"), std::string::npos) << bad;
  }
}

TEST(ConfigTest, ArchiveLinesIsEachOrSummary) {
  TempDir dir;
  dir.Write("vesk.ini", "ArchiveLines = Summary\n");
  Configuration config = Load(dir, {});
  EXPECT_EQ(config.archive_lines, ArchiveLines::kSummary);
  EXPECT_EQ(Entry(config, "ArchiveLines").value, "summary");
  config = Load(dir, {{"VESK_ARCHIVE_LINES", "EACH"}});
  EXPECT_EQ(config.archive_lines, ArchiveLines::kEach);
  EXPECT_EQ(Entry(config, "ArchiveLines").source, ValueSource::kEnvironment);
  config = Load(dir, {{"VESK_ARCHIVE_LINES", "quiet"}});
  EXPECT_EQ(config.archive_lines, ArchiveLines::kEach);
  ASSERT_EQ(config.warnings.size(), 1u);
  EXPECT_NE(config.warnings[0].find("VESK_ARCHIVE_LINES"), std::string::npos);
}

// Unknown keys are collected once each, as written, with the known key a
// typo most likely meant.
TEST(ConfigTest, UnknownKeysAndTheirClosestKnownKey) {
  TempDir dir;
  dir.Write("vesk.ini", "RadarHots=radar.example\nColour=blue\nradarhots=x\nsyslog=off\n");
  const Configuration config = Load(dir, {});
  ASSERT_EQ(config.unknown_keys.size(), 2u);
  EXPECT_EQ(config.unknown_keys[0].key, "RadarHots");
  EXPECT_EQ(config.unknown_keys[0].closest, "RadarHost");
  EXPECT_EQ(config.unknown_keys[1].key, "Colour");
  EXPECT_EQ(config.unknown_keys[1].closest, "");
  EXPECT_TRUE(config.warnings.empty());

  const std::pair<const char*, const char*> kRows[] = {{"RadarHots", "RadarHost"},
                                                       {"sylog", "Syslog"},
                                                       {"PublishHosts", "PublishHost"},
                                                       {"Fnt", "Font"},
                                                       {"Foo", ""},
                                                       {"ReadTimeoutMs", "ReadTimeout"},
                                                       {"Colour", ""}};
  for (const auto& [key, closest] : kRows) EXPECT_EQ(ClosestKey(key), closest) << key;
}

TEST(ConfigTest, StaleAfterIsZeroToAWeekAndMetricsFileIsAnyName) {
  TempDir dir;
  const struct {
    const char* text;
    int minutes;
    std::size_t warnings;
  } kCases[] = {{"0", 0, 0},      {"10080", 10080, 0}, {"45", 45, 0},
                {"10081", 30, 1}, {"-1", 30, 1},       {"1h", 30, 1}};
  for (const auto& c : kCases) {
    const Configuration config =
        Load(dir, {{"VESK_STALE_AFTER", c.text}, {"VESK_METRICS_FILE", "/var/lib/vesk.prom"}});
    EXPECT_EQ(config.stale_after_minutes, c.minutes) << c.text;
    EXPECT_EQ(config.warnings.size(), c.warnings) << c.text;
    EXPECT_EQ(config.metrics_file, "/var/lib/vesk.prom");
  }
}

TEST(ConfigTest, MaxFrameBytesIsOneKibToQuarterGib) {
  TempDir dir;
  dir.Write("vesk.ini", "MaxFrameBytes = 2048\n");
  EXPECT_EQ(Load(dir, {}).max_frame_bytes, 2048);
  const struct {
    const char* text;
    int bytes;
  } kCases[] = {{"1024", 1024},          {"268435456", 268435456}, {"1023", 16777216},
                {"268435457", 16777216}, {"16M", 16777216},        {"0", 16777216}};
  for (const auto& c : kCases) {
    const Configuration config = Load(dir, {{"VESK_MAX_FRAME_BYTES", c.text}});
    EXPECT_EQ(config.max_frame_bytes, c.bytes) << c.text;
    EXPECT_EQ(config.warnings.size(), c.bytes == 16777216 ? 1u : 0u) << c.text;
  }
}

TEST(ConfigTest, ExportIsWebpUnlessOff) {
  TempDir dir;
  EXPECT_EQ(Load(dir, {}).loop_export, LoopExport::kWebp);
  EXPECT_EQ(Load(dir, {{"VESK_EXPORT", " OFF "}}).loop_export, LoopExport::kOff);
  const Configuration wrong = Load(dir, {{"VESK_EXPORT", "gif"}});
  EXPECT_EQ(wrong.loop_export, LoopExport::kWebp);
  EXPECT_EQ(wrong.warnings.size(), 1u);
}

// Each row: the settings and what the nowcast keys come to; a malformed
// value keeps the default with one warning.
TEST(ConfigTest, NowcastStationAndAlertLevel) {
  struct Row {
    Environment environment;
    bool nowcast;
    std::optional<std::pair<int, int>> station;
    int alert_level;
    std::size_t warnings;
  };
  const std::vector<Row> rows = {
      {{{"VESK_NOWCAST", " Off"}, {"VESK_STATION_PIXEL", "310, 20"}}, false, {{310, 20}}, 8, 0},
      {{{"VESK_NOWCAST", "maybe"}, {"VESK_STATION_PIXEL", "3,"}}, true, std::nullopt, 8, 2},
      {{{"VESK_STATION_PIXEL", "-1,4"}, {"VESK_ALERT_LEVEL", "16"}}, true, std::nullopt, 8, 2},
      {{{"VESK_ALERT_LEVEL", "3"}, {"VESK_LEGEND", "#000001,#000002,#000003"}},
       true,
       std::nullopt,
       3,
       0},
      {{{"VESK_LEGEND", "#000001,#000002,#000003,#000004"}}, true, std::nullopt, 2, 0},
  };
  for (const Row& row : rows) {
    TempDir dir;
    const Configuration config = Load(dir, row.environment);
    EXPECT_EQ(config.nowcast, row.nowcast);
    ASSERT_EQ(config.station_pixel.has_value(), row.station.has_value());
    if (row.station) {
      EXPECT_EQ(config.station_pixel->x, row.station->first);
      EXPECT_EQ(config.station_pixel->y, row.station->second);
    }
    EXPECT_EQ(config.alert_level, row.alert_level);
    EXPECT_EQ(config.warnings.size(), row.warnings);
  }
}

// A legend value reaches the viewer page and status.json as written, so
// only colours and labels of the safe characters pass; a refused one keeps
// the default (empty "want").
TEST(ConfigTest, LegendIsColoursWithSafeLabels) {
  TempDir dir;
  EXPECT_EQ(LegendText(Load(dir, {}).legend), kDefaultLegend);
  const std::string longest = "#123456=" + std::string(kMaxLegendLabelLength, 'x');
  const std::pair<std::string, std::string> kRows[] = {
      {" #F5F5FF = light , #00d8c3,#280000=200+ mm/h", "#f5f5ff=light,#00d8c3,#280000=200+ mm/h"},
      {longest, longest},
      {longest + "x", ""},
      {"#12345", ""},
      {"#1234567", ""},
      {"123456=x", ""},
      {"#12345g", ""},
      {"#123456=", ""},
      {"#123456=<b>", ""},
      {"#123456=a\"b", ""},
      {"#123456=a&b", ""},
      {"#123456,", ""},
      {" ", ""}};
  for (const auto& [text, want] : kRows) {
    const Configuration config = Load(dir, {{"VESK_LEGEND", text}});
    EXPECT_EQ(LegendText(config.legend), want.empty() ? kDefaultLegend : want) << text;
    EXPECT_EQ(config.warnings.size(), want.empty() ? 1u : 0u) << text;
  }
  std::string entries;
  for (std::size_t n = 0; n <= kMaxLegendEntries; ++n) {
    EXPECT_EQ(ParseLegend(entries + "#abcdef").has_value(), n < kMaxLegendEntries) << n;
    entries += "#abcdef,";
  }
}

TEST(ConfigTest, SiteAddressIsSchemeHostAndPath) {
  const std::pair<const char*, const char*> kRows[] = {
      {"http://127.0.0.1:8080/radar", "http://127.0.0.1:8080/radar"},
      {" HTTPS://www.example.org/", "https://www.example.org/vesk"},
      {"https://www.example.org", "https://www.example.org/vesk"},
      {"http://[::1]:8080/a/b//", "http://[::1]:8080/a/b"},
      {"http://h/~user/radar_%20loop", "http://h/~user/radar_%20loop"},
      {"www.example.org/vesk", nullptr},
      {"ftp://www.example.org", nullptr},
      {"http://", nullptr},
      {"http:///vesk", nullptr},
      {"http://h:0/vesk", nullptr},
      {"http://::1/vesk", nullptr},
      {"http://h/a b", nullptr},
      {"http://h/\"onload=x", nullptr},
      {"http://h/a?b", nullptr},
      {"http://h/a#b", nullptr},
      {"http://h/a)b", nullptr},
  };
  for (const auto& [text, expected] : kRows) {
    const std::optional<std::string> parsed = ParseSiteAddress(text);
    if (expected == nullptr) {
      EXPECT_FALSE(parsed.has_value()) << text;
    } else {
      EXPECT_EQ(parsed.value_or("(malformed)"), expected) << text;
    }
  }
  TempDir dir;
  const Configuration config =
      Load(dir, {{"VESK_PUBLISH_HOST", "pub.example:81"}, {"VESK_SITE_ADDRESS", "h/x"}});
  EXPECT_EQ(config.site_address, "");
  ASSERT_EQ(config.warnings.size(), 1u);
  EXPECT_EQ(config.warnings[0],
            "VESK_SITE_ADDRESS: \"h/x\" is not an http:// or https:// address with a host; using "
            "the default https://pub.example:81/vesk");
}

TEST(ConfigTest, ProductAndLayerPathForms) {
  using Parser = std::optional<std::string> (*)(std::string_view);
  struct Row {
    Parser parse;
    const char* text;
    const char* expected;
  };
  const Row kRows[] = {
      {ParseProduct, "IDR023", "IDR023"},
      {ParseProduct, " abc ", "abc"},
      {ParseProduct, "A234567890123456", "A234567890123456"},
      {ParseProduct, "ab", nullptr},
      {ParseProduct, "A2345678901234567", nullptr},
      {ParseProduct, "IDR-023", nullptr},
      {ParseProduct, "../x", nullptr},
      {ParseProduct, "IDR\xc3\xa9", nullptr},
      {ParseLayerPath, "/layers", "/layers/"},
      {ParseLayerPath, "/a/b_c-d.e~f/", "/a/b_c-d.e~f/"},
      {ParseLayerPath, "/", "/"},
      {ParseLayerPath, "layers/", nullptr},
      {ParseLayerPath, "//host/x/", nullptr},
      {ParseLayerPath, "/a/../b/", nullptr},
      {ParseLayerPath, "/a/./b/", nullptr},
      {ParseLayerPath, "/a b/", nullptr},
      {ParseLayerPath, "/a?b=/", nullptr},
      {ParseLayerPath, "/a%2e%2e/", nullptr},
      {ParseLayerPath, "/a\r\nHost: x/", nullptr},
  };
  for (const Row& row : kRows) {
    const std::optional<std::string> parsed = row.parse(row.text);
    if (row.expected == nullptr) {
      EXPECT_FALSE(parsed.has_value()) << row.text;
    } else {
      EXPECT_EQ(parsed.value_or("(malformed)"), row.expected) << row.text;
    }
  }
  EXPECT_FALSE(ParseLayerPath("/" + std::string(kMaxLayerPathLength, 'a')));
  TempDir dir;
  dir.Write("vesk.ini", "product=IDR023\n");
  Configuration config = Load(dir, {});
  EXPECT_EQ(config.product, "IDR023");
  EXPECT_EQ(Entry(config, "Product").source, ValueSource::kFile);
  config = Load(dir, {{"VESK_PRODUCT", "I"}, {"VESK_LAYER_PATH", "maps"}});
  EXPECT_EQ(config.product, "IDR641");
  EXPECT_EQ(config.layer_path, "/products/radar_transparencies/");
  ASSERT_EQ(config.warnings.size(), 2u);
  EXPECT_EQ(config.warnings[0],
            "VESK_PRODUCT: \"I\" is not 3 to 16 letters and digits; using the default IDR641");
  EXPECT_NE(config.warnings[1].find("VESK_LAYER_PATH"), std::string::npos) << config.warnings[1];
  EXPECT_TRUE(config.fetch_layers);  // a malformed path keeps the default
  // Off in any case turns the fetch off, for layers published by other means.
  config = Load(dir, {{"VESK_LAYER_PATH", " OFF "}});
  EXPECT_FALSE(config.fetch_layers);
  EXPECT_TRUE(config.warnings.empty());
  EXPECT_EQ(Entry(config, "LayerPath").value, "off");
  EXPECT_EQ(Entry(config, "LayerPath").source, ValueSource::kEnvironment);
}

TEST(ConfigTest, UnreadableFileIsReported) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("vesk.ini"));
  const Configuration config = Load(dir, {{"VESK_RADAR_HOST", "radar.example"}});
  EXPECT_EQ(config.radar_host.text, "radar.example");
  ASSERT_EQ(config.warnings.size(), 1u);
  EXPECT_NE(config.warnings[0].find("vesk.ini"), std::string::npos);
}

TEST(ConfigTest, EndpointForms) {
  EXPECT_EQ(ParseEndpoint("example.org", 80)->port, 80);
  EXPECT_EQ(ParseEndpoint("example.org:65535", 80)->port, 65535);
  EXPECT_EQ(ParseEndpoint("127.0.0.1:8080", 80)->host, "127.0.0.1");
  const std::optional<Endpoint> v6 = ParseEndpoint("[::1]:8080", 80);
  ASSERT_TRUE(v6);
  EXPECT_EQ(v6->host, "::1");
  EXPECT_EQ(v6->port, 8080);
  EXPECT_EQ(v6->text, "[::1]:8080");
  EXPECT_EQ(ParseEndpoint("fe80::1", 80)->host, "fe80::1");
  for (const char* bad :
       {"", ":80", "host:", "host:0", "host:65536", "host:+80", "host:8o", "host:123456", "a b",
        "host/path", "x\"><script>", "[::1", "[]:80", "[::1]x", "[host]:80"}) {
    EXPECT_FALSE(ParseEndpoint(bad, 80)) << bad;
  }
  // A frame host without a port stands for the default port of any scheme.
  const std::optional<std::vector<Endpoint>> hosts = ParseHostList(" cdn.example , [::1]:8443");
  ASSERT_TRUE(hosts);
  ASSERT_EQ(hosts->size(), 2u);
  EXPECT_EQ((*hosts)[0].host, "cdn.example");
  EXPECT_EQ((*hosts)[0].port, 0);
  EXPECT_EQ((*hosts)[1].port, 8443);
  EXPECT_TRUE(ParseHostList(" ")->empty());
  for (const char* bad : {"a,,b", "a,", "http://cdn.example", "a b", "host:0"}) {
    EXPECT_FALSE(ParseHostList(bad)) << bad;
  }
}

TEST(ConfigTest, WebHostForms) {
  struct Row {
    const char* text;
    const char* scheme;
    const char* host_text;  // what the pages name
    int port;
  };
  for (const Row& row : {Row{"radar.example.org", "http", "radar.example.org", 80},
                         Row{"HTTPS://radar.example.org", "https", "radar.example.org", 443},
                         Row{"https://127.0.0.1:8443/", "https", "127.0.0.1:8443", 8443},
                         Row{"http://[::1]:8080", "http", "[::1]:8080", 8080}}) {
    const std::optional<Endpoint> parsed = ParseWebHost(row.text);
    ASSERT_TRUE(parsed) << row.text;
    EXPECT_EQ(parsed->scheme, row.scheme) << row.text;
    EXPECT_EQ(parsed->text, row.host_text) << row.text;
    EXPECT_EQ(parsed->port, row.port) << row.text;
  }
  for (const char* bad : {"https://", "ftp://host", "https:// host", "https://host/path"}) {
    EXPECT_FALSE(ParseWebHost(bad)) << bad;
  }
}

TEST(ConfigTest, SyslogForms) {
  EXPECT_EQ(ParseSyslog("Broadcast")->mode, SyslogMode::kBroadcast);
  EXPECT_EQ(ParseSyslog("OFF")->mode, SyslogMode::kOff);
  std::optional<SyslogSetting> unicast = ParseSyslog("127.0.0.1");
  ASSERT_TRUE(unicast);
  EXPECT_EQ(unicast->mode, SyslogMode::kUnicast);
  EXPECT_EQ(unicast->host, "127.0.0.1");
  EXPECT_EQ(unicast->port, 514);
  unicast = ParseSyslog("loghost:5514");
  ASSERT_TRUE(unicast);
  EXPECT_EQ(unicast->port, 5514);
  EXPECT_FALSE(ParseSyslog("loghost:99999"));
}

}  // namespace
}  // namespace zub32
