// The pages name the current frames image0.png ... image6.png while the
// frame update writes Image0.png ... Image6.png; on a file system that tells
// the two apart, a symbolic link per frame makes both names serve the frame.
#pragma once

#include <string>

namespace refresh {

// In the working directory, makes image0.png ... image6.png symbolic links
// to Image0.png ... Image6.png (relative targets). A missing link is
// created silently and a correct link is left as it is. A link to anything
// else is pointed at its frame, and any other entry of that name (a regular
// file put there by hand, a directory) is left alone; each of the two gets
// one console line, as does a link that cannot be made. Nothing here ends
// the run.
void KeepLowercaseFrameNames();

}  // namespace refresh
