// The nowcast's skill and cost. For every run position along a sequence of
// frames five minutes apart, a forecast from the seven frames up to it is
// scored against the frames observed 10, 20 and 30 minutes later by the
// critical success index, CSI = hits / (hits + misses + false alarms),
// pooled over the positions, for "any echo" and for "level 8 and above".
// Three methods side by side: persistence (the newest frame unchanged), our
// nowcast, and the reference extrapolation of bench/nowcast_reference.py
// (OpenCV's DIS flow) run on the same frames. Two sequences: the real
// frames of a directory (710 x 640) and a simulated day drawn by the
// simulator's renderer. Targets: our nowcast above persistence at every
// lead time, at +30 min at most 0.02 below the reference for both
// thresholds on both sequences, at most 60 ms of processor time a forecast
// (median, real frames, levels read included; writing the six PNG pictures
// is shown apart) and a process making one forecast from seven decoded
// frames at most 64 MiB at its peak.
//
//   NowcastBench --real DIR --reference SCRIPT --work DIR [--python PYTHON]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "BenchOptions.h"
#include "FrameSchedule.h"
#include "PngEncoder.h"
#include "RadarScene.h"
#include "nowcast/EchoLevels.h"
#include "nowcast/Nowcast.h"
#include "picture/PngDecoder.h"
#include "platform/MemoryPages.h"
#include "platform/RegularFile.h"

namespace {

constexpr int kHistory = 7;
constexpr int kScoredLeads[] = {10, 20, 30};
constexpr int kHighLevel = 8;
constexpr double kMaxBehindReference = 0.02;
constexpr double kMaxMilliseconds = 60.0;
constexpr long kMaxPeakKib = 64 * 1024;
// A simulated day: 288 frames from this time (2024-07-22 00:00 UTC).
constexpr sim::Minutes kSimDayStart = 28696320;
constexpr int kSimDayFrames = 288;

// The real frames' legend, weakest first.
const nowcast::Legend kRealLegend = {
    {245, 245, 255}, {180, 180, 255}, {120, 120, 255}, {20, 20, 255}, {0, 216, 195},
    {0, 150, 144},   {0, 102, 102},   {255, 255, 0},   {255, 200, 0}, {255, 150, 0},
    {255, 100, 0},   {255, 0, 0},     {200, 0, 0},     {120, 0, 0}};

struct Options {
  std::string real;
  std::string reference;
  std::string work;
  std::string python = "/usr/bin/python3";
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "NowcastBench: %s\nusage: NowcastBench --real DIR --reference SCRIPT --work DIR "
               "[--python PYTHON]\n",
               problem.c_str());
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  bench::ReadOptions(argc, argv,
                     {{"--real", [&](const std::string& value) { options.real = value; }},
                      {"--reference", [&](const std::string& value) { options.reference = value; }},
                      {"--work", [&](const std::string& value) { options.work = value; }},
                      {"--python", [&](const std::string& value) { options.python = value; }}},
                     Usage);
  if (options.real.empty() || options.reference.empty() || options.work.empty()) {
    Usage("an option is missing");
  }
  return options;
}

struct Sequence {
  std::string name;
  std::string directory;  // the frames as PNG files named by their time
  nowcast::Legend legend;
  std::vector<picture::RgbaImage> frames;
  std::vector<std::int64_t> minutes;
};

Sequence LoadReal(const std::string& directory) {
  Sequence sequence{"real frames", directory, kRealLegend, {}, {}};
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() == ".png") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    const std::optional<sim::Minutes> time = sim::ParseStamp(file.stem().string());
    const std::optional<std::string> bytes = platform::ReadWholeFile(file.string());
    if (!time || !bytes) Usage("cannot read " + file.string());
    sequence.frames.push_back(picture::DecodePng(*bytes));
    sequence.minutes.push_back(*time);
  }
  return sequence;
}

// The simulated day, drawn in-process and written as PNG files for the
// reference script.
Sequence SimulatedDay(const std::string& directory) {
  std::filesystem::create_directories(directory);
  Sequence sequence{"simulated day", directory, {}, {}, {}};
  for (int i = 0; i < kSimDayFrames; ++i) {
    const sim::Minutes time = kSimDayStart + i * sim::kFrameStepMinutes;
    const sim::IndexedImage image = sim::RenderRadarFrame(time);
    if (sequence.legend.empty()) {
      for (std::size_t p = 1; p < image.palette.size(); ++p) {
        sequence.legend.push_back(
            {image.palette[p].red, image.palette[p].green, image.palette[p].blue});
      }
    }
    const std::string png = sim::EncodePng(image);
    const std::string path = directory + "/" + sim::FormatStamp(time) + ".png";
    std::ofstream file(path, std::ios::binary);
    file << png;
    if (!file.flush()) Usage("cannot write " + path);
    sequence.frames.push_back(picture::DecodePng(png));
    sequence.minutes.push_back(time);
  }
  return sequence;
}

