// vesk-sim: a local stand-in for the radar source host and the publishing
// host, so that refresh runs, the demo and end-to-end tests never leave the
// machine.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Background.h"
#include "HttpServer.h"
#include "SimOptions.h"
#include "Simulator.h"

namespace {

volatile sig_atomic_t stop_signal = 0;

void OnStopSignal(int signal_number) { stop_signal = signal_number; }

// Blocks SIGTERM and SIGINT and routes them to the stop flag. Returns the
// mask to wait with, in which they are open, so that they are taken only
// while the server waits.
sigset_t InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  sigset_t stop_set, previous;
  sigemptyset(&stop_set);
  sigaddset(&stop_set, SIGTERM);
  sigaddset(&stop_set, SIGINT);
  sigprocmask(SIG_BLOCK, &stop_set, &previous);
  sigdelset(&previous, SIGTERM);
  sigdelset(&previous, SIGINT);
  return previous;
}

int Serve(const sim::SimOptions& options) {
  const sigset_t wait_mask = InstallStopSignals();
  const auto start = sim::HttpServer::Clock::now();
  sim::Simulator simulator(options, start);
  sim::HttpServer::Options server_options;
  server_options.port = options.port;
  server_options.idle_timeout = options.idle_timeout;
  server_options.log = options.log;
  sim::HttpServer server(server_options, [&simulator](const sim::HttpRequest& request) {
    return simulator.Handle(request);
  });

  std::printf("vesk-sim listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
  std::fflush(stdout);
  server.Run(start + options.max_seconds, stop_signal, wait_mask);
  if (stop_signal != 0) {
    std::fprintf(stderr, "vesk-sim: stopped by signal %d\n", static_cast<int>(stop_signal));
  } else {
    std::fprintf(stderr, "vesk-sim: stopped after %lld seconds\n",
                 static_cast<long long>(options.max_seconds.count()));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  sim::SimOptions options;
  try {
    options = sim::ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const sim::UsageError& error) {
    std::fprintf(stderr, "vesk-sim: %s\nTry 'vesk-sim --help'.\n", error.what());
    return 2;
  }
  if (options.help) {
    std::fputs(sim::UsageText().c_str(), stdout);
    return 0;
  }
  try {
    if (!options.write_background.empty()) {
      sim::WriteBackground(options.write_background);
      std::printf("vesk-sim wrote %s\n", options.write_background.c_str());
      return 0;
    }
    return Serve(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "vesk-sim: %s\n", error.what());
    return 1;
  }
}
