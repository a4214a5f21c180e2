// bench.cpp: the wizard's speed figures, each measured side by side with its
// yardstick in the same run and printed with its goal. Lower is better for
// every figure.
//
//   start   fork to the first complete command-menu frame in a 100x40
//           pseudo-terminal, against /bin/true forked the same way
//   runner  1,000,000 Ansible-like lines through run_playbook into a file,
//           against the C colourer of the same table (and cat | cat)
//   rss     peak RSS at the phase menu, and after streaming 1,000,000 lines
//   key     key to end of redraw on the phase menu, against a raw echo
//   line    one line without a line feed of 10, 50 and 100 MB
//   paste   64K characters pasted into a text prompt, until drawn
//
// Usage: wizard_bench WIZARD COLOURER [ROUNDS]
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "wizard/playbook_runner.hpp"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

int failures = 0;

// One figure, its goal, and whether it met it.
void report(const std::string& name, double value, const std::string& unit, double goal, const std::string& note) {
  const bool pass = value <= goal;
  if (!pass) ++failures;
  std::printf("%-34s %10.3f%-4s goal <= %-8.3g %-4s  %s\n", name.c_str(), value, unit.c_str(), goal,
              pass ? "pass" : "MISS", note.c_str());
  std::fflush(stdout);
}

void info(const std::string& name, const std::string& text) {
  std::printf("%-34s %s\n", name.c_str(), text.c_str());
  std::fflush(stdout);
}

std::string fmt(const char* f, double a, double b = 0, double c = 0, double d = 0) {
  char buf[256];
  std::snprintf(buf, sizeof buf, f, a, b, c, d);
  return buf;
}

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const fs::path& p, const std::string& text, fs::perms mode = fs::perms::owner_read | fs::perms::owner_write) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
  fs::permissions(p, mode);
}

// ---------------------------------------------------------------------------
// A user's world: HOME with one SSH host and a complete repository cache, a
// bin directory with git and a stand-in ansible-playbook that prints the file
// named by TERVANE_BENCH_STREAM (its first TERVANE_BENCH_BYTES bytes if set).

struct World {
  fs::path dir, home, bin, tmp;
  std::map<std::string, std::string> env;

  World() {
    char tmpl[] = "/tmp/tervane-bench-XXXXXX";
    dir = mkdtemp(tmpl);
    home = dir / "home";
    bin = dir / "bin";
    tmp = dir / "tmp";
    fs::create_directories(tmp);
    write_file(home / ".ssh/config", "Host arch\n  HostName 10.9.8.7\n  User installer\n  IdentityFile ~/.ssh/arch_key\n");
    write_file(home / ".ssh/arch_key", "not a key\n");
    for (const char* name : {"configs", "wallpapers"}) fs::create_directories(home / "temp/.tervane-bootstrap" / name / ".git");
    write_file(bin / "ansible-playbook",
               "#!/bin/sh\n"
               "[ -n \"$TERVANE_BENCH_BYTES\" ] && exec head -c \"$TERVANE_BENCH_BYTES\" \"$TERVANE_BENCH_STREAM\"\n"
               "[ -n \"$TERVANE_BENCH_STREAM\" ] && exec cat \"$TERVANE_BENCH_STREAM\"\n"
               "exit 0\n",
               fs::perms::owner_all);
    fs::create_symlink("/usr/bin/git", bin / "git");
    env = {{"HOME", home.string()}, {"PATH", bin.string() + ":/usr/bin:/bin"}, {"TMPDIR", tmp.string()},
           {"TERM", "xterm-256color"}, {"LANG", "C.UTF-8"}, {"USER", "bench"}};
  }
  ~World() { fs::remove_all(dir); }
};

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// ---------------------------------------------------------------------------
// A program on a pseudo-terminal of 100x40.

