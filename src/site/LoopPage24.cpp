#include "site/LoopPage24.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/Console.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "site/PageText.h"
#include "site/SiteNames.h"
#include "zub32/Config.h"
#include "zub32/DaySlot.h"
#include "zub32/Records.h"
#include "zub32/TextFiles.h"

namespace site {

namespace {

using zub32::kSlotsPerDay;
// Room for the head and tail, and for one rule and one div per archived file.
constexpr std::size_t kFixedPartBytes = 4096;
constexpr std::size_t kBytesPerArchivedFile = 400;
// Archived files older than this (in days) get no style rule.
constexpr double kMaxAgeDays = 1.0;

std::string FrameName(platform::TDateTime day, int slot) {
  return ArchiveFrameName(zub32::SlotTag(day, slot));
}

std::string OverlayName(platform::TDateTime day, int slot) {
  return ArchiveOverlayName(zub32::SlotTag(day, slot));
}

// Slots up to the current one were archived today; later slots can only hold
// yesterday's pictures, so they are looked up under yesterday's weekday.
platform::TDateTime ArchiveDay(platform::TDateTime now, int current_slot, int slot) {
  return slot <= current_slot ? now : now - 1.0;
}

// A file counts as present when it is no directory and its last-write time
// packs into the two-second file-date form; MyFileAge answers both at once.
bool Exists(std::int32_t packed_time) { return packed_time != -1; }

bool IsFresh(std::int32_t packed_time) {
  return platform::Now() - zub32::FileDateToDateTime(packed_time) < kMaxAgeDays;
}

// One rule of an archived picture; frames stack above the overlays.
void AppendArchiveRule(std::string& page, const PageAddresses& addresses,
                       std::string_view box_class, int number, int z_index,
                       const std::string& file_name) {
  AppendBoxRule(page, addresses,
                {std::string(box_class) + std::to_string(number), z_index,
                 file_name + "?foo=" + CacheBuster(), false, PropertyOrder::kPositionFirst, true});
}

// The script shows divs 0 up to shown_limit - 1 in turn, hiding the others
// up to div_limit.
void AppendTail(std::string& page, int shown_limit, int div_limit, std::int32_t html_delay) {
  AppendScriptOpening(page, 0);
  AppendLine(page, "      if (i1<" + std::to_string(shown_limit) + ")");
  AppendLine(page, "      {");
  AppendLine(page, "        //console.log(\"i1=\"+i1);");
  AppendLine(page, "        try");
  AppendLine(page, "        {");
  AppendLine(page, "          for (i2=0; i2<" + std::to_string(div_limit) + ";i2++)");
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

// The archive's files, each looked at once. Names the listing lacks are
// missing without a look-up of their own; most of the day's names are
// missing on a young or sparse archive.
class ArchiveFiles {
 public:
  ArchiveFiles() : present_(platform::EntryNames(".")) {}

  std::int32_t AgeOf(const std::string& name) {
    const auto [entry, added] = ages_.try_emplace(name, -1);
    if (added && (!present_ || present_->contains(name))) entry->second = zub32::MyFileAge(name);
    return entry->second;
  }
  bool Accepted(const std::string& name) {
    const std::int32_t packed_time = AgeOf(name);
    return Exists(packed_time) && IsFresh(packed_time);
  }

 private:
  std::optional<std::unordered_set<std::string>> present_;
  std::unordered_map<std::string, std::int32_t> ages_;
};

struct ShownSlot {
  std::string frame;
  std::string overlay;  // empty: none to show
  platform::TDateTime day;
  int slot;
};

// The slots are probed in slot order, as the console lines list them, and
// shown in time order. One reading of the clock gives the weekday of every
// slot and the current slot the order ends with, so that the two agree. A
// frame and its overlay are looked up under the same weekday, so that each
// picture is paired with the overlay of its own slot, whatever else the
// archive lacks.
std::vector<ShownSlot> FindShownSlots(ArchiveFiles& files, bool each_line,
                                      const ConsoleSink& write_line) {
  const platform::TDateTime now = platform::Now();
  const int current_slot = zub32::DaySlot(now);
  std::vector<std::optional<ShownSlot>> by_slot(kSlotsPerDay);
  for (int slot = 0; slot < kSlotsPerDay; ++slot) {
    const platform::TDateTime day = ArchiveDay(now, current_slot, slot);
    ShownSlot entry{FrameName(day, slot), OverlayName(day, slot), day, slot};
    if (!Exists(files.AgeOf(entry.frame))) {
      if (each_line) write_line(entry.frame + " Doesnt Exists!");
      continue;
    }
    if (!files.Accepted(entry.frame)) continue;
    if (!files.Accepted(entry.overlay)) entry.overlay.clear();
    by_slot[slot] = std::move(entry);
  }
  std::vector<ShownSlot> shown;
  for (int slot : zub32::SlotsOldestFirst(current_slot)) {
    if (by_slot[slot]) shown.push_back(std::move(*by_slot[slot]));
  }
  return shown;
}

void RecordShownSlots(const std::vector<ShownSlot>& shown,
                      std::vector<ShownArchiveSlot>& shown_slots) {
  for (const ShownSlot& entry : shown) {
    const platform::TDateTime start =
        std::floor(entry.day) + static_cast<double>(entry.slot) / kSlotsPerDay;
    shown_slots.push_back({zub32::SlotTag(entry.day, entry.slot), entry.frame, entry.overlay,
                           platform::LocalDateTimeToUnix(start)});
  }
}

// Frames missing under today's weekday are reported once more, as the
// archive's gaps of the day; or one line counts what the page shows.
void ReportArchive(ArchiveFiles& files, const std::vector<ShownSlot>& shown, bool each_line,
                   const ConsoleSink& write_line) {
  for (int slot = 0; each_line && slot < kSlotsPerDay; ++slot) {
    if (!Exists(files.AgeOf(FrameName(platform::Now(), slot)))) {
      write_line(FrameName(platform::Now(), slot) + " - misisng?????????????????");
    }
  }
  if (!each_line) {
    const auto overlays = std::count_if(
        shown.begin(), shown.end(), [](const ShownSlot& slot) { return !slot.overlay.empty(); });
    write_line("Archive: " + std::to_string(shown.size()) + " of " + std::to_string(kSlotsPerDay) +
               " frames, " + std::to_string(overlays) + " overlays");
  }
}

// Every shown slot has both divs, so the script never meets a missing id
// before it has passed them all.
void AppendArchiveDivs(std::string& page, std::size_t count) {
  for (std::size_t k = 0; k < count; ++k) {
    const std::string number = std::to_string(k);
    AppendLine(page,
               "      <div id=\"myDiv" + number + "\" class=\"weather-box" + number + "\"></div>");
  }
  for (std::size_t k = 0; k < count; ++k) {
    const std::string number = std::to_string(k);
    AppendLine(page, "      <div id=\"myDivSES" + number + "\" class=\"sesoverlay-box" + number +
                         "\"></div>");
  }
}

}  // namespace

std::string BuildLoopPage24(const LoopPage24Inputs& inputs, const ConsoleSink& write_line,
                            std::vector<ShownArchiveSlot>* shown_slots) {
  const bool each_line = inputs.archive_lines == zub32::ArchiveLines::kEach;
  std::string page;
  page.reserve(kFixedPartBytes + 2 * kSlotsPerDay * kBytesPerArchivedFile);
  AppendCommentHead(page, inputs.version, inputs.self_name);
  AppendLayerRules(page, inputs.addresses, inputs.product, {true, true, false, false});

  ArchiveFiles files;
  const std::vector<ShownSlot> shown = FindShownSlots(files, each_line, write_line);
  if (shown_slots != nullptr) RecordShownSlots(shown, *shown_slots);

  // Rules are built in page order, so the cache-busters are read in it.
  for (std::size_t k = 0; k < shown.size(); ++k) {
    AppendArchiveRule(page, inputs.addresses, "weather-box", static_cast<int>(k), 10,
                      shown[k].frame);
  }
  for (std::size_t k = 0; k < shown.size(); ++k) {
    if (shown[k].overlay.empty()) continue;
    AppendArchiveRule(page, inputs.addresses, "sesoverlay-box", static_cast<int>(k), 1,
                      shown[k].overlay);
  }

  AppendLayerDivs(page, "VESK 24hr loop");
  ReportArchive(files, shown, each_line, write_line);
  AppendArchiveDivs(page, shown.size());

  // An empty page keeps the numbers it has always had.
  const int count = static_cast<int>(shown.size());
  if (count == 0) {
    AppendTail(page, -1, kSlotsPerDay - 1, inputs.html_delay);
  } else {
    AppendTail(page, count, count, inputs.html_delay);
  }
  return page;
}

std::string WriteLoopPage24(const LoopPage24Inputs& inputs,
                            std::vector<ShownArchiveSlot>* shown_slots) {
  // The lines for missing files, hundreds on a young archive, go out at once.
  std::vector<std::string> lines;
  std::string page = BuildLoopPage24(
      inputs, [&lines](std::string_view line) { lines.emplace_back(line); }, shown_slots);
  platform::WriteLines(lines);
  platform::WriteLine(std::string("Writing ") + kLoopPage24FileName + "....");
  // The file is written only once the text is complete, so a failure while
  // assembling never publishes half a page.
  zub32::StringToFile(page, kLoopPage24FileName, false, "");
  return page;
}

}  // namespace site
