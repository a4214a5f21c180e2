#include "prompt/sys.hpp"

#include <unistd.h>

#include <utility>

namespace sys {

Result<void> write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = retry_eintr([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return fail_errno(errno);
    if (n == 0) return fail(Error(ErrorKind::System, "failed to write whole buffer"));
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = other.release();
  }
  return *this;
}

int Fd::release() { return std::exchange(fd_, -1); }

void Fd::reset() {
  if (fd_ >= 0) ::close(std::exchange(fd_, -1));
}

}  // namespace sys
