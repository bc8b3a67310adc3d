// Syslog lines over UDP.
#pragma once

#include <cstdint>
#include <string>

#include "zub32/Records.h"

namespace zub32 {

// The syslog line for a record; advances nothing.
std::string FormatSyslogLine(const tSyslogRec& SyslogRec, std::int16_t sequence);

// Advances GlobalSettings.SyslogSequence and sends the line: broadcast when
// Host is empty, unicast otherwise. Failures are swallowed.
void PostSyslogMsg(const tSyslogRec& SyslogRec, const std::string& Host);

std::int32_t BroadcastUDPPacket(const std::string& Msg, std::int32_t Port);
std::int32_t UnicastUDPPacket(const std::string& Msg, const std::string& Host, std::int32_t Port);

}  // namespace zub32
