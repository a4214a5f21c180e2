// capture.hpp: what code under test writes to a standard stream, kept in a
// file that the test reads back.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>

/// Standard output or error (`fd`) goes to a file until restore() or the end
/// of the scope.
class Redirect {
 public:
  explicit Redirect(int fd) : file_(std::tmpfile()), fd_(fd), saved_(::dup(fd)) {
    std::fflush(fd == STDOUT_FILENO ? stdout : stderr);
    ::dup2(fileno(file_), fd);
  }
  ~Redirect() {
    restore();
    std::fclose(file_);
  }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

  /// Puts the stream back; returns all it received meanwhile.
  std::string restore() {
    if (saved_ >= 0) {
      ::dup2(saved_, fd_);
      ::close(saved_);
      saved_ = -1;
    }
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = ::pread(fileno(file_), buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    return out;
  }

 private:
  std::FILE* file_;
  int fd_;
  int saved_;
};
