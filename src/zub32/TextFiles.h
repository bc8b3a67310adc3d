// The file and text helpers through which the whole program reads and writes
// its files and cuts values out of fetched text. Texts are byte strings and
// may hold zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

namespace zub32 {

// Writes Text to FileName: 0 written, -1 nothing to write (empty text, the
// file is not touched), -5 failure (the old content stays in place, and the
// reason goes to NoteWriteFailure). Without bAppend the file is replaced
// atomically.
std::int32_t StringToFile(const std::string& Text, const std::string& FileName, bool bAppend,
                          const std::string& CallingFunction);

// The reasons of the writes a run could not make, in order.
using WriteFailureList = std::vector<std::string>;

// While it lives, NoteWriteFailure records into the given list, which
// belongs to the run. A scope opened inside another hands what it recorded
// on to the outer list when it ends, so a step can see its own failures
// and the run still sees them all.
class WriteFailureScope {
 public:
  explicit WriteFailureScope(WriteFailureList& failures);
  ~WriteFailureScope();
  WriteFailureScope(const WriteFailureScope&) = delete;
  WriteFailureScope& operator=(const WriteFailureScope&) = delete;

 private:
  WriteFailureList& failures_;
  WriteFailureList* previous_;
};

// Records a write that left a file as it was (or missing): prints the reason,
// which names the file, as a progress line and keeps it in the run's list for
// its report, so that a read-only directory or a full disk never passes
// unnoticed. Outside any WriteFailureScope the reason is only printed.
void NoteWriteFailure(const std::string& reason);

// The part of Source after the first StartDelim, cut before the first
// EndDelim that follows it.
std::string Between(const std::string& Source, const std::string& StartDelim,
                    const std::string& EndDelim);

// Between without a copy: the part as a view into Source, for cuts out of
// large fetched texts whose rest must not be copied.
std::string_view BetweenView(std::string_view Source, std::string_view StartDelim,
                             std::string_view EndDelim);

// The most FileToBin reads: it serves the run's own small record files.
inline constexpr std::size_t kMaxFileToBinBytes = 64 * 1024;

// The file's whole content, empty when it is missing, cannot be read, is not
// a regular file (a FIFO or device is never waited on) or holds more than
// kMaxFileToBinBytes.
std::string FileToBin(const std::string& FileName);

// True when an entry named GlobalSettings.EXEPath + Name exists.
bool FileExists(const std::string& Name);

// Last-write time in local time, packed as an MS-DOS date and time; -1 when
// the entry is missing, is not a regular file (a directory, a link) or its
// time cannot be packed.
std::int32_t MyFileAge(const std::string& FileName);

// Converts a packed MS-DOS date and time back to a date-time (two-second
// resolution); 0 when the packed value is no valid date and time.
platform::TDateTime FileDateToDateTime(std::int32_t packed);

// The locale's short date, a space and the long time; the date alone at
// midnight; empty for 0.
std::string StringOfString(platform::TDateTime DateTime);

}  // namespace zub32
