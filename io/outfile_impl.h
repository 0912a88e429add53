// What the output-file module's platform parts share with its portable part.
#pragma once

#include <string>

namespace io::detail {

// A table of temporaries being written, for RemoveTemporaries.  Register
// before the file is created, so that a signal in between finds the name.
// -1 when the table is full.
int RegisterTemporary(const std::string& path);
void ForgetTemporary(int slot);

// Deletes a file by name; async-signal-safe.  Each platform's own.
void RemoveFileNow(const char* path);

// Sixteen hex digits from the system's random source, for names nobody can
// guess ahead.
std::string RandomHex();

// Where a name's folder is: "." for a bare name.
std::string FolderOf(const std::string& path);

}  // namespace io::detail
