// playbook_runner.cpp: one ansible-playbook run. Standard output is read on
// the calling thread and coloured by line shape; standard error is copied,
// dimmed, by a reader thread. Both stop when the playbook has ended. Every
// line goes out behind the rail "│  " that continues the prompt kit's left bar.
#include "wizard/playbook_runner.hpp"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "prompt/live_area.hpp"
#include "prompt/signals.hpp"
#include "prompt/style.hpp"
#include "prompt/sys.hpp"
#include "prompt/unicode.hpp"
#include "wizard/environment.hpp"
#include "wizard/process.hpp"
#include "wizard/run_log.hpp"

namespace {

constexpr std::string_view kRail = "│  ";
// The colours of Ansible's line shapes, written whatever the prompt kit's
// colour decision: bold and a colour in one sequence.
const std::string kBold = Style().bold().sequence();
const std::string kDim = Style().dim().sequence();
const std::string kBoldYellow = Style().bold().yellow().sequence();
const std::string kBoldRed = Style().bold().red().sequence();
const std::string kBoldGreen = Style().bold().green().sequence();
const std::string kBoldCyan = Style().bold().cyan().sequence();
const std::string kBoldWhite = Style().bold().fg(Colour::White).sequence();
constexpr std::size_t kReadBuffer = 64 * 1024;
// A read of Ansible's lines grows by about a third once coloured; only the
// pages a batch fills are ever touched.
constexpr std::size_t kBatchReserve = 2 * kReadBuffer;

// The length of the leading run of ASCII bytes, eight at a time.
std::size_t ascii_prefix(std::string_view s) {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + i, 8);
    if (word & 0x8080808080808080u) break;
  }
  while (i < s.size() && static_cast<unsigned char>(s[i]) < 0x80) ++i;
  return i;
}

// Most output is ASCII; the full decoder starts at the first byte that is not,
// which is always the start of a character.
bool valid_utf8(std::string_view line) {
  const std::size_t ascii = ascii_prefix(line);
  return ascii == line.size() || unicode::is_valid_utf8(line.substr(ascii));
}

// The line without its leading white space; ASCII indentation is skipped here,
// anything else by the Unicode-aware trim.
std::string_view indentation_trimmed(std::string_view line) {
  std::size_t i = 0;
  for (; i < line.size(); ++i) {
    const char c = line[i];
    if (c == ' ' || (c >= '\t' && c <= '\r')) continue;
    if (static_cast<unsigned char>(c) >= 0x80) return unicode::trim_start(line.substr(i));
    break;
  }
  return line.substr(i);
}

// The styles a line is printed in: bold first where `bold`, then `colour`.
struct Paint {
  bool bold;
  std::string_view colour;
};

// The rows of the table that look at how the trimmed line starts, in order.
struct PrefixRow {
  std::string_view prefix;
  Paint paint;
};
const PrefixRow kPrefixRows[] = {
    {"PLAY RECAP", {true, kBoldWhite}},  {"PLAY [", {true, kBoldWhite}},   {"PLAY *", {true, kBoldWhite}},
    {"TASK [", {false, kBoldCyan}},      {"ok:", {false, kBoldGreen}},     {"changed:", {false, kBoldYellow}},
    {"failed:", {false, kBoldRed}},      {"fatal:", {false, kBoldRed}},    {"skipping:", {false, kDim}},
    {"unreachable:", {false, kBoldRed}},
};
// The first bytes of those prefixes: most lines start with none of them.
constexpr std::string_view kPrefixStarts = "PTocfsu";

// The paint of the first prefix row that the trimmed line `t` matches.
std::optional<Paint> prefix_paint(std::string_view t) {
  if (t.empty() || kPrefixStarts.find(t.front()) == std::string_view::npos) return std::nullopt;
  for (const PrefixRow& row : kPrefixRows)
    if (t.starts_with(row.prefix)) return row.paint;
  return std::nullopt;
}

