#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace testing_support {
namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCannotDropRights = 100;

// The threads of this process, counted from /proc.
std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
    ++count;
  return count;
}

}  // namespace

bool DropToNobody() {
  return ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
}

std::optional<bool> RunUnprivileged(const std::function<bool()>& check) {
  // A forked child has only the calling thread, but every lock another thread
  // held at the fork stays held in it (the allocator's, a resolver's): the
  // child may then hang at random. Refuse rather than be flaky.
  if (ThreadCount() != 1) {
    throw std::logic_error("RunUnprivileged needs a process without other threads");
  }
  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    if (!DropToNobody()) ::_exit(kCannotDropRights);
    ::_exit(check() ? 1 : 0);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return std::nullopt;
  if (WEXITSTATUS(status) > 1) return std::nullopt;
  return WEXITSTATUS(status) == 1;
}

}  // namespace testing_support
