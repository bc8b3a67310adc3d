// The whole refresh run with a new frame, end to end, against a running
// simulator, for a product (so that the map layers are fetched and drawn in
// loop.webp, as on a real site): minimum, median and maximum wall time, CPU
// time and peak memory of many `vesk` runs with the loop picture on and off,
// side by side with two other ways of doing the run's network or whole job:
//   - the network floor: one curl process fetching the same nine resources
//     (loop page, seven frames, station feed) over one kept-alive connection;
//   - a plain shell script doing the same job with curl and ImageMagick,
//     loop.webp included.
//
// Every run starts in a fresh copy of a prepared program directory, so that
// each one finds a new frame and does the full job; a vesk run is preceded
// by an untimed one in the same copy, so that it finds exactly one new
// frame, as in a publication that runs every five minutes. The directory is that of
// a publication that has run for a while: pages, seven frames, a full
// overlay ring, the map layers, the loop picture's kept encodings, and
// archived frames and overlays for every slot of today and
// yesterday (hard links to one archived pair; the current and the next
// slot's archives, which a run may write, are real copies, because the shell
// script writes into an existing file in place). The simulator must
// run with --advance-on-request and the given --start-frame: every loop page
// served moves the newest frame on by five minutes, and the bench counts the
// pages to know which frame each run must end with. The simulator renders a
// frame on its first request, which costs it far longer than serving it; the
// bench asks for each new frame once before a timed run, so that the times
// measure the clients, not the simulator's drawing.
//
// The three are timed in turn within each round (the order rotates), so that
// the load of a shared machine falls on all of them alike. The work directory
// is normally on a disk: a run flushes every file it publishes before
// renaming it, which neither yardstick does, and the bench shows what that
// costs. On a RAM file system the flushes cost nothing, which leaves the
// rest of the run to compare. With --strace, one more vesk run (untimed) is
// traced to count its flush calls (fsync and fdatasync).
//
// Targets: the vesk run with the loop picture at most kMaxFloorRatio times
// the curl floor and at most kMaxCpuMs of CPU time, and at least
// kMinShellRatio times faster than the shell script. Exits 1 when a target
// is missed or a run fails its check, 2 on a bad command line.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "BenchOptions.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kMaxFloorRatio = 10.0;
constexpr double kMaxCpuMs = 80.0;
constexpr unsigned long kTmpfsMagic = 0x01021994;
constexpr double kMinShellRatio = 5.0;
constexpr int kLoopFrames = 7;
constexpr std::int64_t kFrameStepMinutes = 5;
// Runs in the prepared directory before timing: enough to fill the overlay
// ring and the frames, as in a publication that has been running a while.
constexpr int kPrepareRuns = kLoopFrames;
constexpr int kSlotsPerDay = 288;
constexpr const char* kDayTags[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};

struct Options {
  std::string vesk;
  std::string curl;
  std::string shell_script;
  std::string background;
  std::string work;
  std::string strace;  // optional: counts the flush calls of one run
  int port = 0;
  std::int64_t start_minutes = 0;  // UTC minutes since 1970 of the first newest frame
  int runs = 30;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr, "EndToEndBench: %s\n", problem.c_str());
  std::fprintf(stderr,
               "usage: EndToEndBench --vesk PATH --curl PATH --shell-script PATH\n"
               "         --background BMP --port N --start-frame YYYYMMDDHHMM --work DIR\n"
               "         [--strace PATH] [--runs N]\n");
  std::exit(2);
}

