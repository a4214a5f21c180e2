// spinner.cpp: the spinner's line and its ticker thread. The line is a frame
// of the live area, which erases it by the rows the terminal folded it into.
#include "prompt/spinner.hpp"

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "prompt/term.hpp"
#include "prompt/unicode.hpp"

bool spinner_hidden(const EnvSnapshot& env, bool stderr_is_tty) {
  return !stderr_is_tty || env.no_color.has_value() || !env.term.has_value() || *env.term == "dumb";
}

namespace {

constexpr std::chrono::milliseconds kTickInterval{100};
// A running spinner cycles through all but the last of the frame characters.
constexpr std::size_t kRunningFrames = 3;

// The n-th character of the frame characters.
std::string_view frame_char(std::size_t n) {
  std::string_view chars = sym::spinner_chars.str();
  for (; n > 0; --n) chars.remove_prefix(unicode::decode(chars).length);
  return chars.substr(0, unicode::decode(chars).length);
}

// `text` as lines that each end in a line feed.
std::string as_lines(std::string_view text) {
  std::string out;
  for (std::string_view line : theme::lines_of(text, false)) {
    out += line;
    out += '\n';
  }
  return out;
}

}  // namespace

// Everything the caller and the ticker share is behind `mu_`; the ticker
// sleeps on `wake_` and leaves once `finished_` is set. `area_` is null for a
// hidden spinner.
class ProgressBar::Line {
 public:
  explicit Line(LiveArea* area) : area_(area) {}
  ~Line() { finish({}); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  void start(std::string message) {
    std::lock_guard lock(mu_);
    if (finished_ || !area_) return;
    message_ = std::move(message);
    started_ = true;
    draw();
    if (!ticker_.joinable()) ticker_ = std::thread([this] { tick(); });
  }

  /// Writes `final_text` (if any) as permanent lines in the live line's
  /// place and stops the ticker; later calls do nothing.
  void finish(std::string_view final_text) {
    {
      std::lock_guard lock(mu_);
      if (finished_) return;
      finished_ = true;
      // The final lines go above the live line, which is then erased. A
      // spinner has nobody to tell of a failed write.
      if (area_ && !final_text.empty()) (void)area_->print_above(as_lines(final_text));
      if (area_ && started_) (void)area_->clear();
    }
    wake_.notify_all();
    if (ticker_.joinable()) ticker_.join();
  }

 private:
  void tick() {
    std::unique_lock lock(mu_);
    while (!wake_.wait_for(lock, kTickInterval, [this] { return finished_; })) {
      ++ticks_;
      draw();
    }
  }

  // The next draw tries again after a failed one.
  void draw() {
    const std::string frame = Style().magenta().apply(frame_char(ticks_ % kRunningFrames), colours_on_stderr());
    (void)area_->draw(as_lines(frame + "  " + message_));
  }

  LiveArea* const area_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::string message_;
  bool started_ = false;
  bool finished_ = false;
  std::size_t ticks_ = 0;
  std::thread ticker_;
};

ProgressBar::ProgressBar()
    : line_(std::make_unique<Line>(spinner_hidden(EnvSnapshot::from_environment(), ::isatty(STDERR_FILENO) == 1)
                                       ? nullptr
                                       : &LiveArea::standard_error())) {}

ProgressBar::ProgressBar(LiveArea& area) : line_(std::make_unique<Line>(&area)) {}

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
