// The outcome of an output or image routine: success, or a one-line reason
// naming what failed.  A caller cannot drop it unread.
#pragma once

#include <string>
#include <utility>

namespace io {

class [[nodiscard]] Status {
 public:
  Status() = default;  // success
  // A failure with its reason; an empty reason is success, so that code
  // that builds a reason step by step can return what it has.
  Status(std::string reason) : reason_(std::move(reason)) {}  // NOLINT: implicit on purpose
  Status(const char* reason) : reason_(reason) {}             // NOLINT

  bool ok() const { return reason_.empty(); }
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

}  // namespace io
