// The radar source's loop page: an ordinary web page whose script assigns
// the loop's frame addresses to theImageNames[0] (oldest) to
// theImageNames[6] (newest), each assignment ending with ";" and each address
// standing between the first two double quotes after the entry's name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FrameSchedule.h"

namespace sim {

inline constexpr const char* kLoopPagePath = "/products/IDR641.loop.shtml";

// "/radar/IDR641.T.202407222150.png" for the frame of 2024-07-22 21:50 UTC.
std::string FrameAddress(Minutes frame_time);

// The frame time named by such an address; nullopt for any other path.
std::optional<Minutes> ParseFrameAddress(std::string_view path);

// The page for a loop of frames, oldest first; about 20 KiB.
std::string BuildLoopPage(const std::vector<Minutes>& loop);

}  // namespace sim
