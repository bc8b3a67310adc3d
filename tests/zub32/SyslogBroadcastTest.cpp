// The broadcast path of the syslog line. Every test body runs in a forked
// child inside a fresh network namespace whose only interface is its own
// loopback, so that no broadcast can leave the machine; where namespaces are
// not permitted the tests are skipped.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "platform/Udp.h"
#include "support/TempDir.h"
#include "support/UdpListener.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"
#include "zub32/Syslog.h"

namespace zub32 {
namespace {

using testing_support::TempDir;
using testing_support::UdpListener;

constexpr int kNoNamespace = 77;
constexpr int kNotIsolated = 78;
constexpr unsigned kChildDeadlineSeconds = 60;
// A second local address for the namespace's loopback, so that the path
// over several local addresses can be seen.
constexpr const char* kSecondAddress = "10.200.0.1";

bool WriteFile(const char* path, const std::string& text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// Enters a new network namespace; without the privilege for that, a new
// user namespace in which this process is root. Returns the reason on
// failure, empty on success.
std::string EnterFreshNetworkNamespace() {
  if (unshare(CLONE_NEWNET) == 0) return "";
  const std::string direct = std::strerror(errno);
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
    return "unshare(CLONE_NEWNET): " + direct +
           "; unshare(CLONE_NEWUSER | CLONE_NEWNET): " + std::strerror(errno);
  }
  if (!WriteFile("/proc/self/setgroups", "deny") ||
      !WriteFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
      !WriteFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
    return std::string("cannot map the user namespace: ") + std::strerror(errno);
  }
  return "";
}

// True when the namespace has no interface but loopback: nothing sent in it
// can reach a real network.
bool OnlyLoopbackExists() {
  struct if_nameindex* interfaces = if_nameindex();
  if (interfaces == nullptr) return false;
  bool only_loopback = true;
  for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
    if (std::strcmp(entry->if_name, "lo") != 0) only_loopback = false;
  }
  if_freenameindex(interfaces);
  return only_loopback;
}

void SetInterfaceUp(const char* name, bool up) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
  ASSERT_EQ(ioctl(fd, SIOCGIFFLAGS, &request), 0) << std::strerror(errno);
  if (up) {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags & ~IFF_UP);
  }
  ASSERT_EQ(ioctl(fd, SIOCSIFFLAGS, &request), 0) << std::strerror(errno);
  close(fd);
}

void AddLoopbackAddress(const char* address) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  ifreq request{};
  std::strncpy(request.ifr_name, "lo:1", IFNAMSIZ - 1);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ASSERT_EQ(inet_pton(AF_INET, address, &local.sin_addr), 1);
  std::memcpy(&request.ifr_addr, &local, sizeof local);
  ASSERT_EQ(ioctl(fd, SIOCSIFADDR, &request), 0) << std::strerror(errno);
  close(fd);
}

// Runs body in a forked child inside a fresh network namespace. The child's
// assertion failures are printed by the child; the parent fails when the
// child reports any, and skips when namespaces are not permitted.
void RunInFreshNetworkNamespace(const std::function<void()>& body) {
  int reason_pipe[2];
  ASSERT_EQ(pipe2(reason_pipe, O_CLOEXEC), 0);
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0) << std::strerror(errno);
  if (child == 0) {
    // The child ends itself when it hangs, so the wait below is bounded.
    alarm(kChildDeadlineSeconds);
    close(reason_pipe[0]);
    const std::string reason = EnterFreshNetworkNamespace();
    if (!reason.empty()) {
      [[maybe_unused]] ssize_t ignored = write(reason_pipe[1], reason.data(), reason.size());
      _exit(kNoNamespace);
    }
    if (!OnlyLoopbackExists()) _exit(kNotIsolated);
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  close(reason_pipe[1]);

  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child) << std::strerror(errno);
  std::string reason(512, '\0');
  const ssize_t length = read(reason_pipe[0], reason.data(), reason.size());
  reason.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
  close(reason_pipe[0]);

  ASSERT_TRUE(WIFEXITED(status)) << "the namespace child died of signal " << WTERMSIG(status);
  if (WEXITSTATUS(status) == kNoNamespace) {
    GTEST_SKIP() << "network namespaces are not permitted here (" << reason
                 << "); the broadcast path is never tried outside one";
  }
  ASSERT_NE(WEXITSTATUS(status), kNotIsolated)
      << "the new namespace has interfaces besides loopback; nothing was sent";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "see the namespace child's failures above";
}

