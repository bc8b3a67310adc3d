// The real binary where the disk lets it down: a program directory that has
// become read-only, which a run refuses before it fetches anything, and a
// small file system that fills up during a run. Every run that gets going
// must end normally, say what it could not write (on the console, and in
// the report or, where that cannot be written either, its syslog line), and
// leave each published file with its previous bytes or a complete new
// version, with no temporary file behind.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "picture/Bitmap.h"
#include "picture/BmpCodec.h"
#include "support/RequireEnvironment.h"
#include "support/RunProcess.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/UdpListener.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::SimProcess;
using testing_support::TempDir;
using testing_support::UdpListener;

constexpr const char* kReport = "e!vesk.xml";
constexpr const char* kDiskFull = "No space left on device";
constexpr const char* kFiller = "filler.bin";
// Large enough for a first run with the simulator's frames (about 40 KiB
// each) and a monochrome background, small enough to fill in a moment.
constexpr const char* kTmpfsOptions = "size=640k,mode=0755";
constexpr int kBackgroundSize = 512;

// One entry of a program directory: a file's bytes or a link's target.
struct Entry {
  bool link = false;
  std::string content;
  friend bool operator==(const Entry&, const Entry&) = default;
};
using Snapshot = std::map<std::string, Entry>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every entry except the test's own filler file.
Snapshot TakeSnapshot(const std::string& directory) {
  Snapshot snapshot;
  for (const auto& item : fs::directory_iterator(directory)) {
    const std::string name = item.path().filename().string();
    if (name == kFiller) continue;
    Entry entry;
    entry.link = item.is_symlink();
    entry.content =
        entry.link ? fs::read_symlink(item.path()).string() : ReadFile(item.path().string());
    snapshot[name] = std::move(entry);
  }
  return snapshot;
}

std::vector<std::string> TemporaryEntries(const Snapshot& snapshot) {
  std::vector<std::string> names;
  for (const auto& [name, entry] : snapshot) {
    if (name.front() == '.') names.push_back(name);
  }
  return names;
}

bool Printed(const ProcessResult& result, const std::string& line) {
  const std::vector<std::string> lines = result.OutLines();
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A regular file itself, not a link to one.
bool IsRegular(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool EndsWith(std::string_view text, std::string_view end) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text.ends_with(end);
}

std::vector<std::string> Payloads(const std::vector<testing_support::Datagram>& datagrams) {
  std::vector<std::string> payloads;
  for (const auto& datagram : datagrams) payloads.push_back(datagram.payload);
  return payloads;
}

bool AnyContains(const std::vector<std::string>& texts, const std::string& part) {
  return std::any_of(texts.begin(), texts.end(),
                     [&](const std::string& text) { return text.find(part) != std::string::npos; });
}

class DiskFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { REQUIRE_ENVIRONMENT("VESK_BINARY", "VESK_SIM_BINARY"); }

  // The environment of a run against the simulator from the program
  // directory home, with syslog lines to syslog_port (0: off).
  ProcessOptions RunOptions(const std::string& binary, const SimProcess& sim, int syslog_port,
                            const std::optional<std::string>& home) const {
    ProcessOptions options = testing_support::VeskRunOptions(binary, "/");
    if (syslog_port != 0) {
      options.environment["VESK_SYSLOG"] = "127.0.0.1:" + std::to_string(syslog_port);
    }
    options.environment["VESK_HOME"] = home;
    options.environment["VESK_RADAR_HOST"] = sim.HostPort();
    options.environment["VESK_PUBLISH_HOST"] = sim.HostPort();
    // The small file system holds the loop and its pages; the nowcast's six
    // pictures beside them would leave the first run no room.
    options.environment["VESK_NOWCAST"] = "off";
    return options;
  }

  TempDir program_;
};