// The paint of a standard-output line by its shape alone.
Paint shape_paint(std::string_view line, std::string_view trimmed) {
  if (const auto p = prefix_paint(trimmed)) return *p;
  if (line.find("ok=") != std::string_view::npos && line.find("failed=") != std::string_view::npos)
    return Paint{true, kBoldYellow};
  return Paint{false, kDim};
}

// Appends "│  ", the line in `paint`, reset and a line feed.
void append_painted(std::string& out, std::string_view line, Paint paint) {
  out += kRail;
  if (paint.bold) out += kBold;
  out += paint.colour;
  out += line;
  out += kStyleReset;
  out += '\n';
}

// Standard output, each line coloured by its shape. Ansible spreads the
// result of a failed task over several lines when it is pretty-printed (an
// assert's always is): "fatal: [h]: FAILED! => {", its fields, then "}". The
// whole result keeps the bold red of its first line, so that the message in
// it is red too. A line with a shape of its own ends such a block early.
struct ClassifiedLines {
  bool in_failure = false;

  void operator()(std::string& out, std::string_view line) {
    const std::string_view trimmed = indentation_trimmed(line);
    if (in_failure && !prefix_paint(trimmed)) {
      in_failure = line != "}";
      append_painted(out, line, Paint{false, kBoldRed});
      return;
    }
    in_failure = (trimmed.starts_with("fatal:") || trimmed.starts_with("failed:")) && line.ends_with("=> {");
    append_painted(out, line, shape_paint(line, trimmed));
  }
};

// Standard error: every line dimmed.
struct DimmedLines {
  void operator()(std::string& out, std::string_view line) const { append_painted(out, line, Paint{false, kDim}); }
};

// Copies a stream to `out` line by line. A line is the bytes up to a line
// feed, without it and without a carriage return just before it; the last
// line counts without a line feed (and keeps a final carriage return, which
// no line feed follows). Lines that are empty or not valid UTF-8 are dropped;
// every other line goes out as `append` formats it. The lines completed by
// one read leave in one write, as soon as that read returns.
//
// Each byte is searched for a line feed once: lines that lie whole in the
// read buffer are formatted from it in place, and only a line that a read
// leaves unfinished is kept aside, to be completed by the following reads
// (so a line without a line feed is held whole in memory until it ends).
// The read and output buffers are reused across reads. The output buffer is
// reserved once, large enough for what a read of ordinary output becomes, so
// that it never grows through a trail of freed copies; buffers that one long
// line made larger are given back once it has gone out.
template <class Append>
class LineCopier {
 public:
  LineCopier(Stream out, Append append) : out_(out), append_(std::move(append)), buf_(new char[kReadBuffer]) {
    batch_.reserve(kBatchReserve);
  }

  /// Reads once, at most `most` bytes, from `in` and writes the lines it
  /// completes; the bytes read, 0 at the end of the stream, -1 on an error.
  ssize_t read_from(int in, std::size_t most) {
    const ssize_t n = sys::retry_eintr([&] { return ::read(in, buf_.get(), std::min(most, kReadBuffer)); });
    if (n <= 0) return n;
    const char* p = buf_.get();
    const char* const end = p + n;
    while (p < end) {
      const auto* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
      if (!nl) {
        pending_.append(p, end);
        break;
      }
      if (pending_.empty()) {
        deliver(std::string_view(p, static_cast<std::size_t>(nl - p)), true);
      } else {
        pending_.append(p, nl);
        deliver(pending_, true);
        pending_.clear();
        if (pending_.capacity() > kReadBuffer) std::string().swap(pending_);
      }
      p = nl + 1;
    }
    flush();
    return n;
  }

  /// Writes the last line, which no line feed ended.
  void finish() {
    if (!pending_.empty()) deliver(pending_, false);
    pending_.clear();
    flush();
  }

 private:
  void deliver(std::string_view line, bool ended_by_lf) {
    if (ended_by_lf && line.ends_with('\r')) line.remove_suffix(1);
    if (line.empty() || !valid_utf8(line)) return;
    append_(batch_, line);
  }

