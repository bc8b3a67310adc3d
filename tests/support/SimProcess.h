// The simulator vesk-sim running as a child process on an ephemeral loopback
// port, for tests that run the program against it. It is stopped when the
// object goes away and stops by itself after its --max-seconds.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace testing_support {

// The built simulator (VESK_SIM_BINARY, which CTest sets); empty when unset.
std::string SimBinary();

class SimProcess {
 public:
  // Starts the simulator with these arguments plus --log and, unless the
  // arguments give one, --max-seconds 120, and waits up to ten seconds for
  // its listening line. Port() is 0 when it did not come up.
  explicit SimProcess(std::vector<std::string> arguments);
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  int Port() const { return port_; }
  // "127.0.0.1:PORT", as the program's host settings take it.
  std::string HostPort() const;
  // Standard output's first line, for messages when it did not come up.
  const std::string& FirstLine() const { return first_line_; }
  // The request log so far, one "vesk-sim: conn ID METHOD TARGET STATUS
  // BYTES" line per request.
  std::string Log() const;
  // The request targets of the log, in order.
  std::vector<std::string> RequestedTargets() const;

  // GETs path over a fresh HTTP/1.0 connection with plain sockets, apart
  // from the program's own client; the body of a 200 answer, nullopt for
  // anything else. Bounded by ten seconds.
  std::optional<std::string> FetchBody(const std::string& path) const;

 private:
  TempDir files_;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int port_ = 0;
  std::string first_line_;
};

// Writes the simulator's background map to path; false when it failed.
bool WriteSimBackground(const std::string& path);

}  // namespace testing_support
