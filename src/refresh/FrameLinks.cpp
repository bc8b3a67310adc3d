#include "refresh/FrameLinks.h"

#include <filesystem>
#include <system_error>

#include "platform/Console.h"
#include "refresh/RadarFrameUpdate.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

namespace fs = std::filesystem;

void ReportLinkFailure(const std::string& link, const std::string& target,
                       const std::error_code& error) {
  zub32::NoteWriteFailure("Could not link " + link + " to " + target + ": " + error.message());
}

// Replaces whatever link stands at link by one to target in one rename, so
// that the name never goes missing for a reader. False when it failed (and
// said so).
bool RepointLink(const std::string& link, const std::string& target) {
  const std::string temporary = "." + link + ".link";
  std::error_code error;
  fs::remove(temporary, error);
  fs::create_symlink(target, temporary, error);
  if (!error) fs::rename(temporary, link, error);
  if (error) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    ReportLinkFailure(link, target, error);
    return false;
  }
  return true;
}

void KeepLink(int index) {
  const std::string link = LowercaseFrameName(index);
  const std::string target = FrameFileName(index);
  std::error_code error;
  const fs::file_status status = fs::symlink_status(link, error);
  if (status.type() == fs::file_type::not_found) {
    // A link may precede its frame (a page that names fewer frames); it
    // starts to serve the frame as soon as one is saved.
    error.clear();
    fs::create_symlink(target, link, error);
    if (error) ReportLinkFailure(link, target, error);
    return;
  }
  if (error) {
    ReportLinkFailure(link, target, error);
    return;
  }
  if (status.type() != fs::file_type::symlink) {
    platform::WriteLine(link + " is not a link to " + target + "; left as it is");
    return;
  }
  const fs::path current = fs::read_symlink(link, error);
  if (!error && current == fs::path(target)) return;
  if (RepointLink(link, target)) {
    platform::WriteLine(link + " pointed at " +
                        (error ? std::string("an unreadable target") : current.string()) +
                        "; now points at " + target);
  }
}

}  // namespace

std::string LowercaseFrameName(int index) { return "image" + std::to_string(index) + ".png"; }

std::string FrameFileName(int index) { return "Image" + std::to_string(index) + ".png"; }

void KeepLowercaseFrameNames() {
  for (int index = 0; index < kLoopEntries; ++index) KeepLink(index);
}

}  // namespace refresh
