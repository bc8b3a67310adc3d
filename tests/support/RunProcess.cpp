#include "support/RunProcess.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <utility>

extern char** environ;

#include "support/Unprivileged.h"

namespace testing_support {
namespace {

class Pipe {
 public:
  Pipe() {
    if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void CloseRead() {
    if (fds_[0] >= 0) ::close(fds_[0]);
    fds_[0] = -1;
  }
  void CloseWrite() {
    if (fds_[1] >= 0) ::close(fds_[1]);
    fds_[1] = -1;
  }

 private:
  int fds_[2] = {-1, -1};
};

std::vector<std::string> BuildEnvironment(const ProcessOptions& options) {
  std::map<std::string, std::string> variables;
  if (!options.clear_environment) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const std::string text(*entry);
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
  }
  for (const auto& [name, value] : options.environment) {
    if (value) {
      variables[name] = *value;
    } else {
      variables.erase(name);
    }
  }
  std::vector<std::string> result;
  for (const auto& [name, value] : variables) result.push_back(name + "=" + value);
  return result;
}

}  // namespace

std::vector<std::string> ProcessResult::OutLines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

ProcessResult RunProcess(const ProcessOptions& options) {
  // A child that exits before reading all of its input must not end the test
  // with SIGPIPE; the child gets the default action back before exec.
  ::signal(SIGPIPE, SIG_IGN);
  ProcessResult result;
  Pipe in, out, err;
  // Everything the child needs is prepared before fork, so that the child
  // only calls async-signal-safe functions.
  std::vector<std::string> environment = BuildEnvironment(options);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments{options.binary};
  arguments.insert(arguments.end(), options.args.begin(), options.args.end());
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) {
    result.start_error = std::string("fork: ") + ::strerror(errno);
    return result;
  }
  if (pid == 0) {
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_DFL);
    if (::dup2(in.read_end(), 0) < 0 || ::dup2(out.write_end(), 1) < 0 ||
        ::dup2(err.write_end(), 2) < 0) {
      ::_exit(126);
    }
    if (options.unprivileged && !DropToNobody()) {
      static const char kMessage[] = "cannot become the user nobody\n";
      (void)!::write(2, kMessage, sizeof kMessage - 1);
      ::_exit(126);
    }
    if (!options.working_directory.empty() && ::chdir(options.working_directory.c_str()) != 0) {
      static const char kMessage[] = "cannot enter the working directory\n";
      (void)!::write(2, kMessage, sizeof kMessage - 1);
      ::_exit(126);
    }
    ::execve(options.binary.c_str(), argv.data(), envp.data());
    static const char kMessage[] = "cannot start the program\n";
    (void)!::write(2, kMessage, sizeof kMessage - 1);
    ::_exit(127);
  }
  // Also set from this side, so that a kill right after fork reaches the group.
  ::setpgid(pid, pid);
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();

  std::size_t input_written = 0;
  if (options.standard_input.empty()) in.CloseWrite();
  const auto deadline = std::chrono::steady_clock::now() + options.time_limit;
  bool out_open = true, err_open = true;
  while (out_open || err_open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    struct pollfd fds[3] = {
        {out.read_end(), POLLIN, 0}, {err.read_end(), POLLIN, 0}, {in.write_end(), POLLOUT, 0}};
    if (!out_open) fds[0].fd = -1;
    if (!err_open) fds[1].fd = -1;
    const int ready = ::poll(fds, 3, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0 && errno != EINTR) break;
    char buffer[65536];
    for (int k = 0; k < 2; ++k) {
      if (fds[k].fd < 0 || fds[k].revents == 0) continue;
      const ssize_t count = ::read(fds[k].fd, buffer, sizeof buffer);
      if (count > 0) {
        (k == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        (k == 0 ? out_open : err_open) = false;
      }
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      const ssize_t count = ::write(in.write_end(), options.standard_input.data() + input_written,
                                    options.standard_input.size() - input_written);
      if (count > 0) input_written += static_cast<std::size_t>(count);
      if (count < 0 || input_written == options.standard_input.size()) in.CloseWrite();
    }
  }
  in.CloseWrite();

  // The child may have closed its output and still run; it gets the rest of
  // its time and is then killed.
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, result.timed_out ? 0 : WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (done == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        result.timed_out = true;
        ::kill(-pid, SIGKILL);
      } else {
        ::usleep(2000);
      }
    }
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

ProcessResult RunTool(const std::string& binary, std::vector<std::string> args) {
  ProcessOptions options;
  options.binary = binary;
  options.args = std::move(args);
  return RunProcess(options);
}

std::string VeskBinary() {
  const char* binary = std::getenv("VESK_BINARY");
  return binary != nullptr ? std::string(binary) : std::string();
}

ProcessOptions VeskRunOptions(const std::string& binary, const std::string& working_directory) {
  ProcessOptions options;
  options.binary = binary;
  options.working_directory = working_directory;
  options.environment = {{"LC_ALL", "C"},
                         {"VESK_SYSLOG", "off"},
                         {"VESK_HOME", std::nullopt},
                         {"VESK_FONT", std::nullopt},
                         {"VESK_RADAR_HOST", std::nullopt},
                         {"VESK_PUBLISH_HOST", std::nullopt},
                         {"VESK_TLS_CA_FILE", std::nullopt},
                         {"VESK_READ_TIMEOUT", std::nullopt},
                         {"VESK_REQUEST_DEADLINE", std::nullopt},
                         {"VESK_RUN_DEADLINE", std::nullopt},
                         {"VESK_METRICS_FILE", std::nullopt},
                         {"VESK_STALE_AFTER", "0"},
                         {"VESK_EXPORT", "off"}};
  options.time_limit = std::chrono::seconds(60);
  return options;
}

void CopyExecutable(const std::string& from, const std::string& to) {
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::status(from).permissions());
}

}  // namespace testing_support
