// The seven-frame loop picture, loop.webp, made four ways from the same
// files in a program directory, each timed in a child process (median wall
// and CPU time, peak memory, file size):
//   - in-process from a cold cache (every frame encoded);
//   - in-process with one new frame: the cache holds the encodings of the
//     loop one frame before (PREVIOUS, the same directory one run earlier),
//     as after the run before;
//   - ImageMagick's convert doing the same composite (overlay, the shown map
//     layers, the frame, a caption band) and animation, lossless at the same
//     effort;
//   - libwebp's img2webp on the frames already composited (taken from the
//     in-process animation), lossless at the same effort, and at the default
//     effort of the animation encoder, which is the size the loop had when
//     every frame was encoded each run.
// Targets: the run with one new frame at least kMinSpeedup times faster than
// convert, peak memory at most kMaxPeakKib, a file at most kMaxSizeRatio
// times the default-effort lossless one.
//
//   LoopWebpBench --work DIR --previous DIR --convert /usr/bin/convert
//                 --img2webp /usr/bin/img2webp [--delay MS] [--runs N]
//
// DIR and PREVIOUS hold Image0.png ... Image6.png, SESOverlay0.bmp ...
// SESOverlay6.bmp and the IDR641 map layers, as runs leave them.
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
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <webp/demux.h>

#include <fstream>
#include <memory>

#include "BenchOptions.h"
#include "picture/PngDecoder.h"
#include "picture/WebpAnimation.h"
#include "platform/FileSystem.h"
#include "platform/MemoryPages.h"
#include "refresh/LoopPicture.h"
#include "refresh/MapLayers.h"
#include "site/SiteNames.h"

namespace {

constexpr const char* kProduct = "IDR641";
constexpr double kMinSpeedup = 8.0;
constexpr long kMaxPeakKib = 48 * 1024;
constexpr double kMaxSizeRatio = 1.1;
// The caption band that convert draws, as tall as the loop's two lines.
constexpr int kBandHeight = 32;

struct Options {
  std::string work;
  std::string previous;
  std::string convert;
  std::string img2webp;
  int delay_ms = 500;
  int runs = 5;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(
      stderr,
      "LoopWebpBench: %s\nusage: LoopWebpBench --work DIR --previous DIR --convert CONVERT "
      "--img2webp IMG2WEBP [--delay MS] [--runs N]\n",
      problem.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bench::ReadOptions(
      argc, argv,
      {{"--work", [&](const std::string& value) { options.work = value; }},
       {"--previous", [&](const std::string& value) { options.previous = value; }},
       {"--img2webp", [&](const std::string& value) { options.img2webp = value; }},
       {"--convert", [&](const std::string& value) { options.convert = value; }},
       {"--delay", [&](const std::string& value) { options.delay_ms = std::atoi(value.c_str()); }},
       {"--runs",
        [&](const std::string& value) { options.runs = std::max(1, std::atoi(value.c_str())); }}},
      Usage);
  if (options.work.empty() || options.previous.empty() || options.convert.empty() ||
      options.img2webp.empty()) {
    Usage("an option is missing");
  }
  return options;
}

// convert's arguments for the animation: per frame, oldest first, a
// transparent canvas of the frames' size with the overlay, the shown map
// layers and the frame composited from the top-left corner and a caption
// band, each with its delay in ticks of 10 ms; lossless at the loop's effort.
std::vector<std::string> ConvertArguments(const Options& options, int width, int height,
                                          const std::string& output) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
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
    args.insert(args.end(),
                {"-fill", "#181818", "-draw",
                 "rectangle 0," + std::to_string(height - kBandHeight) + " " +
                     std::to_string(width) + "," + std::to_string(height),
                 "-fill", "white", "-annotate", "+3+" + std::to_string(height - kBandHeight + 2),
                 "time unknown", ")"});
  }
  args.insert(args.end(),
              {"-loop", "0", "-define", "webp:lossless=true", "-define",
               "webp:method=" + std::to_string(picture::kWebpLosslessMethod), "-quality",
               std::to_string(static_cast<int>(picture::kWebpLosslessQuality)), output});
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
// Each run measures work in a child of its own; prepare, when given, runs
// before it in this process, unmeasured.
Series Measure(int runs, Work work, const std::function<void()>& prepare = nullptr) {
  Series series;
  std::vector<double> times;
  std::vector<double> cpu_times;
  for (int run = 0; run < runs; ++run) {
    if (prepare) prepare();
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

// Writes every frame of an animation, as libwebp's decoder draws it, to a
// PAM file (RGBA) in directory, and returns img2webp's arguments for them
// with their durations; empty when the animation does not decode.
std::vector<std::string> WriteFrames(const std::string& animation, const std::string& directory,
                                     const std::string& img2webp) {
  WebPData data{reinterpret_cast<const std::uint8_t*>(animation.data()), animation.size()};
  WebPAnimDecoderOptions decoder_options;
  WebPAnimDecoderOptionsInit(&decoder_options);
  decoder_options.color_mode = MODE_RGBA;
  std::unique_ptr<WebPAnimDecoder, void (*)(WebPAnimDecoder*)> decoder(
      WebPAnimDecoderNew(&data, &decoder_options), WebPAnimDecoderDelete);
  WebPAnimInfo info;
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info)) return {};
  std::vector<std::string> args = {img2webp, "-loop", "0"};
  int shown_until = 0;
  for (int n = 0; WebPAnimDecoderHasMoreFrames(decoder.get()); ++n) {
    std::uint8_t* pixels = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &pixels, &timestamp)) return {};
    const std::string file = directory + "/frame" + std::to_string(n) + ".pam";
    std::ofstream out(file, std::ios::binary);
    out << "P7\nWIDTH " << info.canvas_width << "\nHEIGHT " << info.canvas_height
        << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    out.write(reinterpret_cast<const char*>(pixels),
              static_cast<std::streamsize>(info.canvas_width) * info.canvas_height * 4);
    if (!out) return {};
    args.insert(args.end(), {"-d", std::to_string(timestamp - shown_until), file});
    shown_until = timestamp;
  }
  return args;
}