struct Counts {
  double hits = 0, misses = 0, false_alarms = 0;
  double Csi() const {
    const double all = hits + misses + false_alarms;
    return all > 0 ? hits / all : 0.0;
  }
};

// Scores[method][threshold index][lead index].
using Scores = std::map<std::string, std::array<std::array<Counts, 3>, 2>>;

void Score(const nowcast::LevelField& forecast, const nowcast::LevelField& observed,
           std::array<Counts, 3>* thresholds, std::size_t lead) {
  const int levels[2] = {1, kHighLevel};
  for (int t = 0; t < 2; ++t) {
    Counts& counts = thresholds[t][lead];
    for (std::size_t i = 0; i < forecast.levels.size(); ++i) {
      const bool predicted = forecast.levels[i] >= levels[t];
      const bool seen = observed.levels[i] >= levels[t];
      counts.hits += predicted && seen;
      counts.misses += !predicted && seen;
      counts.false_alarms += predicted && !seen;
    }
  }
}

// The processor time this thread has used, in ms: unlike the wall clock,
// it does not count the time other processes on a shared machine take.
double ThreadCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Runs persistence and our nowcast over the sequence; the median processor
// time of a nowcast goes to median_ms.
void RunOurs(const Sequence& sequence, Scores& scores, double& median_ms) {
  std::vector<nowcast::LevelField> levels;
  for (const auto& frame : sequence.frames) {
    levels.push_back(nowcast::EchoLevels(frame, sequence.legend));
  }
  std::vector<double> times, encode_times;
  const int count = static_cast<int>(sequence.frames.size());
  for (int newest = kHistory - 1; newest + 6 < count; ++newest) {
    std::vector<nowcast::TimedFrame> frames;
    for (int i = newest - kHistory + 1; i <= newest; ++i) {
      frames.push_back({&sequence.frames[static_cast<std::size_t>(i)],
                        sequence.minutes[static_cast<std::size_t>(i)]});
    }
    const double start = ThreadCpuMs();
    const nowcast::Forecast forecast = nowcast::MakeNowcast(frames, sequence.legend);
    times.push_back(ThreadCpuMs() - start);
    const double encode_start = ThreadCpuMs();
    for (const auto& lead : forecast.leads) nowcast::EncodeLevelsPng(lead, sequence.legend);
    encode_times.push_back(ThreadCpuMs() - encode_start);
    if (!forecast.Made()) Usage("no nowcast: " + forecast.failure);
    for (std::size_t l = 0; l < 3; ++l) {
      const int steps = kScoredLeads[l] / nowcast::kStepMinutes;
      const nowcast::LevelField& observed = levels[static_cast<std::size_t>(newest + steps)];
      Score(levels[static_cast<std::size_t>(newest)], observed, scores["persistence"].data(), l);
      Score(forecast.leads[static_cast<std::size_t>(steps - 1)], observed, scores["ours"].data(),
            l);
    }
  }
  std::sort(times.begin(), times.end());
  std::sort(encode_times.begin(), encode_times.end());
  median_ms = times[times.size() / 2];
  std::printf(
      "%s: median processor time a forecast %.1f ms, then %.1f ms to write its six PNG "
      "pictures\n",
      sequence.name.c_str(), median_ms, encode_times[encode_times.size() / 2]);
}

std::string LegendArgument(const nowcast::Legend& legend) {
  std::string text;
  for (const auto& colour : legend) {
    if (!text.empty()) text += ";";
    text += std::to_string(colour.red) + "," + std::to_string(colour.green) + "," +
            std::to_string(colour.blue);
  }
  return text;
}

bool ParseNumber(const std::string& text, double& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The reference script's counts: lines "lead threshold hits misses
// false_alarms" and one "ms MEDIAN".
bool RunReference(const Options& options, const Sequence& sequence, Scores& scores,
                  double& median_ms) {
  const std::string command =
      options.python + " '" + options.reference + "' --frames '" + sequence.directory +
      "' --legend '" + LegendArgument(sequence.legend) + "' --history " + std::to_string(kHistory) +
      " --high-level " + std::to_string(kHighLevel);
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char line[512];
  bool ok = true;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::vector<std::string> words;
    std::string word;
    for (const char* c = line; *c != '\0'; ++c) {
      if (*c == ' ' || *c == '\n') {
        if (!word.empty()) words.push_back(word);
        word.clear();
      } else {
        word += *c;
      }
    }
    if (words.size() == 2 && words[0] == "ms") {
      ok = ok && ParseNumber(words[1], median_ms);
      continue;
    }
    double v[5];
    if (words.size() != 5) {
      ok = false;
      continue;
    }
    for (int i = 0; i < 5; ++i) ok = ok && ParseNumber(words[static_cast<std::size_t>(i)], v[i]);
    if (!ok) continue;
    const auto lead =
        std::find(std::begin(kScoredLeads), std::end(kScoredLeads), static_cast<int>(v[0])) -
        std::begin(kScoredLeads);
    const std::size_t threshold = v[1] == 1 ? 0 : 1;
    if (lead >= 3) continue;
    scores["reference"][threshold][static_cast<std::size_t>(lead)] = {v[2], v[3], v[4]};
  }
  return pclose(pipe) == 0 && ok;
}