std::optional<std::int64_t> ParseStamp(const std::string& text) {
  if (text.size() != 12 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  std::tm tm{};
  tm.tm_year = std::stoi(text.substr(0, 4)) - 1900;
  tm.tm_mon = std::stoi(text.substr(4, 2)) - 1;
  tm.tm_mday = std::stoi(text.substr(6, 2));
  tm.tm_hour = std::stoi(text.substr(8, 2));
  tm.tm_min = std::stoi(text.substr(10, 2));
  const std::time_t seconds = timegm(&tm);
  if (seconds < 0 || seconds % 60 != 0) return std::nullopt;
  return seconds / 60;
}

std::string FramePath(std::int64_t minutes) {
  const std::time_t seconds = static_cast<std::time_t>(minutes * 60);
  std::tm tm{};
  gmtime_r(&seconds, &tm);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M", &tm);
  return std::string("/radar/IDR641.T.") + stamp + ".png";
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  auto text = [](std::string& field) {
    return [&field](const std::string& value) { field = value; };
  };
  bench::ReadOptions(argc, argv,
                     {{"--vesk", text(options.vesk)},
                      {"--curl", text(options.curl)},
                      {"--shell-script", text(options.shell_script)},
                      {"--background", text(options.background)},
                      {"--work", text(options.work)},
                      {"--strace", text(options.strace)},
                      {"--port",
                       [&](const std::string& value) {
                         options.port = std::atoi(value.c_str());
                         if (options.port <= 0 || options.port > 65535)
                           Usage("bad --port " + value);
                       }},
                      {"--start-frame",
                       [&](const std::string& value) {
                         const auto minutes = ParseStamp(value);
                         if (!minutes) Usage("bad --start-frame " + value);
                         options.start_minutes = *minutes;
                       }},
                      {"--runs",
                       [&](const std::string& value) {
                         options.runs = std::atoi(value.c_str());
                         if (options.runs < 1 || options.runs > 1000) Usage("bad --runs " + value);
                       }}},
                     Usage);
  if (options.vesk.empty() || options.curl.empty() || options.shell_script.empty() ||
      options.background.empty() || options.work.empty() || options.port == 0 ||
      options.start_minutes == 0) {
    Usage("an option is missing");
  }
  return options;
}

struct Measurement {
  bool ok = false;
  double wall_ms = 0;
  double cpu_ms = 0;  // user and system time of the process and its children
  long peak_kib = 0;  // the largest resident size of the process and its children
};

// Runs the program with the extra environment, standard output and error
// going to log_file, and measures it from before the spawn to its reaping.
Measurement Run(const std::vector<std::string>& argv, const std::vector<std::string>& extra_env,
                const std::string& log_file) {
  std::vector<std::string> env_strings;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    // The bench sets every VESK_ variable a run reads; none is inherited.
    if (std::strncmp(*entry, "VESK_", 5) != 0) env_strings.emplace_back(*entry);
  }
  env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
  std::vector<char*> envp;
  for (std::string& entry : env_strings) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_strings = argv;
  std::vector<char*> args;
  for (std::string& entry : argv_strings) args.push_back(entry.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_file.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);

  Measurement measurement;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "EndToEndBench: cannot start %s: %s\n", args[0], std::strerror(error));
    return measurement;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return measurement;
  }
  const auto end = std::chrono::steady_clock::now();
  measurement.wall_ms = std::chrono::duration<double, std::milli>(end - start).count();
  measurement.peak_kib = usage.ru_maxrss;
  auto ms = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
  measurement.cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
  measurement.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!measurement.ok) {
    std::fprintf(stderr, "EndToEndBench: %s ended with status %d; its output is in %s\n", args[0],
                 status, log_file.c_str());
  }
  return measurement;
}

// The archive tag of a slot of the local day `days_back` days ago: the
// weekday's two letters and the slot, as runs with LC_ALL=C write them.
std::string SlotTag(int days_back, int slot) {
  const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(days_back) * 86400;
  std::tm tm{};
  localtime_r(&when, &tm);
  char tag[16];
  std::snprintf(tag, sizeof tag, "%s%03d", kDayTags[tm.tm_wday], slot);
  return tag;
}

// The archive tag of the slot `ahead` slots after the current one.
std::string SlotTagFromNow(int ahead) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(ahead) * 300;
  std::tm tm{};
  localtime_r(&when, &tm);
  char tag[16];
  std::snprintf(tag, sizeof tag, "%s%03d", kDayTags[tm.tm_wday], (tm.tm_hour * 60 + tm.tm_min) / 5);
  return tag;
}

