#include "refresh/FrameLinks.h"

#include <optional>
#include <string>

#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "refresh/RadarFrameUpdate.h"
#include "site/SiteNames.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

void ReportLinkFailure(const std::string& link, const std::string& target,
                       const std::string& reason) {
  zub32::NoteWriteFailure("Could not link " + link + " to " + target + ": " + reason);
}

void KeepLink(int index) {
  const std::string link = site::FrameLinkName(index);
  const std::string target = site::FrameFileName(index);
  int error_number = 0;
  switch (platform::KindOfEntry(link, error_number)) {
    case platform::EntryKind::kMissing: {
      // A link may precede its frame (a page that names fewer frames); it
      // starts to serve the frame as soon as one is saved.
      const platform::FileResult result = platform::CreateSymbolicLink(target, link);
      if (!result.ok()) ReportLinkFailure(link, target, result.reason());
      return;
    }
    case platform::EntryKind::kUnreadable:
      ReportLinkFailure(link, target, platform::SystemErrorText(error_number));
      return;
    case platform::EntryKind::kSymbolicLink:
      break;
    default:
      platform::WriteLine(link + " is not a link to " + target + "; left as it is");
      return;
  }
  const std::optional<std::string> current = platform::SymbolicLinkTarget(link);
  if (current == target) return;
  // The link is replaced in one rename, so that the name never goes missing
  // for a reader.
  const platform::FileResult result = platform::ReplaceSymbolicLink(target, link);
  if (!result.ok()) {
    ReportLinkFailure(link, target, result.reason());
    return;
  }
  platform::WriteLine(link + " pointed at " + current.value_or("an unreadable target") +
                      "; now points at " + target);
}

}  // namespace

void KeepLowercaseFrameNames() {
  for (int index = 0; index < kLoopEntries; ++index) KeepLink(index);
}

}  // namespace refresh
