// Finds an installed program by name, for tests that use system tools
// (unshare, nginx, systemd-analyze, cpack) and skip when they are missing.
#pragma once

#include <string>

namespace testing_support {

// The full path of the first executable file of that name in the
// directories of PATH (or /usr/sbin:/usr/bin:/sbin:/bin when PATH is
// unset), then in /usr/sbin and /sbin, which a user's PATH often lacks;
// empty when there is none.
std::string FindProgram(const std::string& name);

}  // namespace testing_support