// The first file in the directory whose name starts with prefix.
std::optional<fs::path> FindByPrefix(const fs::path& directory, const std::string& prefix) {
  for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
    if (entry.path().filename().string().starts_with(prefix)) return entry.path();
  }
  return std::nullopt;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct FlushCalls {
  int fsync = 0;
  int fdatasync = 0;
};

class Bench {
 public:
  explicit Bench(Options options)
      : options_(std::move(options)),
        work_(options_.work),
        host_("127.0.0.1:" + std::to_string(options_.port)) {}

  const fs::path& Work() const { return work_; }

  // Fills the prepared directory with the files of kPrepareRuns runs.
  bool Prepare() {
    const fs::path prepared = work_ / "prepared";
    fs::remove_all(prepared);
    fs::create_directories(prepared);
    fs::copy_file(options_.background, prepared / "IDR641.background.bmp");
    for (int i = 0; i < kPrepareRuns; ++i) {
      if (!RunVesk(prepared).ok) return false;
    }
    if (!fs::exists(prepared / ("SESOverlay" + std::to_string(kLoopFrames - 1) + ".bmp"))) {
      std::fprintf(stderr, "EndToEndBench: the prepared runs did not fill the overlay ring\n");
      return false;
    }
    const std::optional<fs::path> frame = FindByPrefix(prepared, "Image-");
    const std::optional<fs::path> overlay = FindByPrefix(prepared, "SESOverlay-");
    if (!frame || !overlay) {
      std::fprintf(stderr, "EndToEndBench: the prepared runs archived nothing\n");
      return false;
    }
    fs::copy_file(*frame, work_ / "archived-frame.png");
    fs::copy_file(*overlay, work_ / "archived-overlay.bmp");
    for (int days_back = 0; days_back <= 1; ++days_back) {
      for (int slot = 0; slot < kSlotsPerDay; ++slot) {
        const std::string tag = SlotTag(days_back, slot);
        if (!fs::exists(prepared / ("Image-" + tag + ".png"))) {
          fs::create_hard_link(work_ / "archived-frame.png", prepared / ("Image-" + tag + ".png"));
        }
        if (!fs::exists(prepared / ("SESOverlay-" + tag + ".bmp"))) {
          fs::create_hard_link(work_ / "archived-overlay.bmp",
                               prepared / ("SESOverlay-" + tag + ".bmp"));
        }
      }
    }
    return true;
  }

  // The nowcast is off unless asked for: the peers make no forecast, so the
  // series compared with them do the same job without it.
  Measurement RunVesk(const fs::path& directory, bool export_loop = true, bool nowcast = false) {
    WarmNewestFrame();
    std::vector<std::string> environment = Environment(directory);
    if (!export_loop) environment.emplace_back("VESK_EXPORT=off");
    if (!nowcast) environment.emplace_back("VESK_NOWCAST=off");
    const Measurement measurement =
        Run({options_.vesk, "500"}, environment, (work_ / "vesk.log").string());
    return Checked(measurement, "vesk", directory / "LastImageURI.txt");
  }

  Measurement RunShell(const fs::path& directory) {
    WarmNewestFrame();
    const Measurement measurement =
        Run({options_.shell_script, "500"}, Environment(directory), (work_ / "shell.log").string());
    return Checked(measurement, "the shell script", directory / "LastImageURI.txt");
  }

