#include "zub32/ClosestName.h"

#include <algorithm>
#include <vector>

#include "platform/AsciiText.h"

namespace zub32 {
namespace {

// The optimal string alignment distance of a and b without regard to ASCII
// case: insertions, deletions, substitutions and swaps of neighbours.
std::size_t EditDistance(std::string_view a, std::string_view b) {
  const std::string x = platform::AsciiLower(a);
  const std::string y = platform::AsciiLower(b);
  std::vector<std::vector<std::size_t>> d(x.size() + 1, std::vector<std::size_t>(y.size() + 1));
  for (std::size_t i = 0; i <= x.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= y.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= x.size(); ++i) {
    for (std::size_t j = 1; j <= y.size(); ++j) {
      const std::size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) {
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
      }
    }
  }
  return d[x.size()][y.size()];
}

// A name further from every known one is no typo of any of them.
constexpr std::size_t kMaxTypoEdits = 2;

}  // namespace

std::string ClosestName(std::string_view text, std::span<const std::string_view> names) {
  std::string closest;
  std::size_t best = kMaxTypoEdits + 1;
  for (const std::string_view name : names) {
    const std::size_t distance = EditDistance(text, name);
    if (distance < best && 2 * distance < text.size()) {
      best = distance;
      closest = name;
    }
  }
  return closest;
}

}  // namespace zub32
