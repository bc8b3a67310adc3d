// Serves the plain files of one directory, as the publishing host serves the
// program's directory under "/vesk/". Names that climb out of the directory,
// by ".." or by a symbolic link pointing elsewhere, are refused.
#pragma once

#include <string>
#include <string_view>

#include "HttpMessage.h"

namespace sim {

class StaticFiles {
 public:
  // Throws std::runtime_error when the directory cannot be resolved.
  explicit StaticFiles(const std::string& directory);

  // The file named by the percent-encoded path below the directory ("a.png",
  // "sub/b.html"); an empty path or one ending in "/" names its loop.html, the viewer page.
  // Answered as VersionedResponse does, by the file's size and mtime; 400
  // for a malformed path, 403 for a refused one, 404 for a missing one.
  HttpResponse Serve(const HttpRequest& request, std::string_view encoded_path) const;

  const std::string& root() const { return root_; }

 private:
  std::string root_;  // resolved, without trailing '/'
};

// The Content-Type for a file name, by its extension.
std::string ContentTypeFor(std::string_view name);

}  // namespace sim