class Pty {
 public:
  // Forks; the child runs `child` (which must not return) on the terminal.
  explicit Pty(const std::function<void()>& child) {
    winsize ws{};
    ws.ws_col = 100;
    ws.ws_row = 40;
    pid_ = forkpty(&master_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      child();
      _exit(127);
    }
    if (pid_ < 0) {
      std::perror("forkpty");
      std::exit(2);
    }
  }
  ~Pty() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  static std::function<void()> exec(std::vector<std::string> argv, std::map<std::string, std::string> env,
                                    std::string stdout_path = {}) {
    return [=]() mutable {
      if (!stdout_path.empty()) {
        const int fd = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        close(fd);
      }
      std::vector<std::string> envs;
      for (const auto& [k, v] : env) envs.push_back(k + "=" + v);
      auto a = c_strings(argv);
      auto e = c_strings(envs);
      execve(a[0], a.data(), e.data());
    };
  }

  pid_t pid() const { return pid_; }
  std::string& output() { return out_; }

  // Reads until `needle` appears at or after `from`; returns its end, or
  // npos on end of output or after `timeout` seconds.
  // The end of the next complete frame at or after `from`.
  std::size_t frame_end(std::size_t from, double timeout = 20);

  std::size_t until(std::string_view needle, std::size_t from = 0, double timeout = 20) {
    const auto t0 = Clock::now();
    for (;;) {
      const std::size_t at = out_.find(needle, from);
      if (at != std::string::npos) return at + needle.size();
      // Only the bytes still to come can complete it.
      if (out_.size() >= needle.size()) from = std::max(from, out_.size() - needle.size() + 1);
      const double left = timeout - seconds_since(t0);
      if (left <= 0 || !pump(static_cast<int>(left * 1000) + 1)) return std::string::npos;
    }
  }
  // Reads what comes within `ms`; false at end of output or on timeout.
  bool pump(int ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return false;
    char buf[65536];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return false;
    out_.append(buf, static_cast<std::size_t>(n));
    return true;
  }
  void send(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = write(master_, bytes.data(), bytes.size());
      if (n <= 0) return;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  // Writes `bytes` while reading, so that neither side can block the other;
  // returns when all is written.
  void send_reading(std::string_view bytes) {
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    while (!bytes.empty()) {
      pollfd p{master_, POLLIN | POLLOUT, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      if (p.revents & POLLIN) pump(0);
      if (p.revents & POLLOUT) {
        const ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n > 0) bytes.remove_prefix(static_cast<std::size_t>(n));
      }
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) & ~O_NONBLOCK);
  }
  // Waits for the child to end; its exit status.
  int wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string out_;
};

// The footer bar that ends every select and text frame, coloured or not
// (the kit's colours follow standard output, which some runs send to a file).
constexpr std::string_view kFooter = "\xe2\x94\x94  ";
std::size_t Pty::frame_end(std::size_t from, double timeout) {
  const std::size_t at = until(kFooter, from, timeout);
  return at == std::string::npos ? at : until("\r\n", at, timeout);
}

constexpr std::string_view kCommandMenu = "Select a global command to continue:";
constexpr std::string_view kPhaseMenu = "Select a standalone playbook phase to execute:";
constexpr std::string_view kDown = "\x1b[B";
constexpr std::string_view kUp = "\x1b[A";

// The wizard driven from start to the end of the phase menu's first frame;
// false if it did not get there.
bool to_phase_menu(Pty& tty) {
  const char* const steps[][2] = {{"Select a global command to continue:", "\r"},
                                  {"Select target Arch workstation from SSH Config:", "\r"},
                                  {"Cached repositories detected locally:", "\r"},
                                  {"Target username to create/setup on Arch:", "maria\r"},
                                  {"Target user password:", "pw\r"},
                                  {"Remote administrator sudo password (to become root):", "pw\r"},
                                  {"Choose execution mode:", "\x1b[B"}};
  std::size_t at = 0;
  for (const auto& [prompt, keys] : steps) {
    if ((at = tty.until(prompt, at)) == std::string::npos || (at = tty.frame_end(at)) == std::string::npos)
      return false;
    tty.send(keys);
  }
  if ((at = tty.frame_end(at)) == std::string::npos) return false;  // the down move drawn
  tty.send("\r");
  return tty.until(kPhaseMenu, at) != std::string::npos && tty.frame_end(tty.until(kPhaseMenu, at)) != std::string::npos;
}

