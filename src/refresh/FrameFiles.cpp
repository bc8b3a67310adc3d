#include "refresh/FrameFiles.h"

#include <string_view>

#include "platform/Console.h"
#include "refresh/RadarFrameUpdate.h"
#include "site/SiteNames.h"
#include "zub32/TextFiles.h"

namespace refresh {
namespace {

void ReportNotSaved(const std::string& name, const std::string& reason) {
  zub32::NoteWriteFailure(reason);
  platform::WriteLine(name + " not saved: the file could not be written");
}

}  // namespace

bool FrameFiles::Stage(const std::string& data, const std::string& name, bool loop_frame) {
  const std::string_view pieces[] = {data};
  platform::StagedFile& file = batch_.Write(name, pieces);
  if (!file.Reason().empty()) {
    ReportNotSaved(name, file.Reason());
    return false;
  }
  staged_.push_back({name, loop_frame, &file});
  return true;
}

int FrameFiles::Publish(const std::string& newest, std::vector<std::string>* placed) {
  platform::StagedFile* record = nullptr;
  if (!newest.empty()) {
    // Staged with the frames, so that one flush serves them all; it is
    // renamed only when every frame is in place, and dropped otherwise.
    const std::string_view pieces[] = {newest};
    record = &batch_.Write(site::kLastImageUriFileName, pieces);
    if (!record->Reason().empty()) {
      zub32::NoteWriteFailure(record->Reason());
      record = nullptr;
    }
  }
  batch_.FlushAll();
  int frames_in_place = 0;
  bool loop_in_place = true;
  for (const Staged& staged : staged_) {
    const platform::FileResult result = staged.file->Commit();
    if (!result.ok()) ReportNotSaved(staged.name, result.reason());
    if (staged.loop_frame) {
      if (result.ok()) {
        ++frames_in_place;
        if (placed != nullptr) placed->push_back(staged.name);
      }
      loop_in_place = loop_in_place && result.ok();
    }
  }
  if (record != nullptr && loop_in_place) {
    const platform::FileResult result = record->Commit();
    if (!result.ok()) zub32::NoteWriteFailure(result.reason());
  }
  staged_.clear();
  return frames_in_place;
}

}  // namespace refresh
