#include "refresh/LoopPage24.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "refresh/PageText.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace refresh {

namespace {

constexpr int kSlotsPerDay = 288;
// Room for the head and tail, and for one rule and one div per archived file.
constexpr std::size_t kFixedPartBytes = 4096;
constexpr std::size_t kBytesPerArchivedFile = 400;
// Archived files older than this (in days) get no style rule.
constexpr double kMaxAgeDays = 1.0;

std::string FrameName(platform::TDateTime day, int slot) {
  return "Image-" + zub32::SlotTag(day, slot) + ".png";
}

std::string OverlayName(platform::TDateTime day, int slot) {
  return "SESOverlay-" + zub32::SlotTag(day, slot) + ".bmp";
}

// Slots up to the current one were archived today; later slots can only hold
// yesterday's pictures, so the style rules look those up under yesterday's
// weekday.
std::string RuleFileName(int slot, std::string (*name_of)(platform::TDateTime, int)) {
  const int current_slot = zub32::DaySlot(platform::Now());
  const platform::TDateTime day = slot <= current_slot ? platform::Now() : platform::Now() - 1.0;
  return name_of(day, slot);
}

// A file counts as present when it is no directory and its last-write time
// packs into the two-second file-date form; MyFileAge answers both at once.
bool Exists(std::int32_t packed_time) { return packed_time != -1; }

bool IsFresh(std::int32_t packed_time) {
  return platform::Now() - zub32::FileDateToDateTime(packed_time) < kMaxAgeDays;
}

// One rule of an archived picture; frames stack above the overlays.
void AppendArchiveRule(std::string& page, const std::string& host, std::string_view box_class,
                       int number, int z_index, const std::string& file_name) {
  AppendBoxRule(page, host,
                {std::string(box_class) + std::to_string(number), z_index,
                 file_name + "?foo=" + CacheBuster(), false, PropertyOrder::kPositionFirst, true});
}

// The script shows divs 0 up to last_overlay_div - 1 in turn; it walks the ids
// up to rule_limit and stops at the first one that is missing.
void AppendTail(std::string& page, int last_overlay_div, int rule_limit, std::int32_t html_delay) {
  AppendScriptOpening(page, 0);
  AppendLine(page, "      if (i1<" + std::to_string(last_overlay_div) + ")");
  AppendLine(page, "      {");
  AppendLine(page, "        //console.log(\"i1=\"+i1);");
  AppendLine(page, "        try");
  AppendLine(page, "        {");
  AppendLine(page, "          for (i2=0; i2<" + std::to_string(rule_limit) + ";i2++)");
  AppendLine(page, "          {");
  AppendLine(page, "            if (i1!=i2)");
  AppendLine(page, "            {");
  AppendLine(page, "              document.getElementById(\"myDiv\"+i2).style.display=\"none\";");
  AppendLine(page,
             "              document.getElementById(\"myDivSES\"+i2).style.display=\"none\";");
  AppendLine(page, "          } else {");
  AppendLine(page, "              document.getElementById(\"myDiv\"+i1).style.display=\"block\";");
  AppendLine(page,
             "              document.getElementById(\"myDivSES\"+i1).style.display=\"block\";");
  AppendLine(page, "            }");
  AppendLine(page, "          }");
  AppendLine(page, "        }");
  AppendLine(page, "        catch (e) {};");
  AppendLine(page, "        i1++;");
  AppendLine(page, "      } else");
  AppendLine(page, "      {");
  AppendLine(page, "        i1=0;");
  AppendLine(page, "      }");
  AppendLine(page, "    }," + std::to_string(html_delay) + ")");
  AppendLine(page, "  </script>");
  // The page ends without a line break.
  page.append("</html>");
}

}  // namespace

std::string BuildLoopPage24(const LoopPage24Inputs& inputs, const ConsoleSink& write_line) {
  std::string page;
  page.reserve(kFixedPartBytes + 2 * kSlotsPerDay * kBytesPerArchivedFile);
  AppendCommentHead(page, inputs.version, inputs.self_name);
  AppendLayerRules(page, inputs.publish_host, {true, true, false, false});

  // Each file is looked at once: the rules and the divs ask about many of
  // the same files, and asking the file system costs more than a rule.
  // Names the listing lacks are missing without a look-up of their own;
  // most of the day's names are missing on a young or sparse archive.
  const std::optional<std::unordered_set<std::string>> present = platform::EntryNames(".");
  std::unordered_map<std::string, std::int32_t> ages;
  auto age_of = [&ages, &present](const std::string& name) {
    const auto [entry, added] = ages.try_emplace(name, -1);
    if (added && (!present || present->contains(name))) entry->second = zub32::MyFileAge(name);
    return entry->second;
  };

  // Frame rules. The number advances for every frame present, stale or not,
  // so a stale frame leaves a gap in the numbering.
  int frame_rule = -1;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    const std::string name = RuleFileName(slot, FrameName);
    const std::int32_t packed_time = age_of(name);
    if (!Exists(packed_time)) {
      write_line(name + " Doesnt Exists!");
      continue;
    }
    ++frame_rule;
    if (!IsFresh(packed_time)) continue;
    AppendArchiveRule(page, inputs.publish_host, "weather-box", frame_rule, 10, name);
  }

  // Overlay rules. The number advances in every pass and so always equals the
  // slot; it ends at 287 and bounds the script's walk over the div ids.
  int overlay_rule = -1;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    const std::string name = RuleFileName(slot, OverlayName);
    ++overlay_rule;
    const std::int32_t packed_time = age_of(name);
    if (!Exists(packed_time) || !IsFresh(packed_time)) continue;
    AppendArchiveRule(page, inputs.publish_host, "sesoverlay-box", overlay_rule, 1, name);
  }

  AppendLayerDivs(page, "VESK 24hr loop");

  // Divs look every slot up under today's weekday, without a freshness test.
  int frame_div = -1;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (Exists(age_of(FrameName(platform::Now(), slot)))) {
      ++frame_div;
      const std::string number = std::to_string(frame_div);
      AppendLine(
          page, "      <div id=\"myDiv" + number + "\" class=\"weather-box" + number + "\"></div>");
    } else {
      write_line(FrameName(platform::Now(), slot) + " - misisng?????????????????");
    }
  }

  int overlay_div = -1;
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    if (!Exists(age_of(OverlayName(platform::Now(), slot)))) continue;
    ++overlay_div;
    const std::string number = std::to_string(overlay_div);
    AppendLine(page, "      <div id=\"myDivSES" + number + "\" class=\"sesoverlay-box" + number +
                         "\"></div>");
  }

  AppendTail(page, overlay_div, overlay_rule, inputs.html_delay);
  return page;
}

void WriteLoopPage24(RunContext& run) {
  LoopPage24Inputs inputs;
  inputs.self_name = zub32::GlobalSettings.SelfName;
  inputs.version = zub32::GlobalSettings.Version;
  inputs.publish_host = run.config.publish_host.text;
  inputs.html_delay = run.html_delay;
  // The lines for missing files, hundreds on a young archive, go out at once.
  std::vector<std::string> lines;
  run.page_text =
      BuildLoopPage24(inputs, [&lines](std::string_view line) { lines.emplace_back(line); });
  platform::WriteLines(lines);
  platform::WriteLine("Writing index24.html....");
  // The file is written only once the text is complete, so a failure while
  // assembling never publishes half a page.
  zub32::StringToFile(run.page_text, "index24.html", false, "");
}

}  // namespace refresh
