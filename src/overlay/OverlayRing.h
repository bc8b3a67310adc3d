// The overlay ring "SESOverlay0.bmp" (newest) to "SESOverlay6.bmp" (oldest),
// which the 30-minute loop page animates.
#pragma once

#include <string>

#include "picture/Bitmap.h"
#include "platform/FileSystem.h"

namespace overlay {

inline constexpr int kRingSize = 7;

// Turns the ring by one, oldest first: member 5 is copied over member 6, ...,
// member 0 over member 1, then the archived overlay over member 0, each copy
// announced by its "Copy <source> -> <destination>" line. The new member 0,
// a separate copy of the archived overlay, comes staged: when it could not
// be, no member changes and no line is printed but the failure's. Every copy goes through a
// temporary file and a rename, so a web server reading a member meanwhile
// gets the old file or the new one, never a part. A member that is missing,
// or is not a regular file, is passed over; a copy that fails otherwise
// leaves its destination as it was. Failures are recorded with
// zub32::NoteWriteFailure. Throws EOSError when the console cannot be
// written.
void RotateOverlayRing(const std::string& exe_path, const std::string& overlay_name,
                       platform::StagedFile newest);

// Saves the overlay under overlay_name and turns the ring with it. Both the
// overlay and the new member 0 are written and flushed together before
// either is renamed; the overlay is put in place first. Throws EFCreateError
// `Cannot create file "<overlay_name>". <reason>` when the overlay cannot be
// saved, and then nothing changes; otherwise as RotateOverlayRing.
void SaveOverlayAndRotateRing(const picture::Bitmap& overlay, const std::string& exe_path,
                              const std::string& overlay_name);

}  // namespace overlay
