// Output files on Linux: descriptors, exclusive temporaries and rename.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "io/outfile.h"
#include "io/outfile_impl.h"

namespace io {
namespace detail {

void RemoveFileNow(const char* path) { ::unlink(path); }

std::string RandomHex() {
  unsigned char bytes[8] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    // No random source: the clock and the process still make a name that
    // the exclusive create checks.
    const unsigned long long v = static_cast<unsigned long long>(::getpid()) * 0x9E3779B97F4A7C15ull ^
                                 static_cast<unsigned long long>(std::clock());
    std::memcpy(bytes, &v, sizeof bytes);
  }
  char hex[17];
  for (int i = 0; i < 8; ++i) std::snprintf(hex + 2 * i, 3, "%02x", bytes[i]);
  return hex;
}

}  // namespace detail

namespace {

constexpr long kProcMagic = 0x9fa0;

std::string Reason(const std::string& path, int err) { return "cannot write " + path + ": " + std::strerror(err); }

// A link in /proc (what /dev/stdout and /dev/fd/N lead to) names an open
// descriptor, not a path: what it reaches is written in place.
bool DescriptorLink(const std::string& path) {
  struct statfs fs{};
  return ::statfs(detail::FolderOf(path).c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kProcMagic;
}

// Follows a chain of symbolic links to the name at its end, which need not
// exist.  False on a loop, or where a link of the chain is a descriptor's.
bool FollowLinks(std::string path, std::string& end) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st{};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      end = path;
      return true;
    }
    if (DescriptorLink(path)) return false;
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    if (n < 0) return false;
    const std::string to(buf, static_cast<size_t>(n));
    path = !to.empty() && to[0] == '/' ? to : detail::FolderOf(path) + "/" + to;
  }
  return false;
}

enum class Kind { Stdout, InPlace, Replace, Folder, Broken };

struct Where {
  Kind kind;
  std::string target;  // for Replace: the name renamed over
  int err = 0;         // for Broken
};

Where Classify(const std::string& path) {
  if (path == "-") return {Kind::Stdout, {}};
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return {Kind::Replace, path};
    return {Kind::Broken, {}, errno};
  }
  std::string target = path;
  if (S_ISLNK(st.st_mode)) {
    // The system follows the chain best, descriptors' links included.
    if (::stat(path.c_str(), &st) != 0) {
      if (errno != ENOENT) return {Kind::Broken, {}, errno};
      if (!FollowLinks(path, target)) return {Kind::Broken, {}, ENOENT};
      return {Kind::Replace, target};  // a dangling link: its target is made
    }
    if (S_ISREG(st.st_mode) && !FollowLinks(path, target)) return {Kind::InPlace, {}};
  }
  if (S_ISDIR(st.st_mode)) return {Kind::Folder, {}};
  if (S_ISREG(st.st_mode)) return {Kind::Replace, target};
  return {Kind::InPlace, {}};
}

std::string FolderTakesFiles(const std::string& path, const std::string& target) {
  const std::string folder = detail::FolderOf(target);
  struct stat st{};
  if (::stat(folder.c_str(), &st) != 0) return Reason(path, errno);
  if (!S_ISDIR(st.st_mode)) return Reason(path, ENOTDIR);
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return Reason(path, errno);
  return {};
}

mode_t NewFileMode() {
  // The mask can only be read by setting it; nothing else in the process
  // creates files meanwhile.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string CloseChecked(int fd, const std::string& path) {
  if (::close(fd) != 0 && errno != EINTR) return Reason(path, errno);
  return {};
}

}  // namespace

Status CheckOutput(const std::string& path) {
  if (path.empty()) return "an output file name cannot be empty";
  const Where w = Classify(path);
  switch (w.kind) {
    case Kind::Stdout: return {};
    case Kind::Folder: return "cannot write " + path + ": it is a folder";
    case Kind::Broken: return Reason(path, w.err);
    case Kind::InPlace:
      if (::access(path.c_str(), W_OK) != 0) return Reason(path, errno);
      return {};
    case Kind::Replace: return FolderTakesFiles(path, w.target);
  }
  return {};
}