TEST_F(DiskFaultTest, ReadOnlyProgramDirectoryIsRefusedBeforeAnythingIsFetched) {
  // Every loop page names a newer frame, so the second run tries every write
  // the program makes.
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  testing_support::CopyExecutable(testing_support::VeskBinary(), program_.File("vesk"));
  ASSERT_TRUE(testing_support::WriteSimBackground(program_.File("IDR641.background.bmp")));

  const ProcessResult first =
      testing_support::RunProcess(RunOptions(program_.File("vesk"), sim, 0, std::nullopt));
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  ASSERT_TRUE(program_.Exists("SESOverlay0.bmp")) << first.out;
  ASSERT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);

  ASSERT_EQ(::chmod(program_.path().c_str(), 0555), 0);
  const Snapshot before = TakeSnapshot(program_.path());

  // Without VESK_HOME a read-only executable's directory is refused.
  ProcessOptions refused = RunOptions(program_.File("vesk"), sim, 0, std::nullopt);
  refused.unprivileged = true;
  const ProcessResult refusal = testing_support::RunProcess(refused);
  EXPECT_EQ(refusal.exit_code, 2) << refusal.out;
  EXPECT_EQ(refusal.out, "");
  EXPECT_EQ(refusal.err, "The executable's directory " + program_.path() +
                             " is not writable for this user (Permission denied); set VESK_HOME "
                             "to the program directory\n");
  EXPECT_EQ(TakeSnapshot(program_.path()), before);

  // Named by VESK_HOME, it is refused before anything is fetched, with the
  // lock file of the first run in place (it can still be locked) and without.
  for (const bool lock_file : {true, false}) {
    if (!lock_file) {
      ASSERT_EQ(::chmod(program_.path().c_str(), 0755), 0);
      fs::remove(program_.File("vesk.lock"));
      ASSERT_EQ(::chmod(program_.path().c_str(), 0555), 0);
    }
    const Snapshot unchanged = TakeSnapshot(program_.path());
    UdpListener syslog;
    ProcessOptions options = RunOptions(program_.File("vesk"), sim, syslog.port(), program_.path());
    options.unprivileged = true;
    const ProcessResult result = testing_support::RunProcess(options);
    ASSERT_EQ(result.start_error, "");
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 2) << result.out;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Cannot create a file in the program directory \"" + program_.path() +
                              "\" (Permission denied); this run fetches nothing\n");
    EXPECT_EQ(TakeSnapshot(program_.path()), unchanged);
    const std::vector<std::string> payloads = Payloads(syslog.ReceiveAll());
    ASSERT_EQ(payloads.size(), 1u) << ::testing::PrintToString(payloads);
    EXPECT_NE(payloads[0].find("EXCEPTION:Func=Main() Trace=100 File=\"\""), std::string::npos)
        << payloads[0];
  }
}

// What a hostile neighbour plants at a name of the program directory.
enum class Plant { kLinkToOutsideFile, kDanglingLink, kFifo };

struct PlantRow {
  const char* name;
  Plant plant;
  const char* row_name;
};

const PlantRow kPlantRows[] = {
    {"index.html", Plant::kLinkToOutsideFile, "IndexHtml_LinkToOutsideFile"},
    {"index24.html", Plant::kDanglingLink, "Index24Html_DanglingLink"},
    {"root.html", Plant::kLinkToOutsideFile, "RootHtml_LinkToOutsideFile"},
    {"Image3.png", Plant::kLinkToOutsideFile, "Image3Png_LinkToOutsideFile"},
    {"Image0.png", Plant::kDanglingLink, "Image0Png_DanglingLink"},
    {"SESOverlay0.bmp", Plant::kLinkToOutsideFile, "SESOverlay0Bmp_LinkToOutsideFile"},
    {"SESOverlay1.bmp", Plant::kLinkToOutsideFile, "SESOverlay1Bmp_LinkToOutsideFile"},
    {"sysinfo.json", Plant::kDanglingLink, "SysinfoJson_DanglingLink"},
    {"LastImageURI.txt", Plant::kLinkToOutsideFile, "LastImageURITxt_LinkToOutsideFile"},
    {"LastImageURI.txt", Plant::kFifo, "LastImageURITxt_Fifo"},
    {"vesk.lock", Plant::kLinkToOutsideFile, "VeskLock_LinkToOutsideFile"},
    {"vesk.lock", Plant::kDanglingLink, "VeskLock_DanglingLink"},
    {"vesk.ini", Plant::kFifo, "VeskIni_Fifo"},
};