// A KiB figure of /proc/PID/status, such as "VmHWM:" (the peak RSS).
double status_kib(pid_t pid, std::string_view field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(field)) return std::stod(line.substr(field.size()));
  return -1;
}

// ---------------------------------------------------------------------------

void bench_start(const World& w, const std::string& wizard, int rounds) {
  std::vector<double> ratios, wiz_s, true_s;
  for (int r = 0; r < rounds; ++r) {
    double tw = 0, tt = 0;
    for (int k = 0; k < 2; ++k) {
      if ((k == 0) == (r % 2 == 0)) {
        const auto t0 = Clock::now();
        Pty tty(Pty::exec({"/bin/true"}, w.env));
        tty.wait();
        tt = seconds_since(t0);
      } else {
        const auto t0 = Clock::now();
        Pty tty(Pty::exec({wizard}, w.env));
        const std::size_t at = tty.until(kCommandMenu);
        if (at == std::string::npos || tty.frame_end(at) == std::string::npos) {
          info("start", "no command menu frame");
          ++failures;
          return;
        }
        tw = seconds_since(t0);
      }
    }
    if (std::getenv("TERVANE_BENCH_VERBOSE")) std::printf("  round %d: wizard %.3f ms, /bin/true %.3f ms\n", r, tw * 1e3, tt * 1e3);
    ratios.push_back(tw / tt);
    wiz_s.push_back(tw);
    true_s.push_back(tt);
  }
  report("start / /bin/true", median(ratios), "x", 1.2,
         fmt("median of %g alternated rounds; wizard %.2f ms, /bin/true %.2f ms", rounds, median(wiz_s) * 1e3,
             median(true_s) * 1e3));
}

// The Ansible-like stream: every row of the table, indentation, CRLF, empty
// lines and invalid UTF-8, in a mix that averages about 61 bytes a line.
std::string ansible_lines(int count) {
  const char* const shapes[] = {
      "TASK [base : Install the core packages] ************************************",
      "ok: [workstation] => (item=fish)",
      "changed: [workstation] => (item=hyprland)",
      "skipping: [workstation] => (item=bluetooth)",
      "  some plain detail line of moderate length for the dim row of output",
      "PLAY [workstation] ***********************************************************",
      "workstation : ok=12 changed=3 unreachable=0 failed=0 skipped=1 rescued=0",
      "fatal: [workstation]: FAILED! => {\"changed\": false, \"msg\": \"boom\"}\r",
      "\u00a0 ok: [workstation] indented by Unicode white space",
      "",
      "included: roles/base/tasks/fonts.yml for workstation",
      "bad bytes \xff\xfe in a line that is dropped",
      "PLAY RECAP *******************************************************************",
      "unreachable: [w]",
      "    \"msg\": \"All items completed — résumé\"",
      "failed: [workstation] (item=x)",
  };
  std::string out;
  out.reserve(static_cast<std::size_t>(count) * 64);
  for (int i = 0; i < count; ++i) {
    out += shapes[i % (sizeof shapes / sizeof *shapes)];
    out += '\n';
  }
  return out;
}

// Runs run_playbook in a child process with standard output to `out`; the
// wall time until it ends.
double time_runner(const World& w, const fs::path& stream, const std::string& out, const char* bytes = nullptr) {
  const auto t0 = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    for (const auto& [k, v] : w.env) setenv(k.c_str(), v.c_str(), 1);
    setenv("TERVANE_BENCH_STREAM", stream.c_str(), 1);
    if (bytes) setenv("TERVANE_BENCH_BYTES", bytes, 1);
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
    const auto r = run_playbook("play.yml", "hosts.ini", "vars.json", w.dir.string());
    _exit(r ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return seconds_since(t0);
}

// Runs `a` | `b` > out with `a`'s input from `in`; the wall time until both end.
double time_pipeline(const std::vector<std::string>& a, const std::vector<std::string>& b, const fs::path& in,
                     const std::string& out) {
  const auto t0 = Clock::now();
  int p[2];
  if (pipe(p) != 0) return -1;
  auto start = [](std::vector<std::string> argv, int fd_in, int fd_out, int other) {
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(fd_in, STDIN_FILENO);
      dup2(fd_out, STDOUT_FILENO);
      close(fd_in);
      close(fd_out);
      close(other);
      auto args = c_strings(argv);
      execvp(args[0], args.data());
      _exit(127);
    }
    return pid;
  };
  const int fin = open(in.c_str(), O_RDONLY);
  const int fout = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t pa = start(a, fin, p[1], p[0]);
  const pid_t pb = start(b, p[0], fout, p[1]);
  close(p[0]);
  close(p[1]);
  close(fin);
  close(fout);
  waitpid(pa, nullptr, 0);
  waitpid(pb, nullptr, 0);
  return seconds_since(t0);
}

