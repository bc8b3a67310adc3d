// Symbolic links read, made and replaced without the name going missing.
#pragma once

#include <optional>
#include <string>

#include "platform/FileResult.h"

namespace platform {

// The text a symbolic link holds, or nullopt when it cannot be read.
std::optional<std::string> SymbolicLinkTarget(const std::string& path);

// Makes a new symbolic link at link that holds target. Returns the system's
// reason on failure (an entry there already, say).
FileResult CreateSymbolicLink(const std::string& target, const std::string& link);

// Replaces the link at link by one that holds target, in one rename of a
// new link made beside it as "." + link + ".link", so that the name never
// goes missing for a reader. Returns the reason on failure; no temporary link is left either way.
FileResult ReplaceSymbolicLink(const std::string& target, const std::string& link);

}  // namespace platform