// Runs a program in a child and measures it; its output goes to /dev/null.
Series MeasureProgram(int runs, std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return Measure(runs, [&] {
    if (std::freopen("/dev/null", "w", stdout) == nullptr ||
        std::freopen("/dev/null", "w", stderr) == nullptr) {
      return false;
    }
    execv(argv[0], argv.data());
    return false;
  });
}

void PrintRow(const char* label, const Series& series, long bytes) {
  std::printf("  %-40s %10.1f %10.1f %10ld %12ld\n", label, series.median_ms, series.median_cpu_ms,
              series.peak_kib, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  // The heap as vesk sets it up, which every measured child inherits.
  platform::PreferLargePagesForHeap(platform::kRunHeapReserve);
  const std::string cache = site::kLoopCacheDirectory;
  auto build = [&] {
    try {
      const std::string bytes = refresh::BuildLoopPicture(kProduct, options.delay_ms, {});
      return platform::ReplaceFileAtomically("vesk.webp", bytes).ok();
    } catch (const std::exception& failure) {
      std::fprintf(stderr, "LoopWebpBench: %s\n", failure.what());
      return false;
    }
  };
  // The cache as the run before left it.
  std::error_code error;
  std::filesystem::current_path(options.previous, error);
  if (error) Usage("cannot enter " + options.previous + ": " + error.message());
  std::filesystem::remove_all(cache);
  // Built in a child as well: a build here would leave this process a heap
  // that every measured child then shares copy-on-write, charging each of
  // its writes a page copy that a run started afresh never pays.
  if (!InChild(build).ok) return 1;
  const std::filesystem::path previous_cache = std::filesystem::absolute(cache);
  std::filesystem::current_path(options.work, error);
  if (error) Usage("cannot enter " + options.work + ": " + error.message());

  const Series cold = Measure(options.runs, build, [&] { std::filesystem::remove_all(cache); });
  const long cold_size = FileSize("vesk.webp");
  // The cache is laid out as the run before left it, outside the
  // measurement: a run finds it in place.
  const Series warm = Measure(options.runs, build, [&] {
    std::filesystem::remove_all(cache);
    std::filesystem::copy(previous_cache, cache, std::filesystem::copy_options::recursive);
  });
  const long our_size = FileSize("vesk.webp");

  int width = 0;
  int height = 0;
  try {
    const std::optional<std::string> newest = platform::ReadWholeFile("Image0.png");
    const picture::RgbaImage frame = picture::DecodePng(newest ? *newest : "");
    width = frame.width;
    height = frame.height;
  } catch (const std::exception& failure) {
    Usage(std::string("no frame to measure: ") + failure.what());
  }
  const Series convert =
      MeasureProgram(options.runs, ConvertArguments(options, width, height, "convert.webp"));
  std::filesystem::create_directories("composited");
  std::vector<std::string> img2webp = WriteFrames(platform::ReadWholeFile("vesk.webp").value_or(""),
                                                  "composited", options.img2webp);
  if (img2webp.empty()) Usage("the loop picture does not decode");
  std::vector<std::string> tuned = img2webp;
  tuned.insert(tuned.begin() + 1,
               {"-lossless", "-m", std::to_string(picture::kWebpLosslessMethod), "-q",
                std::to_string(static_cast<int>(picture::kWebpLosslessQuality))});
  tuned.insert(tuned.end(), {"-o", "img2webp.webp"});
  const Series img2webp_tuned = MeasureProgram(options.runs, tuned);
  const long img2webp_size = FileSize("img2webp.webp");
  img2webp.insert(img2webp.begin() + 1, "-lossless");
  img2webp.insert(img2webp.end(), {"-o", "img2webp-default.webp"});
  const Series img2webp_default = MeasureProgram(1, img2webp);
  const long default_size = FileSize("img2webp-default.webp");
  if (!cold.ok || !warm.ok || !convert.ok || !img2webp_tuned.ok || !img2webp_default.ok) {
    std::printf("loop-webp: a run failed (cold %d, one new frame %d, convert %d, img2webp %d/%d)\n",
                cold.ok, warm.ok, convert.ok, img2webp_tuned.ok, img2webp_default.ok);
    return 1;
  }

  const long their_size = FileSize("convert.webp");
  const double speedup = warm.median_ms > 0 ? convert.median_ms / warm.median_ms : 0;
  std::printf(
      "loop-webp: seven %dx%d frames, delay %d ms, %d runs each (median), lossless "
      "method %d quality %.0f\n",
      width, height, refresh::LoopFrameMs(options.delay_ms), options.runs,
      picture::kWebpLosslessMethod, picture::kWebpLosslessQuality);
  std::printf("  %-40s %10s %10s %10s %12s\n", "", "wall ms", "cpu ms", "peak KiB", "bytes");
  PrintRow("in-process, cold cache", cold, cold_size);
  PrintRow("in-process, one new frame", warm, our_size);
  PrintRow("ImageMagick convert (composite+animate)", convert, their_size);
  PrintRow("img2webp, pre-composited", img2webp_tuned, img2webp_size);
  PrintRow("img2webp, default lossless effort (1 run)", img2webp_default, default_size);
  const bool fast = speedup >= kMinSpeedup;
  const long peak = std::max(cold.peak_kib, warm.peak_kib);
  const bool lean = peak <= kMaxPeakKib;
  const double size_ratio = default_size > 0 ? static_cast<double>(our_size) / default_size : 0;
  const bool small = our_size > 0 && size_ratio <= kMaxSizeRatio;
  std::printf(
      "  speed: one new frame %.2fx faster than convert (target >= %.0fx) %s; "
      "%.2fx faster than img2webp\n",
      speedup, kMinSpeedup, fast ? "ok" : "MISSED",
      warm.median_ms > 0 ? img2webp_tuned.median_ms / warm.median_ms : 0);
  std::printf("  peak memory: %.1f MiB (target <= %ld MiB) %s\n", peak / 1024.0, kMaxPeakKib / 1024,
              lean ? "ok" : "MISSED");
  std::printf("  size: %.3f of the default-effort lossless animation (target <= %.1f) %s\n",
              size_ratio, kMaxSizeRatio, small ? "ok" : "MISSED");
  return fast && lean && small ? 0 : 1;
}
