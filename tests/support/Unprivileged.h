// Runs a check in a child process that has no more rights over files than an
// ordinary user, so that permission failures can be tested also when the
// tests run as root (as in CI).
#pragma once

#include <functional>
#include <optional>

namespace testing_support {

// As root, makes this process the user and group nobody (65534), without
// supplementary groups; any other user keeps its rights. False when the
// rights could not be dropped.
bool DropToNobody();

// Runs check in a forked child; as root the child first becomes the user
// and group nobody (65534). Returns check's result, or nullopt when the
// child could not drop its rights or did not finish normally. Throws
// std::logic_error when this process has other threads (a server, say):
// start them inside check instead.
std::optional<bool> RunUnprivileged(const std::function<bool()>& check);

}  // namespace testing_support
