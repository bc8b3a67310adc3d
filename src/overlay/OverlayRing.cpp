#include "overlay/OverlayRing.h"

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "zub32/TextFiles.h"

namespace overlay {
namespace {

void CopyMember(const std::string& source, const std::string& destination) {
  if (!platform::EntryExists(source)) return;
  const std::string reason = platform::CopyFileAtomically(source, destination);
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
    CopyMember(exe_path + source, exe_path + destination);
  }
  platform::WriteLine("Copy " + overlay_name + " -> " + RingMemberName(0));
  CopyMember(overlay_name, exe_path + RingMemberName(0));
}

}  // namespace overlay
