// The known name a mistyped one most likely means.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace zub32 {

// The one of names nearest to text by edit distance (letter case ignored, a
// swap of two neighbours counting as one edit), when at most two edits and
// fewer than half its letters apart; empty otherwise. The first of equally
// near names wins.
std::string ClosestName(std::string_view text, std::span<const std::string_view> names);

}  // namespace zub32
