#include "zub32/Syslog.h"

#include <errno.h>

#include <cstdio>
#include <exception>

#include "platform/Exceptions.h"
#include "platform/Udp.h"
#include "zub32/Records.h"

namespace zub32 {
namespace {

constexpr std::int32_t kSyslogPort = 514;
constexpr std::int16_t kMaxSyslogSequence = 32767;

// True while PostSyslogMsg hands a line to UnicastUDPPacket. A syslog line is
// best effort and its failure is never reported: the only sender is the
// exception report, and a report about its own delivery would replace the
// report it was announcing and post again, without end.
bool posting_syslog_line = false;

class PostingScope {
 public:
  PostingScope() : previous_(posting_syslog_line) { posting_syslog_line = true; }
  ~PostingScope() { posting_syslog_line = previous_; }
  PostingScope(const PostingScope&) = delete;
  PostingScope& operator=(const PostingScope&) = delete;

 private:
  bool previous_;
};

// At least five digits, zero-padded, a minus sign before the digits.
std::string FiveDigits(long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.5lld", value);
  return text;
}

void ReportUnicastFailure(const std::exception& error, bool unreachable, std::int32_t trace) {
  // An unreachable network is an expected state of a machine without a
  // route, not a fault of the program.
  if (unreachable || posting_syslog_line) return;
  ReportFailure("zub32.UnicastUDPPacket", error, trace);
}

}  // namespace

std::string FormatSyslogLine(const tSyslogRec& SyslogRec, std::int16_t sequence) {
  std::string line = "<";
  line += std::to_string(SyslogRec.Code / 10000);
  line += ">";
  line += GlobalSettings.SelfName;
  line += ":";
  line += FiveDigits(sequence);
  line += " ";
  line += SyslogRec.Message;
  line += " H=\"";
  line += GlobalSettings.HostName;
  line += "\" (ID=";
  line += FiveDigits(SyslogRec.Code);
  line += ")";
  return line;
}

void PostSyslogMsg(const tSyslogRec& SyslogRec, const std::string& Host) {
  CallDepthScope depth;
  try {
    std::int16_t& sequence = GlobalSettings.SyslogSequence;
    sequence = sequence == kMaxSyslogSequence ? 0 : static_cast<std::int16_t>(sequence + 1);
    const std::string line = FormatSyslogLine(SyslogRec, sequence);
    const std::int32_t port = SyslogRec.Port == 0 ? kSyslogPort : SyslogRec.Port;
    if (Host.empty()) {
      // A broadcast always goes to the syslog port, whatever the record says.
      BroadcastUDPPacket(line, kSyslogPort);
    } else {
      PostingScope posting;
      UnicastUDPPacket(line, Host, port);
    }
  } catch (const std::exception&) {
    // Best effort: a line that cannot be built or sent is dropped.
  }
}

std::int32_t BroadcastUDPPacket(const std::string& Msg, std::int32_t Port) {
  CallDepthScope depth;
  if (Port <= 0) return 0;
  try {
    // One socket per local address, so that the line leaves through every
    // network the machine is on. The first failure ends the loop.
    for (const std::string& local : platform::LocalIPv4Addresses()) {
      platform::UdpSocket socket;
      socket.Bind(local);
      socket.SendBroadcast(Msg, Port);
    }
  } catch (const std::exception&) {
    return -2;
  }
  return 0;
}

std::int32_t UnicastUDPPacket(const std::string& Msg, const std::string& Host, std::int32_t Port) {
  tLogRec Log;
  Log.Trace = 100;
  CallDepthScope depth;
  Log.Trace = 200;
  if (Port <= 0) return 0;
  // Without a host the destination is the broadcast address.
  if (Host.empty()) return BroadcastUDPPacket(Msg, Port);
  try {
    const std::string destination = platform::ResolveIPv4(Host);
    // Sent once, from the address the system chooses for the route.
    platform::UdpSocket socket;
    socket.SendTo(Msg, destination, Port);
    Log.Trace = 300;
    socket.Close();
    Log.Trace = 800;
  } catch (const platform::UdpSocketError& error) {
    ReportUnicastFailure(error, error.ErrorNumber() == ENETUNREACH, Log.Trace);
    return -2;
  } catch (const std::exception& error) {
    ReportUnicastFailure(error, false, Log.Trace);
    return -2;
  }
  return 0;
}

}  // namespace zub32