  Measurement RunCurl(const fs::path& directory) {
    WarmNewestFrame();
    const std::string base = "http://" + host_;
    std::vector<std::string> argv = {options_.curl, "--silent", "--show-error", "--fail"};
    auto add = [&](const std::string& path, const std::string& file) {
      argv.push_back("--output");
      argv.push_back((directory / file).string());
      argv.push_back(base + path);
    };
    add("/products/IDR641.loop.shtml", "root.html");
    for (int i = 0; i < kLoopFrames; ++i) {
      add(FramePath(Newest() - (kLoopFrames - 1 - i) * kFrameStepMinutes),
          "Image" + std::to_string(kLoopFrames - 1 - i) + ".png");
    }
    add("/ses/sysinfo.json", "sysinfo.json");
    const Measurement measurement = Run(argv, {}, (work_ / "curl.log").string());
    const std::string page = ReadFile(directory / "root.html");
    return Checked(measurement, "curl",
                   page.find(FramePath(Newest())) != std::string::npos &&
                       fs::file_size(directory / "Image0.png") > 0 &&
                       fs::file_size(directory / "sysinfo.json") > 0);
  }

  // The flush calls of one run with one new frame, counted by strace; untimed,
  // since tracing slows every call down. Nullopt when the run failed.
  std::optional<FlushCalls> CountFlushCalls(const std::string& strace) {
    const fs::path directory = FreshCopy("run-traced");
    const fs::path counts = work_ / "strace.txt";
    // Untimed and untraced: the traced run then finds one new frame.
    if (!RunVesk(directory).ok) return std::nullopt;
    WarmNewestFrame();
    const Measurement measurement =
        Run({strace, "-f", "-c", "-e", "trace=fsync,fdatasync", "-o", counts.string(),
             options_.vesk, "500"},
            Environment(directory), (work_ / "vesk-traced.log").string());
    if (!Checked(measurement, "the traced vesk run", directory / "LastImageURI.txt").ok) {
      return std::nullopt;
    }
    // The summary has one row per call: "% time seconds usecs/call calls
    // [errors] syscall".
    FlushCalls calls;
    std::istringstream table(ReadFile(counts));
    for (std::string line; std::getline(table, line);) {
      std::istringstream row(line);
      std::vector<std::string> fields;
      for (std::string field; row >> field;) fields.push_back(field);
      if (fields.size() < 5) continue;
      if (fields.back() == "fsync") calls.fsync = std::atoi(fields[3].c_str());
      if (fields.back() == "fdatasync") calls.fdatasync = std::atoi(fields[3].c_str());
    }
    return calls;
  }

  // A fresh copy of the prepared directory: the shared archive entries are
  // linked again, except those a run may write, and everything else is
  // copied.
  fs::path FreshCopy(const std::string& name) {
    const fs::path directory = work_ / name;
    fs::remove_all(directory);
    fs::create_directory(directory);
    std::vector<std::string> writable;
    for (int ahead = 0; ahead <= 1; ++ahead) {
      writable.push_back("Image-" + SlotTagFromNow(ahead) + ".png");
      writable.push_back("SESOverlay-" + SlotTagFromNow(ahead) + ".bmp");
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(work_ / "prepared")) {
      const fs::path target = directory / entry.path().filename();
      const bool may_be_written = std::find(writable.begin(), writable.end(),
                                            entry.path().filename().string()) != writable.end();
      if (entry.is_symlink()) {
        fs::copy_symlink(entry.path(), target);
      } else if (entry.is_directory()) {
        fs::copy(entry.path(), target, fs::copy_options::recursive);
      } else if (entry.hard_link_count() > 1 && !may_be_written) {
        fs::create_hard_link(entry.path(), target);
      } else {
        fs::copy_file(entry.path(), target);
      }
    }
    return directory;
  }

  fs::path EmptyDirectory(const std::string& name) {
    const fs::path directory = work_ / name;
    fs::remove_all(directory);
    fs::create_directories(directory);
    return directory;
  }

 private:
  // The newest frame of the next loop page served.
  std::int64_t Newest() const { return options_.start_minutes + pages_ * kFrameStepMinutes; }

  std::vector<std::string> Environment(const fs::path& directory) const {
    return {"VESK_HOME=" + directory.string(), "VESK_SYSLOG=off",     "VESK_RADAR_HOST=" + host_,
            "VESK_PUBLISH_HOST=" + host_,      "VESK_PRODUCT=IDR641", "LC_ALL=C"};
  }