class PlantedEntryTest : public DiskFaultTest, public ::testing::WithParamInterface<PlantRow> {};

// A link or FIFO planted at a name the run reads or writes, after a first
// run: the second run ends normally and in time, replaces a published name
// by a regular file of its own, and never reads, writes or creates anything
// through the link; a FIFO is not waited on.
TEST_P(PlantedEntryTest, IsReplacedNeverFollowed) {
  const PlantRow& row = GetParam();
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  TempDir outside;
  testing_support::CopyExecutable(testing_support::VeskBinary(), program_.File("vesk"));
  ASSERT_TRUE(testing_support::WriteSimBackground(program_.File("IDR641.background.bmp")));
  const ProcessResult first =
      testing_support::RunProcess(RunOptions(program_.File("vesk"), sim, 0, program_.path()));
  ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
  ASSERT_TRUE(program_.Exists("SESOverlay0.bmp")) << first.out;

  const std::string path = program_.File(row.name);
  const std::string target = outside.File("target");
  fs::remove(path);
  if (row.plant == Plant::kFifo) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  } else {
    if (row.plant == Plant::kLinkToOutsideFile) {
      outside.Write("target", "outside bytes");
      ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    }
    fs::create_symlink(target, path);
  }

  ProcessOptions options = RunOptions(program_.File("vesk"), sim, 0, program_.path());
  options.time_limit = std::chrono::seconds(20);
  const ProcessResult result = testing_support::RunProcess(options);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 0) << result.out << result.err;
  EXPECT_FALSE(program_.Exists(kReport)) << program_.Read(kReport);
  // The new loop was published.
  EXPECT_TRUE(Printed(result, "Saving Image0.png")) << result.out;
  EXPECT_TRUE(IsRegular(program_.File("LastImageURI.txt")));

  if (row.plant == Plant::kLinkToOutsideFile) {
    EXPECT_EQ(outside.Read("target"), "outside bytes");
    struct stat status {};
    ASSERT_EQ(::stat(target.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
  } else if (row.plant == Plant::kDanglingLink) {
    EXPECT_FALSE(fs::exists(target)) << "created through the link";
  }
  const std::string name = row.name;
  if (name == "vesk.lock") {
    EXPECT_EQ(result.OutLines().front(),
              "Cannot lock vesk.lock (a symbolic link); this run goes on without the lock.");
    EXPECT_TRUE(fs::is_symlink(path));
  } else if (name == "vesk.ini") {
    EXPECT_NE(result.err.find("vesk.ini cannot be read"), std::string::npos) << result.err;
  } else {
    EXPECT_TRUE(IsRegular(path)) << "still not a regular file";
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, PlantedEntryTest, ::testing::ValuesIn(kPlantRows),
                         [](const ::testing::TestParamInfo<PlantRow>& row) {
                           return std::string(row.param.row_name);
                         });

// What a run in the small file system left behind.
struct FullDiskRun {
  std::size_t free_bytes = 0;  // left free for the run; SIZE_MAX: no filler
  ProcessResult result;
  Snapshot after;
};

// A small tmpfs mounted over a directory in a mount namespace of this test
// process alone (each test runs in a process of its own), unmounted again
// when the object goes away.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& directory) : directory_(directory) {
    if (::unshare(CLONE_NEWNS) != 0) {
      problem_ = std::string("unshare(CLONE_NEWNS): ") + ::strerror(errno);
    } else if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      // Mounts made here must not reach the rest of the system.
      problem_ = std::string("making the mounts private: ") + ::strerror(errno);
    } else if (::mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, kTmpfsOptions) !=
               0) {
      problem_ = std::string("mounting a tmpfs: ") + ::strerror(errno);
    }
  }
  ~SmallFileSystem() {
    if (problem_.empty()) ::umount2(directory_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;

  // Empty when mounted, else why not.
  const std::string& Problem() const { return problem_; }

 private:
  std::string directory_;
  std::string problem_;
};

// Fills the file system of directory with the filler file until only
// free_bytes are left.
void LeaveFree(const std::string& directory, std::size_t free_bytes) {
  struct statvfs status {};
  ::statvfs(directory.c_str(), &status);
  const std::size_t available = status.f_bavail * status.f_frsize;
  std::size_t left = available > free_bytes ? available - free_bytes : 0;
  const int filler_fd = ::open((directory + kFiller).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const std::string zeros(65536, '\0');
  while (left > 0) {
    const ssize_t count = ::write(filler_fd, zeros.data(), std::min(left, zeros.size()));
    if (count <= 0) break;
    left -= static_cast<std::size_t>(count);
  }
  ::close(filler_fd);
}

// Checks one file the run may have replaced: its old bytes, or a complete
// new version.
void ExpectOldOrNew(const std::string& name, const Entry* old, const Entry& now,
                    const std::set<std::string>& frames) {
  SCOPED_TRACE(name);
  if (old != nullptr && *old == now) return;
  const std::string& bytes = now.content;
  if (name.size() == 10 && name.starts_with("image")) {
    // The lower-case names stay links to the frames.
    EXPECT_TRUE(now.link);
    EXPECT_EQ(bytes, "I" + name.substr(1));
  } else if (name.starts_with("Image") && name.ends_with(".png")) {
    EXPECT_TRUE(frames.count(bytes))
        << "not a frame the simulator serves, " << bytes.size() << " bytes";
  } else if (name.starts_with("SESOverlay") && name.ends_with(".bmp")) {
    try {
      const picture::Bitmap overlay = picture::DecodeBmp(bytes);
      EXPECT_EQ(overlay.Width(), kBackgroundSize);
      EXPECT_EQ(overlay.Height(), kBackgroundSize);
      EXPECT_EQ(overlay.BitCount(), 1);
    } catch (const std::exception& error) {
      ADD_FAILURE() << "not a loadable bitmap: " << error.what();
    }
  } else if (name == "index.html" || name == "index24.html" || name == "root.html") {
    EXPECT_TRUE(EndsWith(bytes, "</html>")) << "a page cut short, " << bytes.size() << " bytes";
  } else if (name == "LastImageURI.txt") {
    EXPECT_TRUE(bytes.starts_with("/radar/IDR641.T.") && bytes.ends_with(".png")) << bytes;
  } else if (name == "sysinfo.json") {
    EXPECT_TRUE(bytes.starts_with("{") && EndsWith(bytes, "}")) << bytes;
  } else if (name == "status.json") {
    EXPECT_TRUE(bytes.starts_with("{\"program\": \"VESK\"") && EndsWith(bytes, "}")) << bytes;
  } else if (name == kReport) {
    EXPECT_TRUE(EndsWith(bytes, "</xml>")) << bytes;
  } else if (name == "vesk.lock") {
    EXPECT_EQ(bytes, "");
  } else {
    ADD_FAILURE() << "changed or added by the run";
  }
}

TEST_F(DiskFaultTest, FullFileSystemLeavesOldOrNewFilesOnly) {
  SimProcess sim({"--advance-on-request"});
  ASSERT_NE(sim.Port(), 0) << sim.FirstLine();
  // The first run has room to spare; then the file system is filled to leave
  // nothing, one page, and room for a page or a frame but not the whole loop.
  const std::vector<std::size_t> free_bytes = {SIZE_MAX, 0, 4096, 16384, 45056, 98304};
  std::vector<std::unique_ptr<UdpListener>> listeners;
  std::vector<int> ports;
  for (std::size_t k = 0; k < free_bytes.size(); ++k) {
    listeners.push_back(std::make_unique<UdpListener>());
    ports.push_back(listeners.back()->port());
  }

  const SmallFileSystem mounted(program_.path());
  if (!mounted.Problem().empty())
    GTEST_SKIP() << "no small file system here: " << mounted.Problem();
  // A monochrome map keeps each overlay at 32 KiB.
  picture::Bitmap background(kBackgroundSize, kBackgroundSize, 1);
  background.FillRect(0, 0, kBackgroundSize, kBackgroundSize, picture::kWhite);
  picture::SaveBmpFile(background, program_.File("IDR641.background.bmp"));

  std::vector<FullDiskRun> runs;
  for (std::size_t k = 0; k < free_bytes.size(); ++k) {
    if (free_bytes[k] != SIZE_MAX) LeaveFree(program_.path(), free_bytes[k]);
    FullDiskRun run;
    run.free_bytes = free_bytes[k];
    run.result = testing_support::RunProcess(
        RunOptions(testing_support::VeskBinary(), sim, ports[k], program_.path()));
    run.after = TakeSnapshot(program_.path());
    ::unlink(program_.File(kFiller).c_str());
    runs.push_back(std::move(run));
  }
  ASSERT_EQ(runs.size(), free_bytes.size());

  // Every frame the runs asked for, as the simulator serves it.
  std::set<std::string> frames;
  for (const std::string& target : sim.RequestedTargets()) {
    if (!target.starts_with("/radar/")) continue;
    const std::optional<std::string> frame = sim.FetchBody(target);
    if (frame) frames.insert(*frame);
  }

  const FullDiskRun& first = runs.front();
  ASSERT_EQ(first.result.exit_code, 0) << first.result.err;
  ASSERT_FALSE(first.result.out.find(kDiskFull) != std::string::npos) << first.result.out;
  ASSERT_TRUE(first.after.count("SESOverlay0.bmp")) << first.result.out;
  ASSERT_FALSE(first.after.count(kReport)) << first.after.at(kReport).content;

  for (std::size_t k = 1; k < runs.size(); ++k) {
    const FullDiskRun& run = runs[k];
    const Snapshot& before = runs[k - 1].after;
    SCOPED_TRACE("run with " + std::to_string(run.free_bytes) + " bytes free");
    EXPECT_FALSE(run.result.timed_out);
    EXPECT_EQ(run.result.exit_code, 0) << run.result.err;
    EXPECT_EQ(TemporaryEntries(run.after), std::vector<std::string>{});
    for (const auto& [name, entry] : before) {
      EXPECT_TRUE(run.after.count(name)) << name << " was lost";
    }
    for (const auto& [name, entry] : run.after) {
      const auto old = before.find(name);
      ExpectOldOrNew(name, old == before.end() ? nullptr : &old->second, entry, frames);
    }

    // A run either published the new loop or said what it could not write,
    // in its output and in a syslog line.
    const bool said_disk_full = run.result.out.find(kDiskFull) != std::string::npos;
    const std::vector<std::string> payloads = Payloads(listeners[k]->ReceiveAll());
    if (said_disk_full) {
      EXPECT_TRUE(AnyContains(payloads, "EXCEPTION:Func=")) << run.result.out;
    } else {
      EXPECT_NE(run.after.at("LastImageURI.txt"), before.at("LastImageURI.txt"))
          << "nothing was said, yet the new loop was not recorded:\n"
          << run.result.out;
    }
    if (run.free_bytes == 0) {
      EXPECT_TRUE(said_disk_full) << run.result.out;
    }
  }
}

}  // namespace
