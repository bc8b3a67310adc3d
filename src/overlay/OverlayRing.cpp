#include "overlay/OverlayRing.h"

#include "picture/BmpCodec.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "site/SiteNames.h"
#include "zub32/TextFiles.h"

namespace overlay {
namespace {

// Moving a member one place down the ring gives the next member the file
// itself rather than a copy of its bytes: the member it came from is
// replaced right after, so every member is a separate file again once the
// rotation is done, and no picture is written twice. Only a regular file
// counts as a member: anything else at its name (a link above all) is
// treated as missing, so nothing is read or linked through it.
void ShiftMember(const std::string& source, const std::string& destination) {
  if (!platform::IsRegularEntry(source)) return;
  const platform::FileResult result = platform::CopyFileByLinkAtomically(source, destination);
  if (!result.ok()) zub32::NoteWriteFailure(result.reason());
}

}  // namespace

void RotateOverlayRing(const std::string& exe_path, const std::string& overlay_name,
                       platform::StagedFile newest) {
  // The new member 0 is made before anything moves: when it cannot be (a
  // full disk), the ring keeps its members as they were rather than shifting
  // them with nothing new to show, and that failure is recorded.
  if (!newest.Reason().empty()) {
    zub32::NoteWriteFailure(newest.Reason());
    return;
  }
  // In the first runs the older members do not exist yet, which is no
  // failure. A member that cannot be replaced keeps showing its previous
  // picture until a later run succeeds; that failure is recorded.
  for (int n = kRingSize - 1; n >= 1; --n) {
    const std::string source = site::RingMemberName(n - 1);
    const std::string destination = site::RingMemberName(n);
    platform::WriteLine("Copy " + source + " -> " + destination);
    ShiftMember(exe_path + source, exe_path + destination);
  }
  platform::WriteLine("Copy " + overlay_name + " -> " + site::RingMemberName(0));
  const platform::FileResult result = newest.Commit();
  if (!result.ok()) zub32::NoteWriteFailure(result.reason());
}

void SaveOverlayAndRotateRing(const picture::Bitmap& overlay, const std::string& exe_path,
                              const std::string& overlay_name) {
  platform::StagedBatch batch;
  platform::StagedFile& archived =
      batch.Add(picture::StageBmpFile(overlay, overlay_name, platform::Flush::kLater));
  // Without the archived overlay there is nothing to turn the ring with.
  if (!archived.Reason().empty()) picture::CommitBmpFile(archived, overlay_name);
  // Member 0 is a copy, so that the archived overlay stays a file of its
  // own; it is written from the picture rather than read back.
  platform::StagedFile& newest = batch.Add(
      picture::StageBmpFile(overlay, exe_path + site::RingMemberName(0), platform::Flush::kLater));
  batch.FlushAll();
  picture::CommitBmpFile(archived, overlay_name);
  RotateOverlayRing(exe_path, overlay_name, std::move(newest));
}

}  // namespace overlay