void bench_runner(const World& w, const std::string& colourer, int rounds) {
  const fs::path data = w.dir / "stream.txt";
  write_file(data, ansible_lines(1000000));
  const std::string out_runner = (w.dir / "runner.out").string(), out_c = (w.dir / "c.out").string(),
                    out_cat = (w.dir / "cat.out").string();
  std::vector<double> ratios, floor_ratios, c_floor, tr, tc;
  for (int r = 0; r < rounds; ++r) {
    double t_runner = 0, t_c = 0, t_cat = 0;
    for (int k = 0; k < 3; ++k) switch ((k + r) % 3) {
        case 0: t_runner = time_runner(w, data, out_runner); break;
        case 1: t_c = time_pipeline({"cat"}, {colourer}, data, out_c); break;
        default: t_cat = time_pipeline({"cat"}, {"cat"}, data, out_cat); break;
      }
    ratios.push_back(t_runner / t_c);
    floor_ratios.push_back(t_runner / t_cat);
    c_floor.push_back(t_c / t_cat);
    tr.push_back(t_runner);
    tc.push_back(t_c);
  }
  const std::string a = read_file(out_runner), b = read_file(out_c);
  const bool same = a == b && !a.empty();
  if (!same) ++failures;
  info("runner output vs C colourer", same ? fmt("byte-identical, %.1f MB from %.1f MB of input", a.size() / 1e6,
                                                 static_cast<double>(fs::file_size(data)) / 1e6)
                                           : "DIFFERENT (MISS)");
  report("runner / C colourer, 1M lines", median(ratios), "x", 1.0,
         fmt("runner %.0f ms, C %.0f ms (median of %g rounds)", median(tr) * 1e3, median(tc) * 1e3, rounds));
  info("runner / cat|cat (floor)", fmt("%.2fx; C colourer / cat|cat %.2fx", median(floor_ratios), median(c_floor)));
}

// Peak RSS at the phase menu after 20 keys, and after a phase run that
// streamed `lines` lines into a file against one that printed nothing.
// While alive: this process on the first allowed processor, `a` and `b` on
// the second (nothing changes on a single processor); then back as before.
class Affinity {
 public:
  Affinity(pid_t a, pid_t b) {
    if (sched_getaffinity(0, sizeof saved_, &saved_) != 0 || CPU_COUNT(&saved_) < 2) return;
    int cpus[2], n = 0;
    for (int c = 0; c < CPU_SETSIZE && n < 2; ++c)
      if (CPU_ISSET(c, &saved_)) cpus[n++] = c;
    cpu_set_t here, there;
    CPU_ZERO(&here);
    CPU_SET(cpus[0], &here);
    CPU_ZERO(&there);
    CPU_SET(cpus[1], &there);
    pinned_ = sched_setaffinity(0, sizeof here, &here) == 0;
    (void)sched_setaffinity(a, sizeof there, &there);
    (void)sched_setaffinity(b, sizeof there, &there);
  }
  ~Affinity() {
    if (pinned_) (void)sched_setaffinity(0, sizeof saved_, &saved_);
  }
  Affinity(const Affinity&) = delete;
  Affinity& operator=(const Affinity&) = delete;

 private:
  cpu_set_t saved_{};
  bool pinned_ = false;
};

