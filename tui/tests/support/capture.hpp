// capture.hpp: what code under test writes, kept in a file that the test
// reads back at any moment: a terminal whose screen is a file, and a
// standard stream redirected into one. Header only, so that the sanitizer
// builds that link nothing else can use it too.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "prompt/live_area.hpp"
#include "prompt/sys.hpp"
#include "prompt/term.hpp"

/// An unnamed file; bytes() may be read while another thread writes.
class CaptureFile {
 public:
  CaptureFile() : file_(std::tmpfile()) {}
  ~CaptureFile() { std::fclose(file_); }
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  int fd() const { return fileno(file_); }
  /// Everything written so far.
  std::string bytes() const {
    std::string out;
    char buf[65536];
    for (ssize_t n; (n = ::pread(fd(), buf, sizeof buf, static_cast<off_t>(out.size()))) > 0;)
      out.append(buf, static_cast<std::size_t>(n));
    return out;
  }

 private:
  std::FILE* file_;
};

/// A terminal `cols` columns wide whose output lands in a CaptureFile; no
/// key is ever typed. It stands for its own live area where one is wanted.
class FileTerm : public TermIo {
 public:
  explicit FileTerm(unsigned short cols) : cols_(cols) {}
  operator LiveArea&() { return area_; }  // NOLINT: implicit on purpose
  std::string bytes() const { return file_.bytes(); }

  bool is_term() const override { return true; }
  Result<void> write_str(std::string_view text) const override { return sys::write_all(file_.fd(), text); }
  Result<void> hide_cursor() const override { return write_str("\x1b[?25l"); }
  Result<void> show_cursor() const override { return write_str("\x1b[?25h"); }
  Result<Key> read_key() const override { return fail(hung_up()); }
  Result<std::string> read_bytes(std::size_t) const override { return fail(hung_up()); }
  void hold_input() const override {}
  Result<void> release_input() const override { return {}; }
  bool key_waiting() const override { return false; }
  std::optional<TermSize> size() const override { return TermSize{24, cols_}; }

 private:
  static Error hung_up() { return Error(ErrorKind::UnexpectedEof, "Reached end of file"); }
  CaptureFile file_;
  unsigned short cols_;
  LiveArea area_{*this};
};

/// Standard output or error (`fd`) goes to a CaptureFile until restore() or
/// the end of the scope.
class Redirect {
 public:
  explicit Redirect(int fd) : fd_(fd), saved_(::dup(fd)) {
    std::fflush(fd == STDOUT_FILENO ? stdout : stderr);
    ::dup2(file_.fd(), fd);
  }
  ~Redirect() { restore(); }
  Redirect(const Redirect&) = delete;
  Redirect& operator=(const Redirect&) = delete;

  /// Puts the stream back; returns all it received meanwhile.
  std::string restore() {
    if (saved_ >= 0) {
      ::dup2(saved_, fd_);
      ::close(saved_);
      saved_ = -1;
    }
    return file_.bytes();
  }

 private:
  CaptureFile file_;
  int fd_;
  int saved_;
};
