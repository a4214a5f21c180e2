// term.cpp: the terminal handle: unbuffered writes, line clearing, the
// cursor, the window size, and reading keys in raw mode.
//
// Escape sequences the kit writes through this handle:
//   ESC [ n A      cursor up n lines                  clear_lines_sequence
//   CR ESC [ 2 K   column 0, erase the whole line     clear_lines_sequence
//   ESC [ 1 B      cursor down one line               clear_lines_sequence
//   ESC [ ? 25 l   hide the cursor                    hide_cursor
//   ESC [ ? 25 h   show the cursor                    show_cursor; before Ctrl-C raises SIGINT
//   ESC [ … m      colours and attributes, closed by ESC [ 0 m (built by the styles)
// The signal guard writes ESC [ ? 25 h to standard error when a signal ends
// the process while the cursor is hidden.
#include "prompt/term.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <string>
#include <utility>

#include "prompt/signals.hpp"
#include "prompt/sys.hpp"

namespace {

using sys::retry_eintr;
using sys::write_all;

Error end_of_input() { return Error(ErrorKind::UnexpectedEof, "Reached end of file"); }

// The descriptor keys are read from: the caller's input when it is a
// terminal, else /dev/tty opened for this one key and closed afterwards.
class KeyInput {
 public:
  static Result<KeyInput> open(int in_fd) {
    if (::isatty(in_fd) == 1) return KeyInput(in_fd, sys::Fd());
    sys::Fd tty(retry_eintr([] { return ::open("/dev/tty", O_RDWR | O_CLOEXEC); }));
    if (!tty) return fail_errno(errno);
    const int fd = tty.get();
    return KeyInput(fd, std::move(tty));
  }
  int fd() const { return fd_; }

 private:
  KeyInput(int fd, sys::Fd owned) : fd_(fd), owned_(std::move(owned)) {}
  int fd_;
  sys::Fd owned_;  ///< /dev/tty when it was opened here
};

// The keyboard between prompts (keyboard::keep_quiet): the terminal whose echo
// is off, its attributes from before the first prompt, and whether keys typed
// since then answer no prompt. While it is quiet the signal guard holds those
// attributes, and raw input leaves the registration alone.
struct Keyboard {
  bool wanted = false;
  int fd = -1;    ///< the quiet terminal, -1 until the first prompt
  sys::Fd owned;  ///< /dev/tty, when the key input is not standard input
  termios original{};
  std::atomic<bool> unattended{false};

  bool quiet() const { return fd >= 0; }

  // Echo off for good, from the first prompt on. Canonical input and the
  // signal keys stay as they were: nobody reads between prompts, and Ctrl-C
  // must still end the wizard and its child. A terminal that refuses stays
  // as it is.
  void silence(int in_fd) {
    if (!wanted || quiet()) return;
    int tty = in_fd;
    if (::isatty(in_fd) != 1) {
      owned = sys::Fd(retry_eintr([] { return ::open("/dev/tty", O_RDWR | O_CLOEXEC); }));
      tty = owned.get();
    }
    termios t{};
    if (tty < 0 || ::tcgetattr(tty, &t) != 0) {
      owned.reset();
      return;
    }
    original = t;
    signal_guard::set_raw_terminal(tty, &original);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    if (retry_eintr([&] { return ::tcsetattr(tty, TCSADRAIN, &t); }) != 0) {
      signal_guard::set_raw_terminal(tty, nullptr);
      owned.reset();
      return;
    }
    fd = tty;
  }
};

Keyboard& keyboard_state() {
  static Keyboard state;
  return state;
}

// Raw input for one key, or for as long as a prompt holds it. Output flags stay as they were, so
// the terminal keeps turning "\n" into CR LF for anything written meanwhile.
// TCSADRAIN lets output already queued finish under the old settings first.
class RawInput {
 public:
  static Result<RawInput> enter(int fd) {
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0) return fail_errno(errno);
    termios raw = saved;
    ::cfmakeraw(&raw);
    raw.c_oflag = saved.c_oflag;
    // Registered before applying, so a signal in between still restores.
    const bool guarded = !keyboard_state().quiet();
    if (guarded) signal_guard::set_raw_terminal(fd, &saved);
    if (retry_eintr([&] { return ::tcsetattr(fd, TCSADRAIN, &raw); }) != 0) {
      const int err = errno;
      if (guarded) signal_guard::set_raw_terminal(fd, nullptr);
      return fail_errno(err);
    }
    return RawInput(fd, saved);
  }
  RawInput(RawInput&& other) noexcept : fd_(std::exchange(other.fd_, -1)), saved_(other.saved_) {}
  RawInput& operator=(RawInput&&) = delete;
  ~RawInput() { (void)leave(); }

  /// Puts the saved attributes back; the caller sees a failure.
  Result<void> leave() {
    if (fd_ < 0) return {};
    const int fd = std::exchange(fd_, -1);
    const int r = retry_eintr([&] { return ::tcsetattr(fd, TCSADRAIN, &saved_); });
    const int err = errno;
    if (!keyboard_state().quiet()) signal_guard::set_raw_terminal(fd, nullptr);
    if (r != 0) return fail_errno(err);
    return {};
  }

