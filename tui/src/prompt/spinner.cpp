// spinner.cpp: ProgressBar on top of a small live-line engine.
//
// The engine keeps one live frame at the bottom of the output and redraws it
// in place. After every draw the cursor rests at the start of the frame's
// first row, so the next draw simply writes over it. Sequences written:
//   "\r"          back to column 0
//   ESC [ n A     cursor up n rows, to the frame's first row
//   ESC [ 1 B     cursor down one row (while erasing row by row)
//   ESC [ 2 K     erase the whole row
// A frame's lines are padded with spaces to the full width of the rows they
// occupy, which removes what a longer earlier frame left behind without an
// erase-to-end-of-line (that one would eat the last column of a row that is
// exactly full, where the cursor waits for the deferred wrap).
#include "prompt/spinner.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "prompt/unicode.hpp"

bool spinner_hidden(const EnvSnapshot& env, bool stderr_is_tty) {
  return !stderr_is_tty || env.no_color.has_value() || !env.term.has_value() ||
         *env.term == "dumb";
}

bool RateLimiter::allow(Clock::time_point now) {
  if (now < prev_) return false;
  const auto elapsed = now - prev_;
  const auto intervals = elapsed / kInterval;
  if (tokens_ == 0 && intervals == 0) return false;
  const auto refilled = static_cast<std::uint64_t>(tokens_) + static_cast<std::uint64_t>(intervals);
  tokens_ = static_cast<unsigned>(std::min<std::uint64_t>(refilled, kMaxTokens)) - 1;
  // The part of an interval not yet turned into a token counts towards the next.
  prev_ = now - elapsed % kInterval;
  return true;
}

namespace {

constexpr std::string_view kDefaultSpinnerTemplate = "{msg}";
constexpr std::chrono::milliseconds kTickInterval{100};
constexpr std::size_t kFallbackColumns = 80;

/// One piece of a parsed line template.
struct Piece {
  enum Kind { Literal, Spinner, Message } kind;
  std::string text;       // Literal only
  bool magenta = false;   // Spinner only
};

/// The parsed template with the frame ("tick") strings and the progress
/// characters, which a spinner's template never shows.
struct LineStyle {
  std::vector<Piece> pieces;
  std::vector<std::string> ticks;
  std::vector<std::string> progress_chars;
};

/// The characters of a UTF-8 text, each as its own string.
std::vector<std::string> split_chars(std::string_view text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t n = unicode::decode(text.substr(i)).length;
    if (n == 0) n = 1;
    out.emplace_back(text.substr(i, n));
    i += n;
  }
  return out;
}

/// Parses the two placeholders the spinner uses, "{msg}" and "{spinner}" with
/// an optional ":.magenta" style; anything else in braces is not a template
/// this engine knows.
std::optional<std::vector<Piece>> parse_template(std::string_view tmpl) {
  std::vector<Piece> pieces;
  std::string literal;
  std::size_t i = 0;
  while (i < tmpl.size()) {
    if (tmpl[i] != '{') {
      literal += tmpl[i++];
      continue;
    }
    const std::size_t close = tmpl.find('}', i);
    if (close == std::string_view::npos) return std::nullopt;
    const std::string_view field = tmpl.substr(i + 1, close - i - 1);
    Piece piece{Piece::Literal, {}, false};
    if (field == "msg") {
      piece.kind = Piece::Message;
    } else if (field == "spinner") {
      piece.kind = Piece::Spinner;
    } else if (field == "spinner:.magenta") {
      piece.kind = Piece::Spinner;
      piece.magenta = true;
    } else {
      return std::nullopt;
    }
    if (!literal.empty()) pieces.push_back({Piece::Literal, std::exchange(literal, {}), false});
    pieces.push_back(std::move(piece));
    i = close + 1;
  }
  if (!literal.empty()) pieces.push_back({Piece::Literal, std::move(literal), false});
  return pieces;
}

void write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // a spinner has nobody to tell; the next draw tries again
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::string cursor_up(std::size_t n) {
  return n == 0 ? std::string() : "\x1b[" + std::to_string(n) + "A";
}

/// The engine's bar: everything the caller and the ticker share, behind `mu`.
struct BarState {
  explicit BarState(SpinnerTarget t) : target(t), limiter(RateLimiter::Clock::now()) {}

