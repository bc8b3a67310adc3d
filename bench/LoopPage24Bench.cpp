// Time to assemble the 24-hour loop page when every archived frame and
// overlay of the day is present (1,152 existence tests, 576 age look-ups),
// next to the time of the bare stat calls those tests need.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"
#include "site/LoopPage24.h"
#include "zub32/DaySlot.h"

namespace {

constexpr int kRuns = 201;
constexpr int kSlots = 288;

double MedianMicroseconds(const std::function<void()>& work) {
  std::vector<double> samples;
  samples.reserve(kRuns);
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const auto stop = std::chrono::steady_clock::now();
    samples.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::nth_element(samples.begin(), samples.begin() + kRuns / 2, samples.end());
  return samples[kRuns / 2];
}

// A one-byte file whose last-write time is the given moment.
bool WriteArchive(const std::string& name, std::time_t written) {
  const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool wrote = write(fd, "x", 1) == 1;
  const bool closed = close(fd) == 0;
  const timespec times[2] = {{written, 0}, {written, 0}};
  return wrote && closed && utimensat(AT_FDCWD, name.c_str(), times, 0) == 0;
}

}  // namespace

int main() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vesk-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(pattern);

  // The last second of a day, with every slot archived earlier that day, so
  // that all four sections find their files under the same weekday.
  const platform::TDateTime now = platform::EncodeDateTime(2024, 7, 22, 23, 59, 59, 0);
  platform::SetClockForTesting([now] { return now; });
  std::tm noon{};
  noon.tm_year = 2024 - 1900;
  noon.tm_mon = 6;
  noon.tm_mday = 22;
  noon.tm_hour = 12;
  noon.tm_isdst = -1;
  const std::time_t written = mktime(&noon);

  std::vector<std::string> names;
  for (int slot = 0; slot < kSlots; ++slot) {
    names.push_back("Image-" + zub32::SlotTag(now, slot) + ".png");
    names.push_back("SESOverlay-" + zub32::SlotTag(now, slot) + ".bmp");
  }
  int status = 0;
  for (const std::string& name : names) {
    if (!WriteArchive(name, written)) {
      std::perror(name.c_str());
      status = 1;
    }
  }

  if (status == 0) {
    const site::LoopPage24Inputs inputs{"VESK", "2024.7.22.2151",
                                        site::PageAddresses::ForPublishHost("localhost"), 333};
    std::size_t console_lines = 0;
    std::size_t page_size = 0;
    const double page_us = MedianMicroseconds([&] {
      page_size = site::BuildLoopPage24(inputs, [&](std::string_view) { ++console_lines; }).size();
    });
    const double stat_us = MedianMicroseconds([&] {
      // Two passes over all names, as the rule and the div sections make.
      struct stat st;
      for (int pass = 0; pass < 2; ++pass) {
        for (const std::string& name : names) stat(name.c_str(), &st);
      }
    });
    std::printf(
        "LoopPage24Bench: assemble index24.html with %zu archived files: median %.1f us "
        "over %d runs (%zu bytes)\n",
        names.size(), page_us, kRuns, page_size);
    std::printf("LoopPage24Bench: the %zu bare stat calls alone: median %.1f us\n",
                2 * names.size(), stat_us);
    if (console_lines != 0) {
      std::fprintf(stderr, "LoopPage24Bench: %zu archived files were not found\n", console_lines);
      status = 1;
    }
  }

  platform::SetClockForTesting({});
  std::filesystem::current_path(previous);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return status;
}