 private:
  RawInput(int fd, const termios& saved) : fd_(fd), saved_(saved) {}
  int fd_;
  termios saved_;
};

// Bytes read from the key input but not yet decoded. One read takes all that
// is waiting (the three bytes of an arrow key at once, a paste in blocks), and
// what the key being decoded leaves is kept for the next key, whichever
// prompt reads it. Only the main thread reads keys.
struct TypedAhead {
  std::array<unsigned char, 4096> bytes;
  std::size_t at = 0;
  std::size_t end = 0;
  // The terminal they came from: its device, and when that was made (a
  // pseudo-terminal's number is reused once it is closed).
  dev_t device = 0;
  timespec made{};

  bool empty() const { return at == end; }
  void clear() { at = end = 0; }
  std::size_t available() const { return end - at; }

  // Keys are about to be read from `fd`: bytes typed on another terminal
  // are not its keys.
  void attach(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) st = {};
    if (st.st_rdev == device && st.st_ctim.tv_sec == made.tv_sec && st.st_ctim.tv_nsec == made.tv_nsec) return;
    device = st.st_rdev;
    made = st.st_ctim;
    clear();
  }

  // Blocks until at least one byte has been read from `fd`; a descriptor
  // left non-blocking is waited on with poll.
  Result<void> fill(int fd) {
    for (;;) {
      const ssize_t n = retry_eintr([&] { return ::read(fd, bytes.data(), bytes.size()); });
      if (n > 0) {
        at = 0;
        end = static_cast<std::size_t>(n);
        return {};
      }
      if (n == 0) return fail(end_of_input());
      if (errno != EAGAIN && errno != EWOULDBLOCK) return fail_errno(errno);
      pollfd p{fd, POLLIN, 0};
      if (retry_eintr([&] { return ::poll(&p, 1, -1); }) < 0) return fail_errno(errno);
    }
  }
};

TypedAhead& typed_ahead() {
  static TypedAhead bytes;
  return bytes;
}

// Whether a byte can be read from `fd` within `timeout_ms`.
bool readable(int fd, int timeout_ms = 0) {
  pollfd p{fd, POLLIN, 0};
  return retry_eintr([&] { return ::poll(&p, 1, timeout_ms); }) > 0;
}

// A terminal sends a character's bytes together, but a read can end inside
// one when the kernel's input buffer (4095 bytes) is full, as in a paste; the
// rest follows within microseconds.
constexpr int kRestOfCharacterMs = 50;
// The bytes of a key's escape sequence are sent together too, but over SSH or
// a slow line they often come in two reads, tens of milliseconds apart. A
// lone Esc is told from the start of a sequence only once this has passed.
constexpr int kRestOfSequenceMs = 200;

// Bytes from a terminal descriptor in raw mode, through the typed-ahead bytes.
class FdSource : public ByteSource {
 public:
  explicit FdSource(int fd) : fd_(fd) {}

  // Without `wait`, a byte is taken only when it arrives within the wait for
  // the rest of a sequence: the decoder must be able to tell "ESC alone" from
  // "ESC [ ..." without blocking.
  Result<std::optional<std::uint8_t>> next(bool wait) override {
    TypedAhead& in = typed_ahead();
    if (in.empty()) {
      if (!wait && !readable(fd_, kRestOfSequenceMs)) return std::optional<std::uint8_t>{};
      if (auto r = in.fill(fd_); !r) return fail(std::move(r).error());
    }
    return std::optional<std::uint8_t>(in.bytes[in.at++]);
  }

  // The first byte is waited for; the rest only briefly, so that a
  // character split between two reads still comes whole.
  Result<std::string> read_some(std::size_t count) override {
    TypedAhead& in = typed_ahead();
    std::string out;
    while (out.size() < count) {
      if (in.empty()) {
        if (!out.empty() && !readable(fd_, kRestOfCharacterMs)) break;
        if (auto r = in.fill(fd_); !r) return fail(std::move(r).error());
      }
      const std::size_t n = std::min(count - out.size(), in.available());
      out.append(reinterpret_cast<const char*>(in.bytes.data() + in.at), n);
      in.at += n;
    }
    return out;
  }

  // The byte next() took is still in the typed-ahead buffer.
  void unread_last() override { --typed_ahead().at; }

 private:
  int fd_;
};

constexpr std::string_view kHideCursor = "\x1b[?25l";
constexpr std::string_view kShowCursor = "\x1b[?25h";

}  // namespace

// The key input and its raw mode, for one read or for as long as held.
struct Term::Held {
  bool holding = false;
  std::optional<KeyInput> input;
  std::optional<RawInput> raw;

  Result<void> leave() {
    Result<void> r;
    if (raw) r = raw->leave();
    raw.reset();
    input.reset();
    return r;
  }
};

