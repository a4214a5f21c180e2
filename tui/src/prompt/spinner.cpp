// spinner.cpp: the live line of a spinner and its ticker thread.
//
// The line is redrawn in place. After every draw the cursor rests at the
// start of the line's first row, so the next draw simply writes over it.
// Sequences written:
//   "\r"          back to column 0
//   ESC [ n A     cursor up n rows, to the line's first row
//   ESC [ 1 B     cursor down one row (while erasing row by row)
//   ESC [ 2 K     erase the whole row
// Each line of the message is padded with spaces to the full width of the
// rows it occupies, which removes what a longer earlier draw left behind
// without an erase-to-end-of-line (that one would eat the last column of a
// row that is exactly full, where the cursor waits for the deferred wrap).
#include "prompt/spinner.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "prompt/term.hpp"
#include "prompt/unicode.hpp"

bool spinner_hidden(const EnvSnapshot& env, bool stderr_is_tty) {
  return !stderr_is_tty || env.no_color.has_value() || !env.term.has_value() || *env.term == "dumb";
}

namespace {

constexpr std::chrono::milliseconds kTickInterval{100};
constexpr std::size_t kFallbackColumns = 80;
// A running spinner cycles through all but the last of the frame characters.
constexpr std::size_t kRunningFrames = 3;

// The n-th character of the frame characters.
std::string_view frame_char(std::size_t n) {
  std::string_view chars = sym::spinner_chars.str();
  for (; n > 0; --n) chars.remove_prefix(unicode::decode(chars).length);
  return chars.substr(0, unicode::decode(chars).length);
}

std::string cursor_up(std::size_t n) { return n == 0 ? std::string() : "\x1b[" + std::to_string(n) + "A"; }

}  // namespace

// Everything the caller and the ticker share is behind `mu_`; the ticker
// sleeps on `wake_` and leaves once `finished_` is set.
class ProgressBar::Line {
 public:
  explicit Line(SpinnerTarget target)
      : term_(target.fd, STDIN_FILENO), visible_(target.visible), columns_(target.columns) {}
  ~Line() { finish({}); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void start(std::string message) {
    std::lock_guard lock(mu_);
    if (finished_ || !visible_) return;
    message_ = std::move(message);
    started_ = true;
    write(render());
    if (!ticker_.joinable()) ticker_ = std::thread([this] { tick(); });
  }

  /// Erases the live line, writes `final_text` (if any) as permanent lines in
  /// its place and stops the ticker; later calls do nothing.
  void finish(std::string_view final_text) {
    {
      std::lock_guard lock(mu_);
      if (finished_) return;
      finished_ = true;
      if (visible_) {
        std::string out = erase();
        if (!final_text.empty()) {
          out += '\r';
          for (std::string_view line : theme::lines_of(final_text, false)) {
            out += line;
            out += '\n';
          }
          // The live line is drawn below the final lines and erased again.
          out += render();
          out += erase();
        }
        write(out);
      }
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
  }

 private:
  void tick() {
    std::unique_lock lock(mu_);
    while (!wake_.wait_for(lock, kTickInterval, [this] { return finished_; })) {
      ++ticks_;
      write(render());
    }
  }

  void write(std::string_view bytes) {
    // A spinner has nobody to tell of a failed write; the next draw tries again.
    if (!bytes.empty()) (void)term_.write_str(bytes);
  }

  std::size_t columns() const {
    if (columns_) return *columns_ == 0 ? kFallbackColumns : *columns_;
    const auto size = term_.size();
    return size ? size->cols : kFallbackColumns;
  }

  /// Bytes that write the current line over the previous one.
  std::string render() {
    if (!started_) return {};
    const std::size_t cols = columns();
    const std::string text =
        Style().magenta().apply(frame_char(ticks_ % kRunningFrames), colours_on_stderr()) + "  " + message_;
    std::vector<std::string_view> lines = theme::lines_of(text, false);
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
    // Rows of a taller previous draw that this one does not cover.
    std::size_t extra = 0;
    for (; rows + extra < rows_drawn_; ++extra) out += "\n\x1b[2K";
    out += '\r';
    out += cursor_up(rows - 1 + extra);
    rows_drawn_ = rows;
    return out;
  }

  /// Bytes that erase the live line and leave the cursor where it began.
  std::string erase() {
    if (rows_drawn_ == 0) return {};
    std::string out = "\r";
    for (std::size_t r = 0; r < rows_drawn_; ++r) {
      out += "\x1b[2K";
      if (r + 1 < rows_drawn_) out += "\x1b[1B";
    }
    out += cursor_up(rows_drawn_ - 1);
    rows_drawn_ = 0;
    return out;
  }

  const Term term_;
  const bool visible_;
  const std::optional<std::size_t> columns_;

  std::mutex mu_;
  std::condition_variable wake_;
  std::string message_;
  bool started_ = false;
  bool finished_ = false;
  std::size_t ticks_ = 0;
  std::size_t rows_drawn_ = 0;
  std::thread ticker_;
};

ProgressBar::ProgressBar()
    : ProgressBar(SpinnerTarget{2, !spinner_hidden(EnvSnapshot::from_environment(), ::isatty(2) == 1), std::nullopt}) {}

ProgressBar::ProgressBar(SpinnerTarget target) : line_(std::make_unique<Line>(target)) {}

ProgressBar::~ProgressBar() = default;
ProgressBar::ProgressBar(ProgressBar&&) noexcept = default;
ProgressBar& ProgressBar::operator=(ProgressBar&&) noexcept = default;

void ProgressBar::start(std::string_view message) {
  // Nothing is asked while a spinner runs: what is typed meanwhile answers no prompt.
  keyboard::unattended();
  if (line_) line_->start(theme::format_progress_message(message));
}

void ProgressBar::finish_with_state(std::string_view message, const ThemeState& state) {
  if (line_) line_->finish(message.empty() ? std::string() : theme::format_progress_with_state(message, state));
}

ProgressBar spinner() { return ProgressBar(); }