void bench_rss_and_keys(const World& w, const std::string& wizard, int key_rounds) {
  {
    Pty tty(Pty::exec({wizard}, w.env));
    if (!to_phase_menu(tty)) {
      info("rss", "no phase menu");
      ++failures;
      return;
    }
    // Down to the last of the 11 rows and back up, so that every key moves
    // the cursor and redraws (an unchanged frame is not written).
    int keys = 0;
    auto next_key = [&keys] { return (keys++ / 10) % 2 ? kUp : kDown; };
    std::size_t at = tty.output().size();
    for (int i = 0; i < 20 && at != std::string::npos; ++i) {
      tty.send(next_key());
      at = tty.frame_end(at);
    }
    if (at == std::string::npos) {
      info("rss", "a key was not redrawn (MISS)");
      ++failures;
      return;
    }
    report("peak RSS at the phase menu", status_kib(tty.pid(), "VmHWM:") / 1024, "MiB", 2.999, "VmHWM after 20 keys");

    // Key to end of redraw against the least a program can do with a key: a
    // raw-mode echo that reads it and writes it back. The terminal's own echo
    // needs no program to wake up, so beside it the figure measures mostly
    // how soon an idle processor wakes (from 20 to 65 us here, run to run).
    Pty echo([] {
      termios t;
      tcgetattr(STDIN_FILENO, &t);
      cfmakeraw(&t);
      tcsetattr(STDIN_FILENO, TCSANOW, &t);
      (void)!write(STDOUT_FILENO, "ready", 5);
      char key[64];
      for (ssize_t n; (n = read(STDIN_FILENO, key, sizeof key)) > 0;)
        if (write(STDOUT_FILENO, key, static_cast<std::size_t>(n)) != n) break;
      _exit(0);
    });
    std::size_t eat = echo.until("ready");
    // The key's sender on one processor and the programs that answer on
    // another, as a terminal and the wizard run on a machine with a core to
    // spare. Left to the scheduler, they land together in some runs and
    // apart in others, and the figure flips between the two.
    const Affinity apart(tty.pid(), echo.pid());
    std::vector<double> ratios, tk, te;
    for (int r = 0; r < key_rounds && at != std::string::npos && eat != std::string::npos; ++r) {
      double t_key = 0, t_echo = 0;
      const std::string_view key = next_key();
      for (int k = 0; k < 2; ++k) {
        if ((k == 0) == (r % 2 == 0)) {
          const auto t0 = Clock::now();
          tty.send(key);
          at = tty.frame_end(at, 5);
          t_key = seconds_since(t0);
        } else {
          const auto t0 = Clock::now();
          echo.send(key);
          eat = echo.until(key, eat, 5);
          t_echo = seconds_since(t0);
        }
      }
      ratios.push_back(t_key / t_echo);
      tk.push_back(t_key);
      te.push_back(t_echo);
    }
    if (at == std::string::npos || eat == std::string::npos) {
      info("key to redraw", "a key was not answered (MISS)");
      ++failures;
      return;
    }
    report("key to redraw / raw-mode echo", median(ratios), "x", 1.5,
           fmt("11-row phase menu, sender and receiver on two processors, median of %g rounds; key %.1f us, echo %.1f us", key_rounds, median(tk) * 1e6,
               median(te) * 1e6));
  }

  // After a phase that printed nothing, and after one that streamed 1M lines,
  // alternated; the median of five of each. Most of the peak is program text
  // mapped from the page cache, and how much of it a run maps varies by
  // about 150 KiB from one process to the next; the anonymous memory, which
  // is what streaming could grow, is shown beside it.
  const fs::path data = w.dir / "stream.txt";  // written by bench_runner
  constexpr int kRuns = 5;
  std::vector<double> runs[2], anon[2];
  for (int round = 0; round < 2 * kRuns; ++round) {
    const int k = round % 2;
    auto env = w.env;
    if (k == 1) env["TERVANE_BENCH_STREAM"] = data.string();
    Pty tty(Pty::exec({wizard}, env, (w.dir / "wizard.out").string()));
    std::size_t at;
    if (!to_phase_menu(tty)) break;
    tty.send("\r");  // 00-preflight
    if ((at = tty.until("completed successfully!", 0, 120)) == std::string::npos ||
        (at = tty.until(kPhaseMenu, at)) == std::string::npos || tty.frame_end(at) == std::string::npos)
      break;
    runs[k].push_back(status_kib(tty.pid(), "VmHWM:"));
    anon[k].push_back(status_kib(tty.pid(), "RssAnon:"));
  }
  const auto median_of_all = [](const std::vector<double>& v) { return v.size() == kRuns ? median(v) : 0; };
  const double hwm[2] = {median_of_all(runs[0]), median_of_all(runs[1])};
  if (hwm[0] <= 0 || hwm[1] <= 0) {
    info("rss after streaming", "phase run did not come back to the menu (MISS)");
    ++failures;
    return;
  }
  report("peak RSS after 1M lines / none", hwm[1] / hwm[0], "x", 1.10,
         fmt("median of 5: %.2f MiB after streaming, %.2f MiB after a run with no output; anonymous %.0f KiB and %.0f KiB",
             hwm[1] / 1024, hwm[0] / 1024, median(anon[1]), median(anon[0])));
}