class SyslogBroadcastTest : public ::testing::Test {
 protected:
  // Runs in the child, after it entered the namespace.
  void Prepare() {
    GlobalSettings.SelfName = "VESK";
    GlobalSettings.Version = "2024.7.22.2151";
    GlobalSettings.ExceptionFileName = "e!vesk.xml";
    GlobalSettings.EXEPath = dir_.path();
    GlobalSettings.SyslogSequence = 0;
    BeginRunReports({SyslogMode::kOff, "", 514});
  }

  static tSyslogRec Record(const std::string& message, std::int32_t port) {
    tSyslogRec rec;
    rec.Code = 5003;
    rec.Message = message;
    rec.Port = port;
    return rec;
  }

  static std::multiset<std::string> Sources(const std::vector<testing_support::Datagram>& all) {
    std::multiset<std::string> sources;
    for (const auto& datagram : all) sources.insert(datagram.source_address);
    return sources;
  }

  TempDir dir_;
};

TEST_F(SyslogBroadcastTest, WithoutLocalAddressesNothingIsSentAndUnreachableIsNotReported) {
  RunInFreshNetworkNamespace([this] {
    Prepare();
    SetInterfaceUp("lo", false);
    ASSERT_TRUE(platform::LocalIPv4Addresses().empty());
    EXPECT_EQ(BroadcastUDPPacket("m", 514), 0);
    // With loopback down every destination is an unreachable network.
    EXPECT_EQ(UnicastUDPPacket("m", "127.0.0.1", 5140), -2);
    EXPECT_FALSE(dir_.Exists("e!vesk.xml"));
  });
}

TEST_F(SyslogBroadcastTest, PostsToPort514FromEveryLocalAddress) {
  RunInFreshNetworkNamespace([this] {
    Prepare();
    SetInterfaceUp("lo", true);
    UdpListener syslog_port("0.0.0.0", 514);
    UdpListener record_port("0.0.0.0", 9999);

    PostSyslogMsg(Record("hello", 9999), "");
    auto received = syslog_port.ReceiveAll();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, "<0>VESK:00001 hello H=\"\" (ID=05003)");
    EXPECT_EQ(received[0].source_address, "127.0.0.1");
    EXPECT_TRUE(record_port.ReceiveAll(100).empty());

    AddLoopbackAddress(kSecondAddress);
    ASSERT_EQ(platform::LocalIPv4Addresses().size(), 2u);
    EXPECT_EQ(BroadcastUDPPacket("twice", 514), 0);
    received = syslog_port.ReceiveAll();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].payload, "twice");
    EXPECT_EQ(received[1].payload, "twice");
    EXPECT_EQ(Sources(received), (std::multiset<std::string>{"127.0.0.1", kSecondAddress}));

    EXPECT_EQ(BroadcastUDPPacket("never", 0), 0);
    EXPECT_EQ(BroadcastUDPPacket("never", -514), 0);
    EXPECT_TRUE(syslog_port.ReceiveAll(100).empty());
  });
}

TEST_F(SyslogBroadcastTest, ReportSummaryFollowsTheSyslogSetting) {
  RunInFreshNetworkNamespace([this] {
    Prepare();
    SetInterfaceUp("lo", true);
    UdpListener syslog_port("0.0.0.0", 514);

    BeginRunReports({SyslogMode::kBroadcast, "", 514});
    ReportException("Main()", "EIdException", "m", 100);
    const auto received = syslog_port.ReceiveAll();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload,
              "<0>VESK:00001 EXCEPTION:Func=Main() Trace=100 File=\"e!vesk.xml\" SelfNameVESK "
              "Version=2024.7.22.2151 H=\"\" (ID=05003)");

    BeginRunReports({SyslogMode::kOff, "", 514});
    ReportException("Main()", "EIdException", "m", 100);
    EXPECT_TRUE(syslog_port.ReceiveAll(200).empty());

    // A unicast setting without a host must not turn into a broadcast.
    BeginRunReports({SyslogMode::kUnicast, "", 514});
    ReportException("Main()", "EIdException", "m", 100);
    EXPECT_TRUE(syslog_port.ReceiveAll(200).empty());
  });
}

TEST_F(SyslogBroadcastTest, BroadcastPermissionIsWithdrawnAfterTheSend) {
  RunInFreshNetworkNamespace([] {
    SetInterfaceUp("lo", true);
    UdpListener syslog_port("0.0.0.0", 514);
    platform::UdpSocket socket;
    socket.Bind("127.0.0.1");
    socket.SendBroadcast("allowed", 514);
    try {
      socket.SendTo("refused", "255.255.255.255", 514);
      ADD_FAILURE() << "a broadcast went out without permission";
    } catch (const platform::UdpSocketError& error) {
      EXPECT_EQ(error.ErrorNumber(), EACCES) << error.Message();
    }
    const auto received = syslog_port.ReceiveAll();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].payload, "allowed");
  });
}

}  // namespace
}  // namespace zub32