  // Has the simulator draw the frame the next page will add; untimed.
  void WarmNewestFrame() {
    Run({options_.curl, "--silent", "--output", "/dev/null",
         "http://" + host_ + FramePath(Newest())},
        {}, (work_ / "warm.log").string());
  }

  // Every run fetches one loop page; the check makes sure it took the
  // newest frame of that page, so that it did the whole job.
  Measurement Checked(Measurement measurement, const char* who, const fs::path& last_image_uri) {
    return Checked(measurement, who, ReadFile(last_image_uri) == FramePath(Newest()));
  }

  Measurement Checked(Measurement measurement, const char* who, bool done) {
    ++pages_;
    if (measurement.ok && !done) {
      std::fprintf(stderr, "EndToEndBench: %s did not fetch the new frame %s\n", who,
                   FramePath(Newest() - kFrameStepMinutes).c_str());
      measurement.ok = false;
    }
    return measurement;
  }

  Options options_;
  fs::path work_;
  std::string host_;
  std::int64_t pages_ = 0;  // loop pages served so far
};

// The file system's name for the lines printed.
std::string FileSystemName(const fs::path& path) {
  struct statfs status {};
  if (statfs(path.c_str(), &status) != 0) return "?";
  switch (static_cast<unsigned long>(status.f_type)) {
    case kTmpfsMagic:
      return "tmpfs";
    case 0xEF53:
      return "ext2/3/4";
    case 0x58465342:
      return "xfs";
    case 0x9123683E:
      return "btrfs";
    case 0x794C7630:
      return "overlayfs";
    default: {
      char hex[32];
      std::snprintf(hex, sizeof hex, "type %#lx", static_cast<unsigned long>(status.f_type));
      return hex;
    }
  }
}

bool InMemory(const fs::path& path) {
  struct statfs status {};
  return statfs(path.c_str(), &status) == 0 &&
         static_cast<unsigned long>(status.f_type) == kTmpfsMagic;
}

