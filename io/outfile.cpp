#include "io/outfile.h"

#include <atomic>
#include <cstring>

#include "runtime/procsvc.h"
#include "io/outfile_impl.h"

namespace io {
namespace detail {
namespace {

constexpr int kSlots = 8;
constexpr size_t kLongest = 4096;

// A slot is claimed by its writer, then published; a signal handler reads
// only published ones.
struct Slot {
  std::atomic<int> state{0};  // 0 free, 1 claimed, 2 published
  char path[kLongest];
};
Slot slots[kSlots];

void RemoveAtEnd() { RemoveTemporaries(); }

}  // namespace

int RegisterTemporary(const std::string& path) {
  if (path.size() >= kLongest) return -1;
  static const bool hooked = sys::os::AtProcessEnd(RemoveAtEnd);
  (void)hooked;
  for (int i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].state.store(2);
    return i;
  }
  return -1;
}

void ForgetTemporary(int slot) {
  if (slot >= 0 && slot < kSlots) slots[slot].state.store(0);
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of(
#ifdef _WIN32
      "/\\:"
#else
      "/"
#endif
  );
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
#ifdef _WIN32
  if (path[slash] == ':') return path.substr(0, slash + 1);
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);
#endif
  return path.substr(0, slash);
}

}  // namespace detail

void RemoveTemporaries() {
  for (detail::Slot& s : detail::slots) {
    if (s.state.load() == 2) detail::RemoveFileNow(s.path);
  }
}

OutputFile::~OutputFile() { Abandon(); }

Status WriteOutput(const std::string& path, std::string_view bytes) {
  OutputFile out;
  Status st = out.Open(path);
  if (st.ok()) st = out.Write(bytes);
  if (st.ok()) st = out.Commit();
  return st;
}

}  // namespace io