// One line without a line feed through the runner: time must grow linearly.
void bench_long_line(const World& w) {
  const fs::path data = w.dir / "long.txt";
  {
    std::ofstream out(data, std::ios::binary);
    const std::string block(1 << 20, 'x');
    for (int i = 0; i < 100; ++i) out << block;
  }
  double t[3];
  const int mb[3] = {10, 50, 100};
  for (int i = 0; i < 3; ++i)
    t[i] = time_runner(w, data, "/dev/null", std::to_string(mb[i] << 20).c_str());
  info("one line, no line feed", fmt("10 MB %.2f s, 50 MB %.2f s, ", t[0], t[1]) + fmt("100 MB %.2f s", t[2]));
  report("100 MB line per MB / 10 MB's", (t[2] / 100) / (t[0] / 10), "x", 2.0,
         "linear is 1x; the old rescan was about 15x");
  fs::remove(data);
}

// 64K characters sent at once into the username prompt, until the frame
// holding the last of them is drawn.
void bench_paste(const World& w, const std::string& wizard) {
  Pty tty(Pty::exec({wizard}, w.env));
  const char* const steps[][2] = {{"Select a global command to continue:", "\r"},
                                  {"Select target Arch workstation from SSH Config:", "\r"},
                                  {"Cached repositories detected locally:", "\r"}};
  std::size_t at = 0;
  for (const auto& [prompt, keys] : steps) {
    at = tty.until(prompt, at);
    at = tty.frame_end(at);
    if (at == std::string::npos) break;
    tty.send(keys);
  }
  if (at == std::string::npos || (at = tty.until("Target username to create/setup on Arch:", at)) == std::string::npos ||
      (at = tty.frame_end(at)) == std::string::npos) {
    info("paste", "no text prompt (MISS)");
    ++failures;
    return;
  }
  const std::string paste = std::string(65536 - 5, 'a') + "ZQEND";
  const auto t0 = Clock::now();
  tty.send_reading(paste);
  at = tty.until("ZQEND", at, 30);
  if (at != std::string::npos) at = tty.frame_end(at, 30);
  const double t = at == std::string::npos ? 1e9 : seconds_since(t0);
  report("64K paste into a text prompt", t, "s", 1.0, at == std::string::npos ? "not drawn within 60 s" : "until the frame with its end is drawn");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s WIZARD COLOURER [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string wizard = fs::absolute(argv[1]).string(), colourer = fs::absolute(argv[2]).string();
  const int rounds = argc > 3 ? std::max(20, std::atoi(argv[3])) : 31;
  signal(SIGPIPE, SIG_IGN);
  World world;
  std::printf("%-34s %14s %-13s %s\n", "figure (lower is better)", "value", "goal", "");
  bench_start(world, wizard, rounds);
  if (std::getenv("TERVANE_BENCH_START_ONLY")) return 0;
  bench_runner(world, colourer, 5);
  bench_rss_and_keys(world, wizard, 200);
  bench_long_line(world);
  bench_paste(world, wizard);
  std::printf("%s\n", failures ? "some goals missed" : "all goals met");
  return failures ? 1 : 0;
}
