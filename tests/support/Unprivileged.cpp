#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCannotDropRights = 100;

}  // namespace

bool DropToNobody() {
  return ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0);
}

std::optional<bool> RunUnprivileged(const std::function<bool()>& check) {
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