// What the runs fetch and draw on, from the prepared directory.
void PrintWorkload(const fs::path& prepared, const fs::path& work) {
  std::uintmax_t smallest = UINTMAX_MAX, largest = 0;
  for (int i = 0; i < kLoopFrames; ++i) {
    const std::uintmax_t size = fs::file_size(prepared / ("Image" + std::to_string(i) + ".png"));
    smallest = std::min(smallest, size);
    largest = std::max(largest, size);
  }
  std::printf(
      "  loop page %.1f KiB, %d frames of %.1f to %.1f KiB, feed %ju bytes, background %ju "
      "bytes; work directory on %s\n",
      static_cast<double>(fs::file_size(prepared / "root.html")) / 1024, kLoopFrames,
      static_cast<double>(smallest) / 1024, static_cast<double>(largest) / 1024,
      fs::file_size(prepared / "sysinfo.json"), fs::file_size(prepared / "IDR641.background.bmp"),
      FileSystemName(work).c_str());
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Series {
  const char* label;
  std::function<Measurement()> run;
  std::vector<double> wall_ms;
  std::vector<double> cpu_ms;
  std::vector<double> peak_kib;

  bool Add(const Measurement& measurement) {
    if (!measurement.ok) return false;
    wall_ms.push_back(measurement.wall_ms);
    cpu_ms.push_back(measurement.cpu_ms);
    peak_kib.push_back(static_cast<double>(measurement.peak_kib));
    return true;
  }
  void Print() const {
    auto [least, most] = std::minmax_element(wall_ms.begin(), wall_ms.end());
    std::printf("  %-32s %9.1f %9.1f %9.1f %9.1f %10.0f\n", label, *least, Median(wall_ms), *most,
                Median(cpu_ms), Median(peak_kib));
  }
};

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  Bench bench(options);
  if (!bench.Prepare()) return 1;

  // Each vesk run first catches up, untimed, with the frames the other
  // series took meanwhile, so that the timed run finds exactly one new
  // frame and the loop picture's kept encodings of the run before, as
  // every run of a publication does.
  auto caught_up = [&](const char* name, bool export_loop, bool nowcast = false) {
    const fs::path directory = bench.FreshCopy(name);
    if (!bench.RunVesk(directory, export_loop, nowcast).ok) return Measurement{};
    return bench.RunVesk(directory, export_loop, nowcast);
  };
  std::array<Series, 5> series = {{
      {"vesk run, loop.webp on", [&] { return caught_up("run-vesk", true); }, {}, {}, {}},
      {"vesk run, loop.webp off", [&] { return caught_up("run-vesk-off", false); }, {}, {}, {}},
      {"curl, the 9 resources (floor)",
       [&] { return bench.RunCurl(bench.EmptyDirectory("run-curl")); },
       {},
       {},
       {}},
      {"shell script (curl, convert)",
       [&] { return bench.RunShell(bench.FreshCopy("run-shell")); },
       {},
       {},
       {}},
      // As installed: the forecast is on by default.
      {"vesk run, loop.webp and nowcast on",
       [&] { return caught_up("run-vesk-nowcast", true, true); },
       {},
       {},
       {}},
  }};
  for (int round = 0; round < options.runs; ++round) {
    for (std::size_t k = 0; k < series.size(); ++k) {
      Series& one = series[(round + k) % series.size()];
      if (!one.Add(one.run())) return 1;
    }
  }

  std::printf("EndToEndBench: a refresh run with a new frame, %d runs each\n", options.runs);
  PrintWorkload(bench.Work() / "prepared", bench.Work());
  std::printf("  %-32s %9s %9s %9s %9s %10s\n", "", "min ms", "median ms", "max ms", "cpu ms",
              "peak KiB");
  for (const Series& one : series) one.Print();
  const double vesk = Median(series[0].wall_ms);
  const double floor_ratio = vesk / Median(series[2].wall_ms);
  const double shell_ratio = Median(series[3].wall_ms) / vesk;
  const double cpu_ms = Median(series[0].cpu_ms);
  const bool floor_met = floor_ratio <= kMaxFloorRatio;
  const bool cpu_met = cpu_ms <= kMaxCpuMs;
  const bool shell_met = shell_ratio >= kMinShellRatio;
  std::printf("  vesk (loop.webp on) / curl floor %6.2f  (target <= %.2f: %s)\n", floor_ratio,
              kMaxFloorRatio, floor_met ? "met" : "MISSED");
  std::printf("  vesk (loop.webp on) cpu ms       %6.1f  (target <= %.0f: %s)\n", cpu_ms, kMaxCpuMs,
              cpu_met ? "met" : "MISSED");
  std::printf("  vesk (loop.webp off) / curl floor %5.2f\n",
              Median(series[1].wall_ms) / Median(series[2].wall_ms));
  std::printf("  shell script / vesk (loop.webp on) %5.2f  (target >= %.2f: %s)\n", shell_ratio,
              kMinShellRatio, shell_met ? "met" : "MISSED");
  std::printf("  vesk (loop.webp and nowcast on) / curl floor %5.2f, cpu ms %.1f\n",
              Median(series[4].wall_ms) / Median(series[2].wall_ms), Median(series[4].cpu_ms));
  std::printf("  work directory %s\n", InMemory(bench.Work()) ? "in memory" : "on disk");

  if (!options.strace.empty()) {
    const std::optional<FlushCalls> calls = bench.CountFlushCalls(options.strace);
    if (!calls) return 1;
    std::printf("  flush calls of one vesk run: %d (fsync %d, fdatasync %d)\n",
                calls->fsync + calls->fdatasync, calls->fsync, calls->fdatasync);
  } else {
    std::printf("  flush calls not counted: strace is not installed\n");
  }
  return floor_met && cpu_met && shell_met ? 0 : 1;
}