  std::mutex mu;
  std::string message;
  std::uint64_t tick = 0;
  bool finished = false;
  LineStyle style;
  SpinnerTarget target;
  RateLimiter limiter;
  std::size_t rows_drawn = 0;

  std::size_t columns() const {
    if (target.columns) return *target.columns == 0 ? kFallbackColumns : *target.columns;
    winsize ws{};
    if (::ioctl(target.fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col != 0 && ws.ws_row != 0)
      return ws.ws_col;
    return kFallbackColumns;
  }

  std::string frame_string() const {
    if (style.ticks.empty()) return {};
    if (finished || style.ticks.size() == 1) return style.ticks.back();
    return style.ticks[tick % (style.ticks.size() - 1)];
  }

  std::string expand() const {
    std::string out;
    for (const Piece& p : style.pieces) {
      switch (p.kind) {
        case Piece::Literal: out += p.text; break;
        case Piece::Message: out += message; break;
        case Piece::Spinner: {
          const std::string frame = frame_string();
          out += p.magenta ? Style().magenta().apply(frame, colours_on_stderr()) : frame;
          break;
        }
      }
    }
    return out;
  }

  /// Bytes that erase the live frame and leave the cursor where it began.
  std::string erase_frame() {
    if (rows_drawn == 0) return {};
    std::string out = "\r";
    for (std::size_t r = 0; r < rows_drawn; ++r) {
      out += "\x1b[2K";
      if (r + 1 < rows_drawn) out += "\x1b[1B";
    }
    out += cursor_up(rows_drawn - 1);
    rows_drawn = 0;
    return out;
  }

  /// Bytes that write the current frame over the previous one.
  std::string render_frame() {
    if (style.pieces.empty()) return {};
    const std::size_t cols = columns();
    const std::string text = expand();
    std::vector<std::string_view> lines = theme::lines_of(text, false);
    if (lines.empty()) lines.emplace_back();
    std::string out = "\r";
    std::size_t rows = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t width = unicode::display_width(lines[i]);
      const std::size_t line_rows = width == 0 ? 1 : (width + cols - 1) / cols;
      out += lines[i];
      out.append(line_rows * cols - width, ' ');
      if (i + 1 < lines.size()) out += '\n';
      rows += line_rows;
    }
    // Rows of a taller previous frame that this one does not cover.
    std::size_t extra = 0;
    for (; rows + extra < rows_drawn; ++extra) out += "\n\x1b[2K";
    out += '\r';
    out += cursor_up(rows - 1 + extra);
    rows_drawn = rows;
    return out;
  }

  /// Draws the frame; an unforced draw asks the rate limiter first.
  void draw(bool force) {
    if (!target.visible) return;
    if (!force && !limiter.allow(RateLimiter::Clock::now())) return;
    const std::string bytes = render_frame();
    if (!bytes.empty()) write_all(target.fd, bytes);
  }
};

/// Shared between a bar and its ticker thread: the stop signal.
struct TickerControl {
  std::mutex mu;
  std::condition_variable cv;
  bool stop = false;
};

/// The ticker holds the bar only weakly and takes its lock only to tick and
/// draw, never while it waits.
void run_ticker(std::weak_ptr<BarState> weak, std::shared_ptr<TickerControl> control,
                std::chrono::milliseconds interval) {
  std::unique_lock wait_lock(control->mu);
  while (!control->cv.wait_for(wait_lock, interval, [&] { return control->stop; })) {
    wait_lock.unlock();
    {
      const std::shared_ptr<BarState> bar = weak.lock();
      if (!bar) return;
      std::lock_guard bar_lock(bar->mu);
      if (bar->finished) return;
      ++bar->tick;
      bar->draw(false);
    }
    wait_lock.lock();
  }
}

/// The engine bar with its ticker thread. Destroying it is its default
/// finish: finish and clear.
class EngineBar {
 public:
  explicit EngineBar(SpinnerTarget target) : state_(std::make_shared<BarState>(target)) {}
  ~EngineBar() { finish_and_clear(); }
  EngineBar(const EngineBar&) = delete;
  EngineBar& operator=(const EngineBar&) = delete;

