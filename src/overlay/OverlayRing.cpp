#include "overlay/OverlayRing.h"

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "zub32/TextFiles.h"

namespace overlay {
namespace {

// Moving a member one place down the ring gives the next member the file
// itself rather than a copy of its bytes: the member it came from is
// replaced right after, so every member is a separate file again once the
// rotation is done, and no picture is written twice. The new overlay is
// copied, so that the archived one stays a file of its own.
void CopyMember(const std::string& source, const std::string& destination, bool shift) {
  if (!platform::EntryExists(source)) return;
  const std::string reason = shift ? platform::CopyFileByLinkAtomically(source, destination)
                                   : platform::CopyFileAtomically(source, destination);
  if (!reason.empty()) zub32::NoteWriteFailure(reason);
}

}  // namespace

std::string RingMemberName(int n) { return "SESOverlay" + std::to_string(n) + ".bmp"; }

void RotateOverlayRing(const std::string& exe_path, const std::string& overlay_name) {
  // In the first runs the older members do not exist yet, which is no
  // failure. A member that cannot be replaced keeps showing its previous
  // picture until a later run succeeds; that failure is recorded.
  for (int n = kRingSize - 1; n >= 1; --n) {
    const std::string source = RingMemberName(n - 1);
    const std::string destination = RingMemberName(n);
    platform::WriteLine("Copy " + source + " -> " + destination);
    CopyMember(exe_path + source, exe_path + destination, true);
  }
  platform::WriteLine("Copy " + overlay_name + " -> " + RingMemberName(0));
  CopyMember(overlay_name, exe_path + RingMemberName(0), false);
}

}  // namespace overlay
