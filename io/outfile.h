// Output files named on a command line, written the way careful tools do.
//
// - "-" is standard output.
// - A regular file, or a name that does not exist yet, is replaced whole:
//   the bytes go to a temporary of an unpredictable name created
//   exclusively in the same folder, which is flushed, given the old file's
//   permission bits (or a new file's usual ones) and renamed over the name.
//   A symbolic link is followed and its target replaced the same way.
// - Anything else (a device, a FIFO, a socket, /dev/stdout, /dev/fd/N) is
//   opened and written in place, never replaced.
//
// A temporary never outlives the process: RemoveTemporaries takes away any
// still being written, and is safe to call from a signal handler; the
// process-end hooks call it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/status.h"

namespace io {

// What a run can know before it starts: success when path can be
// written (its folder exists and takes new files, it is not a folder),
// otherwise why not.  Creates nothing that stays.
Status CheckOutput(const std::string& path);

// Whether two output names reach the same file (the same name, or links
// and other spellings of one file); "-" is standard output.
bool SameOutput(const std::string& a, const std::string& b);

// One output being written.  Open, Write as often as needed, then Commit;
// destroying it before Commit, or a failed Commit, leaves the old file as
// it was and no temporary behind.
class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Each fails with a one-line reason naming the path.
  Status Open(const std::string& path);
  Status Write(std::string_view bytes);
  Status Commit();
  // Gives up: the temporary, if any, is removed.
  void Abandon();

 private:
  std::string path_;     // as given, for messages
  std::string target_;   // the file a rename replaces ("" when in place)
  std::string temp_;     // the temporary being written ("" when in place)
  intptr_t handle_ = -1;  // descriptor or handle
  bool ownsHandle_ = false;
  std::string error_;
  int slot_ = -1;  // in the table of temporaries to remove on a signal
  unsigned mode_ = 0;
  bool keepMode_ = false;
};

// Opens, writes and commits in one go.
Status WriteOutput(const std::string& path, std::string_view bytes);

// Removes every temporary still being written.  Async-signal-safe.
void RemoveTemporaries();

}  // namespace io
