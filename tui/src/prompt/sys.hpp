// sys.hpp: the system calls every other file goes through: a call retried
// after a signal interrupted it, a write of every byte, and a descriptor
// that closes itself.
#pragma once

#include <cerrno>
#include <string_view>

#include "prompt/error.hpp"

namespace sys {

/// Repeats a system call that a signal interrupted before it did anything.
template <class Call>
auto retry_eintr(Call call) {
  for (;;) {
    auto r = call();
    if (r != -1 || errno != EINTR) return r;
  }
}

/// Writes all of `bytes` to `fd`; the first failing write's error is returned.
Result<void> write_all(int fd, std::string_view bytes);

/// Owns a descriptor and closes it exactly once: on destruction or reset().
/// close() is never retried: on Linux the descriptor is gone even after EINTR.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  /// Hands the descriptor over; this no longer closes it.
  int release();
  /// Closes the descriptor now, if any.
  void reset();
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace sys