// Prints the table and checks the targets; false on a miss.
bool Report(const Sequence& sequence, Scores& scores, double ours_ms, double reference_ms) {
  std::printf("%s: %zu frames of %d x %d, %zu forecasts\n", sequence.name.c_str(),
              sequence.frames.size(), sequence.frames.front().width, sequence.frames.front().height,
              sequence.frames.size() - kHistory - 5);
  bool ok = true;
  const char* names[2] = {"any echo", "level >= 8"};
  for (std::size_t t = 0; t < 2; ++t) {
    std::printf("  CSI %-10s      +10 min  +20 min  +30 min\n", names[t]);
    for (const char* method : {"persistence", "ours", "reference"}) {
      std::printf("    %-12s", method);
      for (std::size_t l = 0; l < 3; ++l) std::printf("    %.3f", scores[method][t][l].Csi());
      std::printf("\n");
    }
    for (std::size_t l = 0; l < 3; ++l) {
      if (scores["ours"][t][l].Csi() <= scores["persistence"][t][l].Csi()) {
        std::printf("    MISS: not above persistence at +%d min\n", kScoredLeads[l]);
        ok = false;
      }
    }
    const double behind = scores["reference"][t][2].Csi() - scores["ours"][t][2].Csi();
    std::printf("    at +30 min %.3f behind the reference (target <= %.2f) %s\n", behind,
                kMaxBehindReference, behind <= kMaxBehindReference ? "ok" : "MISS");
    ok = ok && behind <= kMaxBehindReference;
  }
  std::printf("  median time a forecast: ours %.1f ms, reference %.1f ms\n", ours_ms, reference_ms);
  return ok;
}

// One forecast from seven frames decoded in a fresh child process: its peak
// resident memory in KiB, or -1.
long PeakMemoryKib(const std::string& directory) {
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
      if (entry.path().extension() == ".png") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    if (files.size() < kHistory) _exit(1);
    std::vector<picture::RgbaImage> pictures;
    std::vector<nowcast::TimedFrame> frames;
    for (std::size_t i = files.size() - kHistory; i < files.size(); ++i) {
      const std::optional<std::string> bytes = platform::ReadWholeFile(files[i].string());
      if (!bytes) _exit(1);
      pictures.push_back(picture::DecodePng(*bytes));
    }
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      frames.push_back({&pictures[i], static_cast<std::int64_t>(5 * i)});
    }
    const nowcast::Forecast forecast = nowcast::MakeNowcast(frames, kRealLegend);
    for (const auto& lead : forecast.leads) nowcast::EncodeLevelsPng(lead, kRealLegend);
    _exit(forecast.Made() ? 0 : 1);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return -1;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  // The heap as vesk sets it up.
  platform::PreferLargePagesForHeap(platform::kRunHeapReserve);
  // Measured first, while this process is still small: the child starts
  // with its parent's pages.
  const long peak_kib = PeakMemoryKib(options.real);
  bool ok = true;
  double real_ms = 0;
  for (int which = 0; which < 2; ++which) {
    const Sequence sequence =
        which == 0 ? LoadReal(options.real) : SimulatedDay(options.work + "/simulated-day");
    Scores scores;
    double ours_ms = 0, reference_ms = 0;
    RunOurs(sequence, scores, ours_ms);
    if (which == 0) real_ms = ours_ms;
    const bool referenced = RunReference(options, sequence, scores, reference_ms);
    if (!referenced) std::printf("%s: the reference script failed\n", sequence.name.c_str());
    ok = Report(sequence, scores, ours_ms, reference_ms) && referenced && ok;
    std::fflush(stdout);
  }
  const bool fast = real_ms <= kMaxMilliseconds;
  std::printf("time a forecast at 710 x 640: %.1f ms (target <= %.0f ms) %s\n", real_ms,
              kMaxMilliseconds, fast ? "ok" : "MISS");
  const bool small = peak_kib > 0 && peak_kib <= kMaxPeakKib;
  std::printf("peak memory of a process making one forecast: %.1f MiB (target <= %ld MiB) %s\n",
              static_cast<double>(peak_kib) / 1024.0, kMaxPeakKib / 1024, small ? "ok" : "MISS");
  return ok && fast && small ? 0 : 1;
}
