// The files of a run with a new frame: the seven frames, the slot's archived
// frame and the record of the newest address. Each is written to a
// temporary file as it arrives; once the loop is done, all of them are
// flushed together and renamed in the order they came, the record last, so
// that the record never names a loop that is not wholly on disk.
#pragma once

#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace refresh {

class FrameFiles {
 public:
  // Stages a fetched frame (never empty) as name; loop_frame tells one of
  // the seven from the archived copy. False, with the failure recorded and a
  // line saying that the file was not saved, when it cannot be staged.
  bool Stage(const std::string& data, const std::string& name, bool loop_frame);

  // Flushes every staged frame and renames each into place; a frame that
  // fails now is reported as in Stage. Then, when newest is not empty and
  // every loop frame is in place, records newest in kLastImageUriFileName.
  // Returns the number of loop frames put in place; with placed, adds their
  // names to it.
  int Publish(const std::string& newest, std::vector<std::string>* placed = nullptr);

 private:
  struct Staged {
    std::string name;
    bool loop_frame;
    platform::StagedFile* file;
  };

  platform::StagedBatch batch_;
  std::vector<Staged> staged_;
};

}  // namespace refresh
