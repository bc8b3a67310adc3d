// The syslog line and its unicast path, captured on a loopback listener. The
// broadcast path runs only inside a fresh network namespace
// (SyslogBroadcastTest).
#include "zub32/Syslog.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/ProgramState.h"
#include "support/TempDir.h"
#include "support/UdpListener.h"
#include "zub32/Config.h"
#include "zub32/ExceptionReport.h"
#include "zub32/Records.h"

namespace zub32 {
namespace {

using testing_support::TempDir;
using testing_support::UdpListener;
using namespace std::string_literals;

// Larger than the largest UDP payload over IPv4 (65507 bytes).
constexpr std::size_t kOversizedMessage = 70000;

class SyslogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    GlobalSettings.SelfName = "VESK";
    GlobalSettings.Version = "2024.7.22.2151";
    GlobalSettings.ExceptionFileName = "e!vesk.xml";
    GlobalSettings.EXEPath = dir_.path();
    GlobalSettings.SyslogSequence = 0;
    // A report written by a failing send must not send anything itself.
    BeginRunReports({SyslogMode::kOff, "", 514});
  }

  static tSyslogRec Record(std::int32_t code, const std::string& message, std::int32_t port) {
    tSyslogRec rec;
    rec.Code = code;
    rec.Message = message;
    rec.Port = port;
    return rec;
  }

  testing_support::ProgramState saved_;
  TempDir dir_;
  UdpListener listener_;
};

TEST_F(SyslogTest, FormatsPriorityIdSequenceAndHost) {
  EXPECT_EQ(FormatSyslogLine(Record(5003, "EXCEPTION:Func=Main()", 0), 1),
            "<0>VESK:00001 EXCEPTION:Func=Main() H=\"\" (ID=05003)");
  EXPECT_EQ(FormatSyslogLine(Record(123456, "m", 0), 32767), "<12>VESK:32767 m H=\"\" (ID=123456)");
  EXPECT_EQ(FormatSyslogLine(Record(0, "", 0), 0), "<0>VESK:00000  H=\"\" (ID=00000)");
  GlobalSettings.HostName = "radar-box";
  EXPECT_EQ(FormatSyslogLine(Record(20001, "m", 0), 42),
            "<2>VESK:00042 m H=\"radar-box\" (ID=20001)");
}

TEST_F(SyslogTest, SequenceStartsAtOneAndWrapsAfter32767) {
  const tSyslogRec rec = Record(5003, "m", listener_.port());
  PostSyslogMsg(rec, "127.0.0.1");
  GlobalSettings.SyslogSequence = 32766;
  PostSyslogMsg(rec, "127.0.0.1");
  PostSyslogMsg(rec, "127.0.0.1");
  PostSyslogMsg(rec, "localhost");

  const auto received = listener_.ReceiveAll();
  ASSERT_EQ(received.size(), 4u);
  const char* expected[] = {"00001", "32767", "00000", "00001"};
  for (std::size_t i = 0; i < received.size(); ++i) {
    EXPECT_EQ(received[i].payload, std::string("<0>VESK:") + expected[i] + " m H=\"\" (ID=05003)");
    EXPECT_EQ(received[i].source_address, "127.0.0.1");
  }
}

TEST_F(SyslogTest, UnicastSendsTheMessageOnceAsTheWholePayload) {
  const std::string message = "line\r\nwith a break and a zero \0 byte"s;
  EXPECT_EQ(UnicastUDPPacket(message, "127.0.0.1", listener_.port()), 0);
  const auto received = listener_.ReceiveAll();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].payload, message);

  // No port: nothing is sent and that counts as done.
  EXPECT_EQ(UnicastUDPPacket("m", "127.0.0.1", 0), 0);
  EXPECT_EQ(UnicastUDPPacket("m", "127.0.0.1", -1), 0);
  EXPECT_TRUE(listener_.ReceiveAll(200).empty());
  EXPECT_FALSE(dir_.Exists("e!vesk.xml"));
}

TEST_F(SyslogTest, UnicastFailureIsReportedWithItsMarker) {
  const std::string oversized(kOversizedMessage, 'x');
  EXPECT_EQ(UnicastUDPPacket(oversized, "127.0.0.1", listener_.port()), -2);
  const std::string report = dir_.Read("e!vesk.xml");
  EXPECT_NE(report.find("<Function>zub32.UnicastUDPPacket:200</Function>"), std::string::npos)
      << report;
  // The message's own CR LF is written as escapes, as every control byte.
  EXPECT_NE(report.find("<ClassName>EIdSocketError</ClassName>\r\n<e.Message>Socket Error # " +
                        std::to_string(EMSGSIZE) + "\\x0D\\x0A"),
            std::string::npos)
      << report;

  EXPECT_TRUE(listener_.ReceiveAll(200).empty());
}

TEST_F(SyslogTest, PostSyslogMsgSwallowsAFailedSendWithoutAReport) {
  const std::int32_t depth = GlobalSettings.CallDepth;
  PostSyslogMsg(Record(5003, std::string(kOversizedMessage, 'x'), listener_.port()), "127.0.0.1");
  EXPECT_EQ(GlobalSettings.SyslogSequence, 1);
  EXPECT_FALSE(dir_.Exists("e!vesk.xml"));
  EXPECT_EQ(GlobalSettings.CallDepth, depth);

  // The next line goes out normally.
  PostSyslogMsg(Record(5003, "m", listener_.port()), "127.0.0.1");
  const auto received = listener_.Receive();
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(received->payload, "<0>VESK:00002 m H=\"\" (ID=05003)");
}

}  // namespace
}  // namespace zub32
