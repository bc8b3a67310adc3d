// Runs that overlap: the real binary finds vesk.lock held, by another
// process or by a run of its own that is still going, and steps aside
// without touching a file or the network.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/ProgramFixture.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/ScriptedServer.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ScriptedServer;
using testing_support::SimProcess;
using testing_support::TempDir;

constexpr const char* kHeldLine = "Another run holds vesk.lock; this run does nothing.";

// Name, bytes or link target, and modification time of every entry: a run
// that touches nothing leaves all three as they were.
using Snapshot = std::map<std::string, std::tuple<std::string, long long, long long>>;

Snapshot TakeSnapshot(const std::string& directory) {
  Snapshot snapshot;
  for (const auto& item : fs::directory_iterator(directory)) {
    struct stat status {};
    ::lstat(item.path().c_str(), &status);
    std::string content;
    if (item.is_symlink()) {
      content = "-> " + fs::read_symlink(item.path()).string();
    } else {
      std::ifstream in(item.path(), std::ios::binary);
      content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    snapshot[item.path().filename().string()] = {content, status.st_mtim.tv_sec,
                                                 status.st_mtim.tv_nsec};
  }
  return snapshot;
}

// Runs take ProgramFixture's options, which set VESK_SYSLOG=off.
class RunLockTest : public testing_support::ProgramFixture {};

TEST_F(RunLockTest, HeldLockLeavesEverythingAsItWas) {
  REQUIRE_ENVIRONMENT("VESK_SIM_BINARY");
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  ASSERT_TRUE(testing_support::WriteSimBackground(program_.File("IDR641.background.bmp")));
  const ProcessResult first = testing_support::RunProcess(RunOptions(sim.HostPort()));
  ASSERT_EQ(first.exit_code, 0) << first.err;
  ASSERT_TRUE(program_.Exists("vesk.lock"));

  // Held the way another run holds it: flock on an open file of its own.
  const int holder = ::open(program_.File("vesk.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
  const Snapshot before = TakeSnapshot(program_.path());
  const std::size_t requests_before = sim.RequestedTargets().size();

  const ProcessResult held = testing_support::RunProcess(RunOptions(sim.HostPort()));
  EXPECT_EQ(held.exit_code, 0) << held.err;
  EXPECT_EQ(held.err, "");
  const std::vector<std::string> lines = held.OutLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), kHeldLine);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Done!"), 0) << held.out;
  EXPECT_EQ(TakeSnapshot(program_.path()), before);
  EXPECT_EQ(sim.RequestedTargets().size(), requests_before) << sim.Log();

  // Released, the next run goes ahead and publishes.
  ::close(holder);
  const ProcessResult next = testing_support::RunProcess(RunOptions(sim.HostPort()));
  EXPECT_EQ(next.exit_code, 0) << next.err;
  EXPECT_NE(next.out.find("\nDone!\n"), std::string::npos) << next.out;
  EXPECT_NE(TakeSnapshot(program_.path()).at("index.html"), before.at("index.html"));
}

TEST_F(RunLockTest, RunStillWaitingForTheNetworkKeepsTheLock) {
  // The first run hangs on the radar host, after writing its pages, until
  // the server is stopped.
  ScriptedServer::Options server_options;
  server_options.lifetime = std::chrono::seconds(30);
  ScriptedServer stalling({{ScriptedServer::ReadRequest(), ScriptedServer::Wait(25000)}},
                          server_options);
  const std::string host = "127.0.0.1:" + std::to_string(stalling.Port());
  std::future<ProcessResult> first =
      std::async(std::launch::async, [&] { return testing_support::RunProcess(RunOptions(host)); });
  for (int i = 0; i < 2000 && stalling.RequestHeads().empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_EQ(stalling.RequestHeads().size(), 1u) << "the first run never asked for the loop page";

  const Snapshot before = TakeSnapshot(program_.path());
  const ProcessResult second = testing_support::RunProcess(RunOptions(host));
  EXPECT_EQ(second.exit_code, 0) << second.err;
  EXPECT_EQ(second.OutLines().front(), kHeldLine) << second.out;
  EXPECT_EQ(TakeSnapshot(program_.path()), before);
  EXPECT_EQ(stalling.Accepted(), 1);

  // The first run fails on the closed connection and reports it, still under
  // its lock; then a new run may go.
  stalling.Stop();
  const ProcessResult ended = first.get();
  EXPECT_EQ(ended.exit_code, 0) << ended.err;
  EXPECT_TRUE(program_.Exists("e!vesk.xml")) << ended.out;
  EXPECT_EQ(::access(program_.File("vesk.lock").c_str(), F_OK), 0);
  const int probe = ::open(program_.File("vesk.lock").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(probe, 0);
  EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the lock outlived its run";
  ::close(probe);
}

}  // namespace