bool SameOutput(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa{}, sb{};
  const bool ha = a == "-" ? ::fstat(1, &sa) == 0 : ::stat(a.c_str(), &sa) == 0;
  const bool hb = b == "-" ? ::fstat(1, &sb) == 0 : ::stat(b.c_str(), &sb) == 0;
  if (ha && hb) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (ha != hb || a == "-" || b == "-") return false;
  // Neither exists yet: the same name in the same folder.
  std::string ea, eb;
  if (!FollowLinks(a, ea) || !FollowLinks(b, eb)) return false;
  char ra[PATH_MAX], rb[PATH_MAX];
  if (!::realpath(detail::FolderOf(ea).c_str(), ra) || !::realpath(detail::FolderOf(eb).c_str(), rb)) return false;
  const auto base = [](const std::string& p) { return p.substr(p.find_last_of('/') + 1); };
  return std::string(ra) == rb && base(ea) == base(eb);
}

Status OutputFile::Open(const std::string& path) {
  Abandon();
  path_ = path;
  error_.clear();
  if (path.empty()) return error_ = "an output file name cannot be empty";
  const Where w = Classify(path);
  switch (w.kind) {
    case Kind::Stdout:
      handle_ = 1;
      ownsHandle_ = false;
      return {};
    case Kind::Folder: return error_ = "cannot write " + path + ": it is a folder";
    case Kind::Broken: return error_ = Reason(path, w.err);
    case Kind::InPlace: {
      const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) return error_ = Reason(path, errno);
      // A descriptor link to a regular file (/dev/stdout onto a file the
      // shell opened) adds to what is there instead of overwriting it.
      struct stat st{};
      if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_APPEND);
      handle_ = fd;
      ownsHandle_ = true;
      return {};
    }
    case Kind::Replace: break;
  }
  target_ = w.target;
  struct stat old{};
  keepMode_ = ::stat(target_.c_str(), &old) == 0;
  mode_ = keepMode_ ? (old.st_mode & 07777) : NewFileMode();
  const std::string folder = detail::FolderOf(target_);
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = folder + "/.agg-" + detail::RandomHex() + ".tmp";
    slot_ = detail::RegisterTemporary(temp_);
    const int fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      handle_ = fd;
      ownsHandle_ = true;
      // Owner and group as before, where the process may set them.
      if (keepMode_ && (old.st_uid != ::geteuid() || old.st_gid != ::getegid()))
        (void)!::fchown(fd, old.st_uid, old.st_gid);
      return {};
    }
    const int err = errno;
    detail::ForgetTemporary(slot_);
    slot_ = -1;
    temp_.clear();
    if (err != EEXIST) return error_ = Reason(path, err);
  }
  return error_ = Reason(path, EEXIST);
}

Status OutputFile::Write(std::string_view bytes) {
  if (!error_.empty()) return error_;
  if (handle_ < 0) return error_ = "cannot write " + path_ + ": not open";
  const int fd = static_cast<int>(handle_);
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return error_ = Reason(path_, n < 0 ? errno : EIO);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

Status OutputFile::Commit() {
  if (!error_.empty()) {
    Abandon();
    return error_;
  }
  if (handle_ < 0) return "cannot write " + path_ + ": not open";
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  if (temp_.empty()) {
    if (!ownsHandle_) return {};
    ownsHandle_ = false;
    return CloseChecked(fd, path_);
  }
  std::string err;
  if (::fsync(fd) != 0 && errno != EINVAL) err = Reason(path_, errno);
  if (err.empty() && ::fchmod(fd, mode_) != 0) err = Reason(path_, errno);
  const std::string closed = CloseChecked(fd, path_);
  ownsHandle_ = false;
  if (err.empty()) err = closed;
  if (err.empty() && ::rename(temp_.c_str(), target_.c_str()) != 0) err = Reason(path_, errno);
  if (!err.empty()) ::unlink(temp_.c_str());
  detail::ForgetTemporary(slot_);
  slot_ = -1;
  temp_.clear();
  return err;
}

void OutputFile::Abandon() {
  if (handle_ >= 0 && ownsHandle_) ::close(static_cast<int>(handle_));
  handle_ = -1;
  ownsHandle_ = false;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
  detail::ForgetTemporary(slot_);
  slot_ = -1;
}

}  // namespace io