  void set_style(LineStyle style) {
    std::lock_guard lock(state_->mu);
    state_->style = std::move(style);
  }

  void set_message(std::string message) {
    std::lock_guard lock(state_->mu);
    state_->message = std::move(message);
    state_->draw(false);
  }

  void enable_steady_tick(std::chrono::milliseconds interval) {
    stop_ticker();
    {
      std::lock_guard lock(state_->mu);
      if (state_->finished || !state_->target.visible) return;
    }
    control_ = std::make_shared<TickerControl>();
    ticker_ = std::thread(run_ticker, std::weak_ptr<BarState>(state_), control_, interval);
  }

  /// Writes `text` as permanent lines where the live frame was and draws the
  /// frame again below them, in one write.
  void println(std::string_view text) {
    std::lock_guard lock(state_->mu);
    if (!state_->target.visible) return;
    std::string out = state_->erase_frame();
    out += '\r';
    for (std::string_view line : theme::lines_of(text, false)) {
      out += line;
      out += '\n';
    }
    if (!state_->finished) out += state_->render_frame();
    write_all(state_->target.fd, out);
  }

  void finish_and_clear() {
    {
      std::lock_guard lock(state_->mu);
      if (!state_->finished) {
        state_->finished = true;
        if (state_->target.visible) {
          const std::string out = state_->erase_frame();
          if (!out.empty()) write_all(state_->target.fd, out);
        }
      }
    }
    stop_ticker();
  }

 private:
  void stop_ticker() {
    if (!ticker_.joinable()) return;
    {
      std::lock_guard lock(control_->mu);
      control_->stop = true;
    }
    control_->cv.notify_all();
    ticker_.join();
    control_.reset();
  }

  std::shared_ptr<BarState> state_;
  std::shared_ptr<TickerControl> control_;
  std::thread ticker_;
};

/// "{spinner:.magenta}", the gap, then the template; ungrouped bars get two
/// spaces.
std::string format_progress_start(std::string_view tmpl, bool grouped, [[maybe_unused]] bool last) {
  std::string line = "{spinner:.magenta}";
  line += grouped ? " " : "  ";
  line += tmpl;
  return theme::format_progress_with_state(line, ThemeState::Active);
}

}  // namespace

struct ProgressBar::Impl {
  explicit Impl(SpinnerTarget target) : bar(target) {}

  std::shared_mutex state_mu;  // taken before the engine's own lock
  std::string tmpl{kDefaultSpinnerTemplate};
  bool grouped = false;
  bool last = false;
  bool stopped = false;
  EngineBar bar;
};

ProgressBar::ProgressBar()
    : ProgressBar(SpinnerTarget{
          2, !spinner_hidden(EnvSnapshot::from_environment(), ::isatty(2) == 1), std::nullopt}) {}

ProgressBar::ProgressBar(SpinnerTarget target) : impl_(std::make_shared<Impl>(target)) {}

ProgressBar::~ProgressBar() = default;
ProgressBar::ProgressBar(ProgressBar&&) noexcept = default;
ProgressBar& ProgressBar::operator=(ProgressBar&&) noexcept = default;

void ProgressBar::start(std::string_view message) {
  if (!impl_) return;
  std::unique_lock lock(impl_->state_mu);
  if (impl_->stopped) return;
  auto pieces = parse_template(format_progress_start(impl_->tmpl, impl_->grouped, impl_->last));
  if (!pieces) std::abort();  // the template is fixed; failing to parse it is a bug
  impl_->bar.set_style(LineStyle{std::move(*pieces), split_chars(sym::spinner_chars.str()),
                                 split_chars(sym::progress_chars.str())});
  impl_->bar.set_message(theme::format_progress_message(message));
  impl_->bar.enable_steady_tick(kTickInterval);
}

void ProgressBar::finish_with_state(std::string_view message, const ThemeState& state) {
  if (!impl_) return;
  std::unique_lock lock(impl_->state_mu);
  if (impl_->stopped) return;
  impl_->stopped = true;
  const std::string text = theme::format_progress_with_state(message, state);
  if (!message.empty()) impl_->bar.println(text);
  impl_->bar.finish_and_clear();
}

ProgressBar spinner() { return ProgressBar(); }