Result<std::shared_ptr<Term::Held>> Term::raw_input() const {
  std::shared_ptr<Held> held = held_ && held_->holding ? held_ : std::make_shared<Held>();
  if (held->raw) return held;
  auto input = KeyInput::open(in_fd_);
  if (!input) return fail(std::move(input).error());
  held->input.emplace(std::move(*input));
  typed_ahead().attach(held->input->fd());
  auto raw = RawInput::enter(held->input->fd());
  if (!raw) {
    held->input.reset();
    return fail(std::move(raw).error());
  }
  held->raw.emplace(std::move(*raw));
  return held;
}

void Term::hold_input() const {
  Keyboard& keys = keyboard_state();
  keys.silence(in_fd_);
  if (keys.quiet() && keys.unattended.exchange(false)) {
    // Typed while nothing was asked: no answer to this prompt.
    (void)::tcflush(keys.fd, TCIFLUSH);
    typed_ahead().clear();
  }
  if (!held_) held_ = std::make_shared<Held>();
  held_->holding = true;
}

Result<void> Term::release_input() const {
  if (!held_) return {};
  held_->holding = false;
  return held_->leave();
}

bool Term::key_waiting() const {
  if (!held_ || !held_->raw) return false;
  return !typed_ahead().empty() || readable(held_->input->fd());
}

Term Term::stderr_term() { return Term(STDERR_FILENO, STDIN_FILENO); }

Term::Term(int out_fd, int in_fd) : out_fd_(out_fd), in_fd_(in_fd), is_term_(::isatty(out_fd) == 1) {}

Result<void> Term::write_str(std::string_view text) const { return write_all(out_fd_, text); }

std::string clear_lines_sequence(std::size_t n) {
  if (n == 0) return {};
  const std::string up = "\x1b[" + std::to_string(n) + "A";
  std::string out = up;
  for (std::size_t i = 0; i < n; ++i) out += "\r\x1b[2K\x1b[1B";
  out += up;
  return out;
}

// The signal guard shows the cursor on standard error only, so only a
// handle on standard error tells it about the cursor.
Result<void> Term::hide_cursor() const {
  auto r = write_all(out_fd_, kHideCursor);
  if (r && out_fd_ == STDERR_FILENO) signal_guard::set_cursor_hidden(true);
  return r;
}

Result<void> Term::show_cursor() const {
  auto r = write_all(out_fd_, kShowCursor);
  if (r && out_fd_ == STDERR_FILENO) signal_guard::set_cursor_hidden(false);
  return r;
}

Result<Key> Term::read_key() const {
  if (!is_term_) return Key::of(Key::Kind::Unknown);
  auto raw = raw_input();
  if (!raw) return fail(std::move(raw).error());
  FdSource source((*raw)->input->fd());
  Result<Key> key = decode_key(source);
  const bool held = *raw == held_;
  if (!held || (key && key->kind == Key::Kind::CtrlC)) {
    if (auto restored = (*raw)->leave(); !restored) return fail(std::move(restored).error());
  }
  if (key && key->kind == Key::Kind::CtrlC) {
    // Ctrl-C is no key: the terminal is already back to normal, the cursor
    // is shown, and the interrupt ends the process as it would in a shell.
    (void)show_cursor();
    std::raise(SIGINT);
    return fail(Error(ErrorKind::Interrupted, "read interrupted"));
  }
  return key;
}

Result<std::string> Term::read_bytes(std::size_t count) const {
  if (!is_term_ || count == 0) return std::string();
  auto raw = raw_input();
  if (!raw) return fail(std::move(raw).error());
  FdSource source((*raw)->input->fd());
  Result<std::string> bytes = std::string();
  while (bytes && bytes->size() < count) {
    auto more = source.read_some(count - bytes->size());
    if (more) {
      *bytes += *more;
    } else {
      bytes = fail(std::move(more).error());
    }
  }
  if (*raw != held_) {
    if (auto restored = (*raw)->leave(); !restored) return fail(std::move(restored).error());
  }
  return bytes;
}

namespace keyboard {

void keep_quiet() { keyboard_state().wanted = true; }

void unattended() { keyboard_state().unattended = true; }

Result<void> restore() {
  Keyboard& keys = keyboard_state();
  keys.wanted = false;
  if (!keys.quiet()) return {};
  const int fd = std::exchange(keys.fd, -1);
  const int r = retry_eintr([&] { return ::tcsetattr(fd, TCSADRAIN, &keys.original); });
  const int err = errno;
  signal_guard::set_raw_terminal(fd, nullptr);
  keys.owned.reset();
  if (r != 0) return fail_errno(err);
  return {};
}

}  // namespace keyboard

std::optional<TermSize> Term::size() const {
  if (!is_term_) return std::nullopt;
  winsize ws{};
  if (::ioctl(out_fd_, TIOCGWINSZ, &ws) != 0) return std::nullopt;
  if (ws.ws_row == 0 || ws.ws_col == 0) return std::nullopt;
  return TermSize{ws.ws_row, ws.ws_col};
}
