// The seven-frame loop picture composited and encoded in-process, beside
// ImageMagick's convert making the same animation from the same files in a
// program directory (the same layers in the same order, the same delays,
// -loop 0, WebP quality 80): median wall time of each, their ratio (target:
// at least 3 times faster), peak memory of a process doing it once (target:
// at most 64 MiB) and the file sizes (target: no larger than convert's).
//
//   LoopWebpBench --work DIR --convert /usr/bin/convert [--delay MS] [--runs N]
//
// DIR holds Image0.png ... Image6.png, SESOverlay0.bmp ... SESOverlay6.bmp
// and the IDR641 map layers, as runs against vesk-sim leave them.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "picture/PngDecoder.h"
#include "platform/FileSystem.h"
#include "refresh/LoopPicture.h"
#include "refresh/MapLayers.h"
#include "site/SiteNames.h"

namespace {

constexpr const char* kProduct = "IDR641";
constexpr double kMinSpeedup = 3.0;
constexpr long kMaxPeakKib = 64 * 1024;

struct Options {
  std::string work;
  std::string convert;
  int delay_ms = 500;
  int runs = 5;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "LoopWebpBench: %s\nusage: LoopWebpBench --work DIR --convert CONVERT "
               "[--delay MS] [--runs N]\n",
               problem.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (i + 1 >= argc) Usage(name + " needs a value");
    const std::string value = argv[++i];
    if (name == "--work") {
      options.work = value;
    } else if (name == "--convert") {
      options.convert = value;
    } else if (name == "--delay") {
      options.delay_ms = std::atoi(value.c_str());
    } else if (name == "--runs") {
      options.runs = std::max(1, std::atoi(value.c_str()));
    } else {
      Usage("unknown option " + name);
    }
  }
  if (options.work.empty() || options.convert.empty()) Usage("an option is missing");
  return options;
}

// convert's arguments for the animation: per frame, oldest first, a
// transparent canvas of the frames' size with the overlay, the shown map
// layers and the frame composited from the top-left corner, each with its
// delay in ticks of 10 ms.
std::vector<std::string> ConvertArguments(const Options& options, const std::string& size,
                                          const std::string& output) {
  const int frame_ms = refresh::LoopFrameMs(options.delay_ms);
  std::vector<std::string> args = {options.convert, "-gravity", "NorthWest"};
  for (int n = 6; n >= 0; --n) {
    const std::string frame = "Image" + std::to_string(n) + ".png";
    const int ms = n == 0 ? frame_ms * refresh::kNewestFrameHold : frame_ms;
    args.insert(args.end(), {"-delay", std::to_string(ms / 10), "(", "-size", size, "xc:none"});
    for (const std::string& layer :
         {site::RingMemberName(n), site::MapLayerFileName(kProduct, 1),
          site::MapLayerFileName(kProduct, 2), site::MapLayerFileName(kProduct, 3), frame}) {
      if (platform::EntryExists(layer)) args.insert(args.end(), {layer, "-composite"});
    }
    args.emplace_back(")");
  }
  args.insert(args.end(), {"-loop", "0", "-quality", "80", output});
  return args;
}

struct Measurement {
  bool ok = false;
  double wall_ms = 0;
  double cpu_ms = 0;  // user and system time
  long peak_kib = 0;
};

// Runs work in a child process and measures it from the fork to its reaping.
template <typename Work>
Measurement InChild(Work work) {
  Measurement measurement;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return measurement;
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return measurement;
  }
  measurement.wall_ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  measurement.peak_kib = usage.ru_maxrss;
  auto ms = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
  measurement.cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
  measurement.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return measurement;
}

struct Series {
  bool ok = true;
  double median_ms = 0;
  double median_cpu_ms = 0;
  long peak_kib = 0;
};

template <typename Work>
Series Measure(int runs, Work work) {
  Series series;
  std::vector<double> times;
  std::vector<double> cpu_times;
  for (int run = 0; run < runs; ++run) {
    const Measurement measurement = InChild(work);
    series.ok = series.ok && measurement.ok;
    times.push_back(measurement.wall_ms);
    cpu_times.push_back(measurement.cpu_ms);
    series.peak_kib = std::max(series.peak_kib, measurement.peak_kib);
  }
  std::sort(times.begin(), times.end());
  series.median_ms = times[times.size() / 2];
  std::sort(cpu_times.begin(), cpu_times.end());
  series.median_cpu_ms = cpu_times[cpu_times.size() / 2];
  return series;
}

long FileSize(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? -1 : static_cast<long>(size);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::error_code error;
  std::filesystem::current_path(options.work, error);
  if (error) Usage("cannot enter " + options.work + ": " + error.message());

  const Series ours = Measure(options.runs, [&] {
    try {
      const std::string bytes = refresh::BuildLoopPicture(kProduct, options.delay_ms, {});
      return platform::ReplaceFileAtomically("vesk.webp", bytes).ok();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "LoopWebpBench: %s\n", failure.what());
      return false;
    }
  });
  std::string size;
  try {
    const std::optional<std::string> newest = platform::ReadWholeFile("Image0.png");
    const picture::RgbaImage frame = picture::DecodePng(newest ? *newest : "");
    size = std::to_string(frame.width) + "x" + std::to_string(frame.height);
  } catch (const std::exception& failure) {
    Usage(std::string("no frame to measure: ") + failure.what());
  }
  std::vector<std::string> args = ConvertArguments(options, size, "convert.webp");
  std::vector<char*> argv_convert;
  for (std::string& arg : args) argv_convert.push_back(arg.data());
  argv_convert.push_back(nullptr);
  const Series theirs = Measure(options.runs, [&] {
    execv(argv_convert[0], argv_convert.data());
    return false;
  });
  if (!ours.ok || !theirs.ok) {
    std::printf("loop-webp: a run failed (in-process %s, convert %s)\n", ours.ok ? "ok" : "failed",
                theirs.ok ? "ok" : "failed");
    return 1;
  }

  const long our_size = FileSize("vesk.webp");
  const long their_size = FileSize("convert.webp");
  const double speedup = ours.median_ms > 0 ? theirs.median_ms / ours.median_ms : 0;
  std::printf("loop-webp: seven %s frames, delay %d ms, %d runs each (median)\n", size.c_str(),
              refresh::LoopFrameMs(options.delay_ms), options.runs);
  std::printf("  %-24s %10s %10s %10s %12s\n", "", "wall ms", "cpu ms", "peak KiB", "bytes");
  std::printf("  %-24s %10.1f %10.1f %10ld %12ld\n", "in-process", ours.median_ms,
              ours.median_cpu_ms, ours.peak_kib, our_size);
  std::printf("  %-24s %10.1f %10.1f %10ld %12ld\n", "ImageMagick convert", theirs.median_ms,
              theirs.median_cpu_ms, theirs.peak_kib, their_size);
  const bool fast = speedup >= kMinSpeedup;
  const bool lean = ours.peak_kib <= kMaxPeakKib;
  const bool small = our_size > 0 && our_size <= their_size;
  std::printf("  speed: %.2fx convert's in wall time (target >= %.0fx) %s\n", speedup, kMinSpeedup,
              fast ? "ok" : "MISSED");
  std::printf("  peak memory: %.1f MiB (target <= %ld MiB) %s\n", ours.peak_kib / 1024.0,
              kMaxPeakKib / 1024, lean ? "ok" : "MISSED");
  std::printf("  size: %.2f of convert's (target <= 1) %s\n",
              their_size > 0 ? static_cast<double>(our_size) / their_size : 0.0,
              small ? "ok" : "MISSED");
  return fast && lean && small ? 0 : 1;
}
