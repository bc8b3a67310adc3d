// Runs the scripts of both loop pages in a headless browser and checks which
// frame and overlay boxes are on display after each animation step. The
// browser's virtual clock runs the steps without waiting for them; the
// pictures point at 127.0.0.1 and fail to load, which changes nothing of what
// is checked.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "refresh/LoopPage24.h"
#include "refresh/LoopPage30.h"
#include "support/Regex.h"
#include "support/TempDir.h"
#include "zub32/DaySlot.h"
#include "zub32/Records.h"

namespace {

using platform::TDateTime;
using Shown = std::set<std::string>;

// The animation step written into the pages.
constexpr int kStepMs = 200;
// How long one browser run may take in real time before it is killed.
constexpr std::chrono::seconds kBrowserLimit{60};

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::string directories = path != nullptr ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= directories.size()) {
    std::size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    const std::string candidate = directories.substr(start, end - start) + "/" + program;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

struct BrowserRun {
  bool finished = false;  // false: killed at the time limit
  int exit_status = -1;
  std::string dom;
  std::string log;
};

// Runs the browser on one page with its own profile and home directory, in a
// process group of its own so that every process it starts can be ended.
BrowserRun RunBrowser(const std::string& browser, const testing_support::TempDir& scratch,
                      const std::string& page_path, int budget_ms) {
  const std::string home = scratch.File("home");
  std::filesystem::create_directories(home);
  std::vector<std::string> arguments = {browser,
                                        "--headless",
                                        "--disable-gpu",
                                        "--no-sandbox",
                                        "--disable-background-networking",
                                        "--disable-component-update",
                                        "--disable-sync",
                                        "--no-first-run",
                                        "--user-data-dir=" + scratch.File("profile"),
                                        "--virtual-time-budget=" + std::to_string(budget_ms),
                                        "--dump-dom",
                                        "file://" + page_path};
  std::vector<std::string> environment = {"HOME=" + home, "XDG_CONFIG_HOME=" + home + "/.config",
                                          "XDG_CACHE_HOME=" + home + "/.cache"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!text.starts_with("HOME=") && !text.starts_with("XDG_CONFIG_HOME=") &&
        !text.starts_with("XDG_CACHE_HOME=")) {
      environment.push_back(text);
    }
  }
  std::vector<char*> argv, envp;
  for (std::string& text : arguments) argv.push_back(text.data());
  argv.push_back(nullptr);
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);
  const std::string dom_path = scratch.File("dom.html");
  const std::string log_path = scratch.File("browser.log");

  BrowserRun run;
  const pid_t pid = fork();
  if (pid < 0) {
    run.log = "fork failed";
    return run;
  }
  if (pid == 0) {
    setpgid(0, 0);
    const int out = open(dom_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  setpgid(pid, pid);
  const auto deadline = std::chrono::steady_clock::now() + kBrowserLimit;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) {
      run.finished = true;
      run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // Helpers the browser left in its group end with it.
  kill(-pid, SIGKILL);
  run.dom = scratch.Read("dom.html");
  run.log = scratch.Read("browser.log");
  return run;
}

// The browser's virtual-time budget sometimes runs one step past its end
// before the page is dumped, so the state after a given step cannot be read
// from the final page alone. A copy of the page therefore gets a recorder
// appended: started in the same parse as the page's own script, it samples
// the ids on display half a step after each step and keeps the samples in an
// attribute of the html element. Sample 0 is taken before the first step.
std::string WithRecorder(const std::string& page) {
  const std::string half = std::to_string(kStepMs / 2);
  const std::string step = std::to_string(kStepMs);
  return page +
         "\n<script>(function(){var states=[];function sample(){var shown=[];"
         "var divs=document.getElementsByTagName(\"div\");"
         "for(var i=0;i<divs.length;i++){if(divs[i].id&&divs[i].style.display==\"block\")"
         "shown.push(divs[i].id);}states.push(shown.join(\",\"));"
         "document.documentElement.setAttribute(\"data-states\",states.join(\"|\"));}"
         "setTimeout(function(){sample();setInterval(sample," +
         step + ");}," + half + ");})();</script>";
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(separator, start)) != std::string::npos; start = end + 1) {
    parts.push_back(text.substr(start, end - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The recorded samples of a dumped page, each the set of ids on display.
std::vector<Shown> RecordedStates(const std::string& dom) {
  static const std::regex kStates(R"re(<html[^>]* data-states="([^"]*)")re");
  std::smatch match;
  std::vector<Shown> states;
  if (!std::regex_search(dom, match, kStates)) return states;
  for (const std::string& sample : Split(match[1].str(), '|')) {
    Shown shown;
    if (!sample.empty()) {
      for (const std::string& id : Split(sample, ',')) shown.insert(id);
    }
    states.push_back(shown);
  }
  return states;
}

// The frame and overlay divs of a sample ("myDiv3", "myDivSES3").
Shown Frames(const Shown& shown) {
  static const std::regex kFrameId(R"(myDiv(SES)?[0-9]+)");
  Shown frames;
  for (const std::string& id : shown) {
    if (std::regex_match(id, kFrameId)) frames.insert(id);
  }
  return frames;
}

Shown Frame(int n) { return {"myDiv" + std::to_string(n), "myDivSES" + std::to_string(n)}; }

class LoopPagesBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    browser_ = FindOnPath("chromium");
    if (browser_.empty()) {
      GTEST_SKIP() << "chromium is not installed (scripts/test installs it): the loop pages' "
                      "scripts were NOT checked in a browser";
    }
    zub32::GlobalSettings.SelfName = "VESK";
    zub32::GlobalSettings.Version = "2024.7.22.2151";
  }
  void TearDown() override { platform::SetClockForTesting({}); }

  // The samples of the page's first steps (at least steps + 1 of them),
  // after checking the map layers that the script sets up at load: the plain
  // background hidden, the map layers shown, no frame yet.
  std::vector<Shown> StatesOfFirstSteps(const std::string& page, int steps) {
    testing_support::TempDir scratch;
    scratch.Write("page.html", WithRecorder(page));
    const BrowserRun run =
        RunBrowser(browser_, scratch, scratch.File("page.html"), (steps + 1) * kStepMs);
    EXPECT_TRUE(run.finished) << "chromium did not finish within " << kBrowserLimit.count()
                              << " s; its log:\n"
                              << run.log;
    std::vector<Shown> states = RecordedStates(run.dom);
    EXPECT_GE(states.size(), static_cast<std::size_t>(steps + 1))
        << "chromium (exit status " << run.exit_status << ") returned too few samples; its log:\n"
        << run.log;
    if (states.size() < static_cast<std::size_t>(steps + 1)) return {};
    EXPECT_EQ(states[0], (Shown{"myDivTopography", "myDivLocations", "myDivRange"}));
    states.resize(steps + 1);
    return states;
  }

  // Archives frames and overlays of the first slots of a day, written that
  // morning, and returns the 24-hour page of 12:30 on the same day.
  std::string DayPage(int frames, int overlays) {
    const TDateTime now = platform::EncodeDateTime(2024, 7, 22, 12, 30, 0, 0);
    platform::SetClockForTesting([now] { return now; });
    std::tm written{};
    written.tm_year = 2024 - 1900;
    written.tm_mon = 6;
    written.tm_mday = 22;
    written.tm_hour = 0;
    written.tm_min = 20;
    written.tm_isdst = -1;
    const std::time_t seconds = mktime(&written);
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    std::vector<std::string> names;
    for (int slot = 0; slot < frames; ++slot) {
      names.push_back("Image-" + zub32::SlotTag(now, slot) + ".png");
    }
    for (int slot = 0; slot < overlays; ++slot) {
      names.push_back("SESOverlay-" + zub32::SlotTag(now, slot) + ".bmp");
    }
    for (const std::string& name : names) {
      archive_.Write(name, "x");
      EXPECT_EQ(utimensat(AT_FDCWD, archive_.File(name).c_str(), times, 0), 0) << name;
    }
    // The writer probes the working directory.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(archive_.path());
    const refresh::LoopPage24Inputs inputs{
        "VESK", "2024.7.22.2151", refresh::PageAddresses::ForPublishHost("127.0.0.1"), kStepMs};
    const std::string page = refresh::BuildLoopPage24(inputs, [](std::string_view) {});
    std::filesystem::current_path(previous);
    return page;
  }

  std::string browser_;
  testing_support::TempDir archive_;
};

// Frames run from the oldest (6) to the newest (0), which stays up for one
// more step before the loop starts again.
TEST_F(LoopPagesBrowserTest, ThirtyMinutePageShowsOldestToNewestAndHoldsTheNewest) {
  const std::vector<Shown> states = StatesOfFirstSteps(
      refresh::BuildLoopPage30(kStepMs, refresh::PageAddresses::ForPublishHost("127.0.0.1")), 17);
  const std::vector<int> expected = {6, 5, 4, 3, 2, 1, 0, 0, 6, 5, 4, 3, 2, 1, 0, 0, 6};
  for (std::size_t step = 1; step < states.size(); ++step) {
    EXPECT_EQ(Frames(states[step]), Frame(expected[step - 1])) << "after step " << step;
  }
}

// Five archived slots of today: all five are shown in turn, and the step
// that starts the loop again leaves the newest up.
TEST_F(LoopPagesBrowserTest, DayPageShowsArchivedSlotsInTurnAndRestarts) {
  const std::string page = DayPage(5, 5);
  ASSERT_NE(page.find("      <div id=\"myDivSES4\" class=\"sesoverlay-box4\"></div>"),
            std::string::npos);
  const std::vector<Shown> states = StatesOfFirstSteps(page, 11);
  const std::vector<int> expected = {0, 1, 2, 3, 4, 4, 0, 1, 2, 3, 4};
  for (std::size_t step = 1; step < states.size(); ++step) {
    EXPECT_EQ(Frames(states[step]), Frame(expected[step - 1])) << "after step " << step;
  }
}

// Frames without overlays are shown all the same.
TEST_F(LoopPagesBrowserTest, DayPageWithoutOverlaysStillShowsTheFrames) {
  const std::string page = DayPage(3, 0);
  const std::vector<Shown> states = StatesOfFirstSteps(page, 6);
  const std::vector<int> expected = {0, 1, 2, 2, 0, 1};
  for (std::size_t step = 1; step < states.size(); ++step) {
    EXPECT_EQ(Frames(states[step]), Frame(expected[step - 1])) << "after step " << step;
  }
}

}  // namespace