  // Through the live area, which keeps lines of one stream whole and in order.
  void flush() {
    if (!batch_.empty()) (void)LiveArea::standard_error().print_above(batch_, out_);
    batch_.clear();
    if (batch_.capacity() > kBatchReserve) {
      std::string().swap(batch_);
      batch_.reserve(kBatchReserve);
    }
  }

  Stream out_;
  Append append_;
  std::unique_ptr<char[]> buf_;
  std::string pending_, batch_;
};

// Without a pidfd, how often a reader looks whether the child has ended.
constexpr int kEndedCheckMs = 100;

// Copies `in` until its end or until `child` has ended. Once the child has
// ended, only what the pipe already holds is copied: a program the playbook
// left running may hold the pipe open for good, and whatever it writes later
// is not the playbook's.
template <class Append>
void copy_until_ended(int in, LineCopier<Append>& copier, const Child& child) {
  const sys::Fd watch = child.exit_watch();
  pollfd fds[2] = {{in, POLLIN, 0}, {watch.get(), POLLIN, 0}};
  for (;;) {
    fds[0].revents = fds[1].revents = 0;
    if (sys::retry_eintr([&] { return ::poll(fds, 2, watch ? -1 : kEndedCheckMs); }) < 0) break;
    if (fds[0].revents != 0 && copier.read_from(in, kReadBuffer) <= 0) break;
    if (watch ? fds[1].revents != 0 : child.ended()) {
      int queued = 0;
      if (::ioctl(in, FIONREAD, &queued) != 0) queued = 0;
      for (auto left = static_cast<std::size_t>(queued); left > 0;) {
        const ssize_t n = copier.read_from(in, left);
        if (n <= 0) break;
        left -= static_cast<std::size_t>(n);
      }
      break;
    }
  }
  copier.finish();
}

}  // namespace

Result<void> run_playbook(const std::string& playbook, const std::string& inventory, const std::string& vars,
                          const std::string& project_root, bool preview) {
  SpawnOptions options;
  options.argv = {"ansible-playbook",      unicode::lossy(playbook), "-i", unicode::lossy(inventory),
                  "--extra-vars", "@" + unicode::lossy(vars)};
  if (preview) options.argv.insert(options.argv.end(), {"--check", "--diff"});
  options.cwd = project_root;
  options.env = {{"PYTHONUNBUFFERED", "1"}};
  RunLog log = prepare_run_log();
  for (auto& added : log.env) options.env.push_back(std::move(added));
  if (!log.refused_folder.empty()) {
    std::string said;
    append_painted(said, "Running without a log: " + unicode::lossy(log.refused_folder) +
                   " is not a folder of yours that only you can write to.", Paint{false, kBoldYellow});
    (void)LiveArea::standard_error().print_above(said);
  }
  options.out = Stdio::Pipe;
  options.err = Stdio::Pipe;

  auto child = Child::spawn(options);
  if (!child) return fail(std::move(child).error().context("Failed to spawn ansible-playbook process"));

  // Standard error on a thread of its own, joined before the result: nothing
  // of this run is written after run_playbook returns.
  const sys::Fd err_fd = child->take_stderr();
  const sys::Fd out_fd = child->take_stdout();
  std::thread err_reader;
  if (err_fd) {
    try {
      err_reader = std::thread([&] {
        LineCopier err(Stream::Terminal, DimmedLines{});
        copy_until_ended(err_fd.get(), err, *child);
      });
    } catch (const std::system_error& e) {
      signal_guard::fatal(std::string("failed to spawn thread: ") + e.what());
    }
  }
  if (out_fd) {
    LineCopier out(Stream::Output, ClassifiedLines{});
    copy_until_ended(out_fd.get(), out, *child);
  }
  if (err_reader.joinable()) err_reader.join();

  auto status = child->wait();
  if (!status) return fail(std::move(status).error());
  if (!status->success()) return fail("Playbook failed during execution.");
  return {};
}
